// "Erase" against the device's configuration store: the boot configuration
// is really gone and the device comes up without one; a qx.CLI removal the
// device refuses fails the job.
#include <gtest/gtest.h>

#include "tests/e2e/SimRouter.h"

using e2e::JobSetup;
using testsupport::contains;
using testsupport::fileExists;

namespace {

class EraseBootConfig : public ::testing::Test {
protected:
    void SetUp() override {
        setup.addRouterType("NX-1", "NEXA");
        setup.addRouterType("QX-1", "qx.CLI");
        e2e::JobSettings settings;
        settings.connectTimeout = "3";
        settings.ipAllowDelete = "true";
        setup.writeSettings(settings);
    }

    std::map<std::string, std::string> runJob(const std::map<std::string, std::string>& router) {
        unsigned long id = setup.addRouter(router);
        setup.addJob(42, id, "Erase");
        result = setup.run(42);
        auto h = setup.history(42);
        log = testsupport::unwrappedLog(h["log"]);
        return h;
    }

    JobSetup setup;
    testsupport::ProcessResult result;
    std::string log;
};

}  // namespace

TEST_F(EraseBootConfig, NexaComesUpWithoutABootConfiguration) {
    SimRouter device("nexa");
    ASSERT_TRUE(device.start("nexa", {"--reboot-downtime", "0"})) << device.sim.error();
    ASSERT_TRUE(fileExists(device.sim.statePath("configs/boot"))) << "a fresh device has one";
    ASSERT_TRUE(contains(device.sim.readStateFile("configs/running"), "router1"));
    auto h = runJob(device.row("NX-1", "Telnet"));
    EXPECT_EQ(result.exitCode, 0) << log;
    EXPECT_EQ(h["status"], "success");
    EXPECT_FALSE(fileExists(device.sim.statePath("configs/boot")));
    ASSERT_TRUE(device.sim.waitForTranscript("device up again", 30000)) << device.sim.transcript();
    EXPECT_FALSE(contains(device.sim.readStateFile("configs/running"), "router1"))
        << "the factory configuration, not the old one";
    std::string transcript = device.sim.transcript();
    EXPECT_LT(transcript.find("<<< configd delete boot\n"), transcript.find("<<< cmd=reboot\n"));
}

TEST_F(EraseBootConfig, QxCliRemovesTheBootFileOverSftp) {
    SimRouter device("qxcli");
    ASSERT_TRUE(device.start("qxcli", {"--reboot-downtime", "0"})) << device.sim.error();
    ASSERT_TRUE(fileExists(device.sim.statePath("fs/DSK/CONFIG.CFG")));
    auto h = runJob(device.row("QX-1", "SSH"));
    EXPECT_EQ(result.exitCode, 0) << log;
    EXPECT_EQ(h["status"], "success");
    EXPECT_FALSE(fileExists(device.sim.statePath("fs/DSK/CONFIG.CFG")));
    std::string transcript = device.sim.transcript();
    size_t removed = transcript.find("remove /DSK/CONFIG.CFG");
    ASSERT_NE(removed, std::string::npos) << transcript;
    EXPECT_NE(transcript.find("<<< \\x10restart yes", removed), std::string::npos) << transcript;
    EXPECT_TRUE(contains(log, "INF - Config removed."));
    EXPECT_TRUE(contains(log, "*** SFTP-connecting."));
    EXPECT_TRUE(device.sim.waitForTranscript("device up again", 30000));
}

TEST_F(EraseBootConfig, QxCliRemovalTheDeviceRefusesFailsTheJob) {
    SimRouter device("ghost");
    device.sim.writeStateFile("bootfile", "GHOST\n");  // named, but no such file
    ASSERT_TRUE(device.start("qxcli", {"--reboot-downtime", "0"})) << device.sim.error();
    auto h = runJob(device.row("QX-1", "Telnet"));
    EXPECT_EQ(result.exitCode, 2) << log;
    EXPECT_EQ(h["reason"], "Bad file-removing");
    EXPECT_TRUE(contains(log, "ERR - SFTP-file-removing failed.")) << log;
    EXPECT_TRUE(contains(device.sim.transcript(), "remove /DSK/GHOST.CFG")) << device.sim.transcript();
    EXPECT_FALSE(contains(log, "Config removed."));
}
