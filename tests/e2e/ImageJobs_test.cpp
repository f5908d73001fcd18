// Whole "Image" jobs: firmware images of the router's software release
// installed on simulated routers of both families.
#include <gtest/gtest.h>

#include "tests/e2e/JobTest.h"
#include "tests/image/ImageBuilder.h"

using testsupport::contains;
using testsupport::makeDirs;
using testsupport::writeFile;

namespace {

class ImageJobs : public JobTest {
protected:
    void SetUp() override {
        setup.addRouterType("NX-1", "NEXA");
        setup.addRouterType("QX-1", "qx.CLI");
        e2e::JobSettings settings;
        settings.connectTimeout = "3";
        // The device refuses logins until its sessions have ended after a
        // reboot: the job waits 2 seconds (the scaled 40) before it logs
        // in again.
        settings.rebootTime = "40";
        setup.writeSettings(settings);
    }

    // A release of the model's images; columns not given stay empty.
    void addRelease(const std::string& model, const std::map<std::string, std::string>& images) {
        std::string columns = "name, routertype", values = "'R1', '" + model + "'";
        for (const auto& [column, file] : images) {
            columns += ", " + column;
            values += ", '" + file + "'";
        }
        setup.db.exec("INSERT INTO cordal_swrelease (" + columns + ") VALUES (" + values + ")");
    }
    void writeImage(const std::string& model, const std::string& name, const std::string& bytes) {
        makeDirs(setup.transferDir() + "images/" + model);
        writeFile(setup.transferDir() + "images/" + model + "/" + name, bytes);
    }

    // A NEXA device running V.7.10 Rev. 2 that fetches from the transfer
    // folder and comes back from a reboot at once; "nexa.img" holds Rev. 3.
    bool startNexaWithNewImage(SimRouter& device) {
        device.sim.writeStateFile("variables", kNexaRev2Variables);
        writeImage("NX-1", "nexa.img", imagebuilder::nexaSystemImage(3));
        return device.start("nexa", {"--transfer-dir", setup.transferDir(), "--reboot-downtime", "0"});
    }

    // Runs job 42 for the router with release R1.
    std::map<std::string, std::string> runJob(std::map<std::string, std::string> router, const std::string& workmode) {
        router["softwareimage"] = "R1";
        return JobTest::runJob(router, workmode);
    }
};

}  // namespace

TEST_F(ImageJobs, CorruptNexaImageEndsTheJobBeforeAnyDeviceContact) {
    SimRouter device("nexa");
    ASSERT_TRUE(device.start("nexa", {"--transfer-dir", setup.transferDir()})) << device.sim.error();
    imagebuilder::Part part = imagebuilder::systemPart(std::string(4000, 'n'));
    std::string image = imagebuilder::singleImage(part);
    image[image.size() / 2] ^= 0x01;  // one flipped bit of the data
    writeImage("NX-1", "nexa.img", image);
    addRelease("NX-1", {{"nexa", "nexa.img"}});
    auto h = runJob(device.row("NX-1", "Telnet"), "Image");
    EXPECT_EQ(result.exitCode, 2) << log;
    EXPECT_EQ(h["status"], "error");
    EXPECT_EQ(h["reason"], "Bad NEXA-version");
    EXPECT_TRUE(contains(log, "Bad CRC-sum")) << log;
    EXPECT_FALSE(contains(log, "-connecting"));
    EXPECT_FALSE(contains(device.sim.transcript(), "session started")) << device.sim.transcript();
}

TEST_F(ImageJobs, NexaImageIsInstalledActivatedAndRecorded) {
    SimRouter device("nexa");
    ASSERT_TRUE(startNexaWithNewImage(device)) << device.sim.error();
    addRelease("NX-1", {{"nexa", "nexa.img"}});
    auto h = runJob(device.row("NX-1", "Telnet"), "Image");
    EXPECT_EQ(result.exitCode, 0) << log;
    EXPECT_EQ(h["status"], "success") << h["reason"];
    EXPECT_EQ(setup.db.value("SELECT swversion FROM cordal_router"), "7.10.3");
    const std::string transcript = device.sim.transcript();
    // Armed timer, update, declined reboot question, the job's own reboot,
    // then the inventory on the restarted device.
    const size_t armed = transcript.find("<<< tmibAdmConfigCmd=reboot tmibAdmConfigTimeout=600");
    const size_t update = transcript.find("<<< update tftp:127.0.0.1/images/NX-1/nexa.img");
    const size_t running = transcript.find("running software V.7.10 Rev. 3 IPSec");
    const size_t asked = transcript.rfind("<<< tmibAdmSWVersion");
    ASSERT_NE(armed, std::string::npos) << transcript;
    ASSERT_NE(update, std::string::npos) << transcript;
    ASSERT_NE(running, std::string::npos) << transcript;
    ASSERT_NE(asked, std::string::npos) << transcript;
    EXPECT_LT(armed, update);
    EXPECT_LT(update, running);
    EXPECT_LT(running, asked);
    EXPECT_FALSE(contains(transcript, "=-1"));  // rebooted, not flushed
    EXPECT_TRUE(contains(device.sim.readStateFile("boot"), "count 1"));
    EXPECT_TRUE(contains(log, "*** Updating nexa."));
}

// Only a router type whose os is exactly "NEXA" needs the system image's
// version at start-up; another NEXA-family type may leave every image
// column empty.
TEST_F(ImageJobs, NexaReleaseWithoutImagesSendsNoUpdateAndFlushesTheTimer) {
    setup.addRouterType("NX-LTE", "NEXA-LTE");
    SimRouter device("nexa");
    device.sim.writeStateFile("variables", kNexaRev2Variables);
    ASSERT_TRUE(device.start("nexa", {"--transfer-dir", setup.transferDir()})) << device.sim.error();
    addRelease("NX-LTE", {});
    auto h = runJob(device.row("NX-LTE", "SSH"), "Image");
    const std::string transcript = device.sim.transcript();
    EXPECT_TRUE(contains(transcript, "<<< tmibAdmConfigCmd=reboot tmibAdmConfigTimeout=600")) << transcript;
    EXPECT_TRUE(contains(transcript, "<<< tmibAdmConfigTimeout.1.1=-1")) << transcript;
    EXPECT_FALSE(contains(transcript, "<<< update"));
    EXPECT_TRUE(contains(device.sim.readStateFile("boot"), "count 0"));
    // The inventory reads nothing from a type that is not exactly "NEXA".
    EXPECT_EQ(h["reason"], "No sw-version") << log;
}

TEST_F(ImageJobs, QxCliImagesAreInstalledAndTheNewReleaseRecorded) {
    SimRouter device("qxcli");
    ASSERT_TRUE(device.start("qxcli", {"--reboot-downtime", "0"})) << device.sim.error();
    writeImage("QX-1", "boot.bin", "BIOS 4.2\n" + std::string(3000, 'b'));
    writeImage("QX-1", "sys.img", "QXCLI-IMAGE 10.3.1\n" + std::string(9000, 's'));
    addRelease("QX-1", {{"bootmonitor", "boot.bin"}, {"nexa", "sys.img"}});
    auto h = runJob(device.row("QX-1", "SSH"), "Image");
    EXPECT_EQ(result.exitCode, 0) << log;
    EXPECT_EQ(h["status"], "success") << h["reason"];
    EXPECT_EQ(setup.db.value("SELECT swversion FROM cordal_router"), "10.3.1");
    EXPECT_EQ(testsupport::readFile(device.sim.statePath("fs/DSK/SYS.IMG")),
              testsupport::readFile(setup.transferDir() + "images/QX-1/sys.img"));
    EXPECT_EQ(device.sim.readStateFile("release"), "10.3.1\n");
    EXPECT_TRUE(contains(device.sim.readStateFile("boot"), "count 1"));
    EXPECT_FALSE(contains(device.sim.transcript(), "tmibAdmConfig"));
}

// A failed update ends in a reboot, never with the timer left armed.
TEST_F(ImageJobs, RefusedNexaImageRebootsTheDevice) {
    SimRouter device("nexa");
    ASSERT_TRUE(startNexaWithNewImage(device)) << device.sim.error();
    imagebuilder::Part logic = imagebuilder::systemPart(std::string(500, 'l'));
    logic.header.type = 3;
    logic.header.crc = 0x12345678;  // the device's own check refuses it
    writeImage("NX-1", "logic.img", imagebuilder::singleImage(logic));
    addRelease("NX-1", {{"logic", "logic.img"}, {"nexa", "nexa.img"}});
    auto h = runJob(device.row("NX-1", "Telnet"), "Image");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(h["reason"], "SW-update failed") << log;
    EXPECT_TRUE(contains(log, "Update of logic failed."));
    const std::string transcript = device.sim.transcript();
    EXPECT_TRUE(contains(transcript, "image refused: checksum error")) << transcript;
    EXPECT_FALSE(contains(transcript, "nexa.img"));
    EXPECT_FALSE(contains(transcript, "=-1"));
    EXPECT_TRUE(contains(device.sim.readStateFile("boot"), "count 1"));
    EXPECT_TRUE(contains(log, "*** Rebooting."));
    EXPECT_TRUE(contains(log, "Testping skipped because job already failed."));
    EXPECT_FALSE(contains(transcript, "<<< ping"));
}

// "All" on one NEXA router: the configuration is downloaded (fetch and
// merge), the firmware updated under a first fallback timer, the merged
// configuration built and uploaded under a second one, and the device ends
// running the new software and the new configuration.
TEST_F(ImageJobs, AllOnNexaDownloadsUpdatesBuildsAndUploadsUnderTwoTimers) {
    SimRouter device("all");
    ASSERT_TRUE(startNexaWithNewImage(device)) << device.sim.error();
    addRelease("NX-1", {{"nexa", "nexa.img"}});
    makeDirs(setup.templateDir() + "NX-1");
    writeFile(setup.templateDir() + "NX-1/all.tmpl",
              "systemTable\n{\n   tmibAdmSystemName        (RW,DisplayStr):  \"[router.name]\"\n}\n");
    // An empty certificate file: no certificates to load, the upload goes on.
    writeFile(setup.transferDir() + "0000000001.pkcs12", "");
    auto h = runJob(device.row("NX-1", "Telnet",
                               {{"name", "gw-all"}, {"configtype", "Fetch-and-Merge"}, {"globalmaster", "all.tmpl"}}),
                    "All");
    EXPECT_EQ(result.exitCode, 0) << log;
    EXPECT_EQ(h["status"], "success") << h["reason"];
    EXPECT_EQ(setup.db.value("SELECT swversion FROM cordal_router"), "7.10.3");
    EXPECT_EQ(setup.db.count("cordal_configs", "workmode='AutoFetch' AND jobtime=1699999999"), 1);

    const std::string t = device.sim.transcript();
    const size_t download = t.find("<<< configd put all tftp:127.0.0.1/ 42.config boot");
    const size_t firstTimer = t.find("<<< tmibAdmConfigCmd=reboot tmibAdmConfigTimeout=");
    const size_t update = t.find("<<< update tftp:127.0.0.1/images/NX-1/nexa.img");
    const size_t secondTimer = t.find("<<< tmibAdmConfigCmd=reboot tmibAdmConfigTimeout=", update);
    const size_t upload = t.find("<<< configd get all tftp:127.0.0.1/ 42.config opb_tmp");
    const size_t activate = t.find("<<< configd move opb_tmp boot");
    const size_t lastReboot = t.rfind("<<< cmd=reboot");
    for (size_t at : {download, firstTimer, update, secondTimer, upload, activate, lastReboot})
        ASSERT_NE(at, std::string::npos) << t;
    EXPECT_LT(download, firstTimer);
    EXPECT_LT(firstTimer, update);
    EXPECT_LT(update, secondTimer);
    EXPECT_LT(secondTimer, upload);
    EXPECT_LT(upload, activate);
    EXPECT_LT(activate, lastReboot);
    // After its last reboot the device runs the merged configuration.
    const std::string running = device.sim.readStateFile("configs/running");
    EXPECT_TRUE(contains(running, "\"gw-all\"")) << running;
    EXPECT_TRUE(contains(running, "certTable")) << "the device's other tables stay";
    EXPECT_TRUE(contains(log, "*** Sending test-pings.")) << log;
}
