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

};

// The extra columns of the cells that check more.
void configTimerOf5(CellRun& c) {
    if (!c.run) {
        c.settings.configRestoreTimeoutConfig = "5";
        return;
    }
    EXPECT_TRUE(c.device.sim.waitForTranscript("fallback timer ran out", 60000)) << c.device.sim.transcript();
}

void badCertificate(CellRun& c) {
    if (!c.run) {
        c.certificate = "not a PKCS#12 file";
        return;
    }
    EXPECT_FALSE(contains(c.device.sim.transcript(), "<<< configd move")) << "nothing was activated";
}

void bootFileKept(CellRun& c) {
    if (c.run) {
        EXPECT_EQ(c.device.sim.readStateFile("fs/DSK/SITE7.CFG"), "") << "the boot file was not replaced";
    }
}

void release(CellRun& c) {
    c.release = true;
}

void imageTimerOf5(CellRun& c) {
    c.release = true;
    if (!c.run) {
        c.settings.configRestoreTimeoutImage = "5";
        return;
    }
    EXPECT_TRUE(c.device.sim.waitForTranscript("fallback timer ran out", 60000)) << c.device.sim.transcript();
}

// The device already runs the image: nothing to restart for, the timer is
// flushed, and the line drops in the middle of the flush.
void imageAlreadyRunning(CellRun& c) {
    c.release = true;
    c.nexaRevision = 2;
    if (c.run) {
        EXPECT_TRUE(contains(c.device.sim.transcript(), "Software is identical")) << c.device.sim.transcript();
    }
}

void noImageSent(CellRun& c) {
    c.release = true;
    if (c.run) {
        EXPECT_FALSE(contains(c.device.sim.transcript(), "open /MEM/SYS.IMG")) << "no image was sent";
    }
}

// The second timer (the upload's) is the one the log names.
void uploadAfterFirmwareNexa(CellRun& c) {
    c.release = true;
    if (!c.run) {
        c.settings.configRestoreTimeoutImage = "600";
        c.settings.configRestoreTimeoutConfig = "700";
        return;
    }
    EXPECT_FALSE(contains(c.run->log, "within 600 seconds")) << c.run->log;
    EXPECT_TRUE(contains(c.device.sim.transcript(), "running software V.7.10 Rev. 3")) << "the firmware went in first";
}

void uploadAfterFirmwareQxCli(CellRun& c) {
    c.release = true;
    if (c.run) {
        EXPECT_EQ(c.device.sim.readStateFile("release"), "10.3.1\n") << "the firmware went in first";
    }
}

// The first cell: the device takes the timer and the line drops before its
// confirmation; the job cannot know the timer is armed, but must not leave
// it unsaid. qx.CLI devices have no timer: their cells check the reboot.
// "All": the upload follows the firmware on the same job.
// clang-format off
const Cell kArmedCells[] = {
    // name                                    workmode     family   transport fault     trigger                      reason               action          armed         seconds extra
    {"ConfigTimerConfirmationCutNexaTelnet",   "Config",    "nexa",  "Telnet", kCut,     "tmibAdmConfigCmd",          "Missing reply",     kNone,          kByItself,    "5",    configTimerOf5},
    {"ConfigCertificateCutMidReplyNexaSsh",    "Config",    "nexa",  "SSH",    kCut,     "cert get -f",               "Bad cert-file",     kNone,          kByItself,    "600",  badCertificate},
    {"ConfigAllSilentBeforeActivatingNexaTelnet", "ConfigAll", "nexa", "Telnet", kSilence, "configd move",            "Missing prompt",    kAwaitSilence,  kRebootSent},
    {"CertsDeviceRestartedNexaSsh",            "Certs",     "nexa",  "SSH",    kSilence, "configd copy boot opb_tmp", "Missing prompt",    kRestart,       kByItself,    "600"},
    {"BootFacSshClientKilledNexa",             "BootFac",   "nexa",  "SSH",    kSilence, "configd get",               "Bad file-transfer", kKillSsh,       kByItself,    "600"},
    {"ConfigRenameCutQxCliSsh",                "Config",    "qxcli", "SSH",    kCut,     "rename /MEM/SITE7.CFG",     "Bad file-renaming", kAwaitDrop,     kRebootSent,  "",     bootFileKept},
    {"BootFacSftpClientKilledQxCliTelnet",     "BootFac",   "qxcli", "Telnet", kSilence, "open /MEM/CONFIG.DEF",      "Bad file-transfer", kKillSftp,      kRebootSent},
    {"ImageCutMidReplyNexaTelnet",             "Image",     "nexa",  "Telnet", kCut,     "update",                    "SW-update failed",  kNone,          kByItself,    "5",    imageTimerOf5},
    {"ImageTimerFlushCutNexaSsh",              "Image",     "nexa",  "SSH",    kCut,     "tmibAdmConfigTimeout.1.1=-1", "Missing prompt",  kNone,          kByItself,    "600",  imageAlreadyRunning},
    {"ImageSshClientKilledNexa",               "Image",     "nexa",  "SSH",    kSilence, "update",                    "SW-update failed",  kKillSsh,       kByItself,    "600",  release},
    {"ImageSftpClientKilledQxCliSsh",          "Image",     "qxcli", "SSH",    kSilence, "open /MEM/SYS.IMG",         "Bad file-transfer", kKillSftp,      kRebootSent,  "",     release},
    {"ImageDeviceRestartedQxCliTelnet",        "Image",     "qxcli", "Telnet", kSilence, "no check version",          "Missing prompt",    kRestart,       kNoTimer,     "",     noImageSent},
    {"AllUploadSshClientKilledNexa",           "All",       "nexa",  "SSH",    kSilence, "configd get",               "Bad file-transfer", kKillSsh,       kByItself,    "700",  uploadAfterFirmwareNexa},
    {"AllUploadDeviceRestartedQxCliSsh",       "All",       "qxcli", "SSH",    kSilence, "open /MEM/SITE7.CFG",       "Bad file-transfer", kRestart,       kNoTimer,     "",     uploadAfterFirmwareQxCli},
};
// clang-format on

class FaultMatrixArmedCell : public FaultMatrixArmed, public ::testing::WithParamInterface<Cell> {};

TEST_P(FaultMatrixArmedCell, EndsWithItsReasonAndTheTimerSeenTo) {
    runCell(GetParam(), [this](const Cell& c, CellRun& extra) {
        return startRouter(c.family, c.transport, extra.options, extra.certificate, extra.release, extra.nexaRevision);
    });
}

INSTANTIATE_TEST_SUITE_P(Cells, FaultMatrixArmedCell, ::testing::ValuesIn(kArmedCells), cellName);

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
