// The fault matrix of the workmodes that change a device under its
// fallback timer: the configuration upload (Config, ConfigAll, Certs,
// BootFac), the firmware (Image) and both in one job (All). Besides the
// promises of every cell, a job that armed the timer ends having sent the
// reboot, or saying in its log that the device will restart by itself.
//
// The upload's dialogue differs per workmode on a NEXA device (the
// certificate tables, the certificates, the copy of the old boot
// configuration, the factory boot configuration) and per transfer on a
// qx.CLI device (the boot file's name, the factory default file): one cell
// each. qx.CLI devices have no fallback timer; their cells check the reboot.
#include "tests/e2e/FaultMatrix.h"
#include "tests/e2e/UploadFixture.h"
#include "tests/image/ImageBuilder.h"

using testsupport::contains;
using namespace faultmatrix;

namespace {

class FaultMatrixArmed : public FaultMatrix {
protected:
    void SetUp() override {
        FaultMatrix::SetUp();
        // "All" logs in again after the firmware's reboot: 2 seconds (the
        // scaled 40) for the device to come back.
        settings.rebootTime = "40";
        setup.writeSettings(settings);
        writeUploadTemplates(setup);
    }

    // A router whose configuration is built from the template, with its
    // certificate file (empty: no certificates) and, when release is
    // given, a software release of one system image.
    unsigned long startRouter(const std::string& family, const std::string& conntype, std::vector<std::string> options,
                              const std::string& certificate = "", bool release = false, int nexaRevision = 3) {
        if (family == "nexa") device.sim.writeStateFile("variables", kNexaRev2Variables);
        if (family == "qxcli") device.sim.writeStateFile("bootfile", "SITE7\n");
        std::map<std::string, std::string> columns{
            {"name", "gw-essen"}, {"configtype", "Template"}, {"globalmaster", "upload.tmpl"}};
        if (release) {
            addRelease(family, nexaRevision);
            columns["softwareimage"] = "R1";
        }
        unsigned long id = startDevice(family, conntype, options, columns);
        testsupport::writeFile(setup.transferDir() + certFile(id), certificate);
        return id;
    }

    // The NEXA system image is V.7.10 of the revision given; the device
    // runs revision 2.
    void addRelease(const std::string& family, int nexaRevision) {
        const std::string model = family == "nexa" ? "NX-1" : "QX-1";
        std::string image;
        if (family == "nexa") {
            image = imagebuilder::nexaSystemImage(static_cast<uint8_t>(nexaRevision));
        } else {
            image = "QXCLI-IMAGE 10.3.1\n" + std::string(9000, 's');
        }
        testsupport::makeDirs(setup.transferDir() + "images/" + model);
        testsupport::writeFile(setup.transferDir() + "images/" + model + "/sys.img", image);
        setup.db.exec("INSERT INTO cordal_swrelease (name, routertype, nexa) VALUES ('R1', '" + model +
                      "', 'sys.img')");
    }

    // The job sent its reboot command after the fault.
    void expectRebootSent() {
        const std::string later = device.sim.transcript().substr(faultMark);
        const char* reboot = family_ == "nexa" ? "<<< cmd=reboot" : "restart yes";
        EXPECT_TRUE(contains(later, reboot)) << later;
    }

    // The connection was gone: the log says that the armed timer restarts
    // the device, and when.
    void expectRestartsByItself(const JobRun& run, const std::string& seconds) {
        EXPECT_TRUE(contains(
            run.log, "INF - The device will restart by itself within " + seconds + " seconds (auto-fallback-reboot)."))
            << run.log;
    }
};

// --- Config, ConfigAll, Certs, BootFac on NEXA devices ---

// The device takes the timer and the line drops before its confirmation:
// the job cannot know the timer is armed, but must not leave it unsaid.
TEST_F(FaultMatrixArmed, ConfigTimerConfirmationCutNexaTelnet) {
    settings.configRestoreTimeoutConfig = "5";
    setup.writeSettings(settings);
    unsigned long router = startRouter("nexa", "Telnet", {"--close-mid-reply", "tmibAdmConfigCmd"});
    JobRun run = cell(router, "Config", "Missing reply");
    expectRestartsByItself(run, "5");
    EXPECT_TRUE(device.sim.waitForTranscript("fallback timer ran out", 60000)) << device.sim.transcript();
}

TEST_F(FaultMatrixArmed, ConfigCertificateCutMidReplyNexaSsh) {
    unsigned long router = startRouter("nexa", "SSH", {"--close-mid-reply", "cert get -f"}, "not a PKCS#12 file");
    JobRun run = cell(router, "Config", "Bad cert-file");
    expectRestartsByItself(run, "600");
    EXPECT_FALSE(contains(device.sim.transcript(), "<<< configd move")) << "nothing was activated";
}

TEST_F(FaultMatrixArmed, ConfigAllSilentBeforeActivatingNexaTelnet) {
    unsigned long router = startRouter("nexa", "Telnet", {"--silent-after", "configd move"});
    cell(router, "ConfigAll", "Missing prompt", [&](pid_t) { awaitDevice(kSilent); });
    expectRebootSent();
}

TEST_F(FaultMatrixArmed, CertsDeviceRestartedNexaSsh) {
    unsigned long router = startRouter("nexa", "SSH", {"--silent-after", "configd copy boot opb_tmp"});
    JobRun run = cell(router, "Certs", "Missing prompt", restartOnSilence());
    expectRestartsByItself(run, "600");
}

TEST_F(FaultMatrixArmed, BootFacSshClientKilledNexa) {
    unsigned long router = startRouter("nexa", "SSH", {"--silent-after", "configd get"});
    JobRun run = cell(router, "BootFac", "Bad file-transfer", killClientOnSilence());
    expectRestartsByItself(run, "600");
}

// The reboot command gets no answer from the device: it may never have
// arrived, so the armed timer is what restarts the device, and the log says
// so.
TEST_F(FaultMatrixArmed, ConfigRebootUnconfirmedNexaTelnet) {
    settings.configRestoreTimeoutConfig = "5";
    setup.writeSettings(settings);
    unsigned long router = startRouter("nexa", "Telnet", {"--silent-after", "cmd=reboot"});
    setup.addJob(7, router, "Config");
    JobRun run = runJob(setup, 7);
    EXPECT_TRUE(contains(device.sim.transcript(), "<<< cmd=reboot")) << device.sim.transcript();
    EXPECT_TRUE(contains(run.log, "ERR - Missing '>' prompt!")) << run.log;
    expectRestartsByItself(run, "5");
    EXPECT_TRUE(device.sim.waitForTranscript("fallback timer ran out", 60000)) << device.sim.transcript();
}

// --- Config and BootFac on qx.CLI devices (no timer: the reboot) ---

TEST_F(FaultMatrixArmed, ConfigRenameCutQxCliSsh) {
    unsigned long router = startRouter("qxcli", "SSH", {"--close-mid-reply", "rename /MEM/SITE7.CFG"});
    cell(router, "Config", "Bad file-renaming", [&](pid_t) { awaitDevice("fault: connection dropped"); });
    expectRebootSent();
    EXPECT_EQ(device.sim.readStateFile("fs/DSK/SITE7.CFG"), "") << "the boot file was not replaced";
}

TEST_F(FaultMatrixArmed, BootFacSftpClientKilledQxCliTelnet) {
    unsigned long router = startRouter("qxcli", "Telnet", {"--silent-after", "open /MEM/CONFIG.DEF"});
    cell(router, "BootFac", "Bad file-transfer", killClientOnSilence("sftp"));
    expectRebootSent();
}

// --- Image ---

TEST_F(FaultMatrixArmed, ImageCutMidReplyNexaTelnet) {
    settings.configRestoreTimeoutImage = "5";
    setup.writeSettings(settings);
    unsigned long router = startRouter("nexa", "Telnet", {"--close-mid-reply", "update"}, "", true);
    JobRun run = cell(router, "Image", "SW-update failed");
    expectRestartsByItself(run, "5");
    EXPECT_TRUE(device.sim.waitForTranscript("fallback timer ran out", 60000)) << device.sim.transcript();
}

// The device already runs the image: nothing to restart for, the timer is
// flushed, and the line drops in the middle of the flush.
TEST_F(FaultMatrixArmed, ImageTimerFlushCutNexaSsh) {
    unsigned long router =
        startRouter("nexa", "SSH", {"--close-mid-reply", "tmibAdmConfigTimeout.1.1=-1"}, "", true, 2);
    JobRun run = cell(router, "Image", "Missing prompt");
    EXPECT_TRUE(contains(device.sim.transcript(), "Software is identical")) << device.sim.transcript();
    expectRestartsByItself(run, "600");
}

TEST_F(FaultMatrixArmed, ImageSshClientKilledNexa) {
    unsigned long router = startRouter("nexa", "SSH", {"--silent-after", "update"}, "", true);
    JobRun run = cell(router, "Image", "SW-update failed", killClientOnSilence());
    expectRestartsByItself(run, "600");
}

TEST_F(FaultMatrixArmed, ImageSftpClientKilledQxCliSsh) {
    unsigned long router = startRouter("qxcli", "SSH", {"--silent-after", "open /MEM/SYS.IMG"}, "", true);
    cell(router, "Image", "Bad file-transfer", killClientOnSilence("sftp"));
    expectRebootSent();
}

TEST_F(FaultMatrixArmed, ImageDeviceRestartedQxCliTelnet) {
    unsigned long router = startRouter("qxcli", "Telnet", {"--silent-after", "no check version"}, "", true);
    cell(router, "Image", "Missing prompt", restartOnSilence());
    EXPECT_FALSE(contains(device.sim.transcript(), "open /MEM/SYS.IMG")) << "no image was sent";
}

// --- All: the upload follows the firmware on the same job ---

// The second timer (the upload's) is the one the log names.
TEST_F(FaultMatrixArmed, AllUploadSshClientKilledNexa) {
    settings.configRestoreTimeoutImage = "600";
    settings.configRestoreTimeoutConfig = "700";
    setup.writeSettings(settings);
    unsigned long router = startRouter("nexa", "SSH", {"--silent-after", "configd get"}, "", true);
    JobRun run = cell(router, "All", "Bad file-transfer", killClientOnSilence());
    expectRestartsByItself(run, "700");
    EXPECT_FALSE(contains(run.log, "within 600 seconds")) << run.log;
    EXPECT_TRUE(contains(device.sim.transcript(), "running software V.7.10 Rev. 3")) << "the firmware went in first";
}

TEST_F(FaultMatrixArmed, AllUploadDeviceRestartedQxCliSsh) {
    unsigned long router = startRouter("qxcli", "SSH", {"--silent-after", "open /MEM/SITE7.CFG"}, "", true);
    cell(router, "All", "Bad file-transfer", restartOnSilence());
    EXPECT_EQ(device.sim.readStateFile("release"), "10.3.1\n") << "the firmware went in first";
}

// --- The database goes while the timer is armed ---

TEST_F(FaultMatrixDatabase, StoppedWhileTheTimerIsArmed) {
    testsupport::makeDirs(setup->templateDir() + "NX-1");
    testsupport::writeFile(setup->templateDir() + "NX-1/upload.tmpl", "systemTable\n{\n}\n");
    setup->db.exec("UPDATE cordal_router SET configtype='Template', globalmaster='upload.tmpl'");
    testsupport::writeFile(setup->transferDir() + certFile(routerId), "");
    setup->addJob(7, routerId, "Config");
    JobRun run = runUntilDevice(7, "<<< tmibAdmConfigCmd=reboot");
    expectOutcomeKept(run, 7);
    const std::string transcript = device.sim.transcript();
    const size_t armed = transcript.find("<<< tmibAdmConfigCmd=reboot");
    EXPECT_NE(transcript.find("<<< cmd=reboot", armed), std::string::npos) << transcript;
}

}  // namespace
