// Whole "Erase" jobs: the boot configuration deleted and the device
// rebooted, only where the settings allow it, for both families; proven by
// the simulated device's configuration store and transcript.
#include <gtest/gtest.h>

#include "tests/e2e/JobTest.h"

using testsupport::contains;
using testsupport::fileExists;

namespace {

class Erase : public JobTest {
protected:
    void SetUp() override {
        setup.addRouterType("NX-1", "NEXA");
        setup.addRouterType("QX-1", "qx.CLI");
        allowDelete("true");
    }

    void allowDelete(const std::string& value) {
        e2e::JobSettings settings;
        settings.connectTimeout = "3";
        settings.ipAllowDelete = value;
        setup.writeSettings(settings);
    }

    std::map<std::string, std::string> runJob(const std::map<std::string, std::string>& router) {
        return JobTest::runJob(router, "Erase");
    }
};

}  // namespace

TEST_F(Erase, RefusedUnlessTheSettingsAllowDeletion) {
    allowDelete("false");
    SimRouter device("refused");
    ASSERT_TRUE(device.start("nexa")) << device.sim.error();
    auto h = runJob(device.row("NX-1", "Telnet"));
    EXPECT_EQ(result.exitCode, 2) << log;
    EXPECT_EQ(h["status"], "error");
    EXPECT_EQ(h["reason"], "!ipallowdelete");
    EXPECT_TRUE(contains(log, "ERR - 'ipallowdelete' not enabled in cordal.xml.")) << log;
    EXPECT_FALSE(contains(device.sim.transcript(), "connection from")) << "the device is never contacted";
    EXPECT_TRUE(fileExists(device.sim.statePath("configs/boot")));
    EXPECT_TRUE(contains(device.sim.readStateFile("boot"), "count 0\n"));
}

TEST_F(Erase, NexaComesUpWithoutABootConfiguration) {
    allowDelete("TRUE");  // any letter case
    SimRouter device("nexa");
    ASSERT_TRUE(device.start("nexa", {"--reboot-downtime", "0"})) << device.sim.error();
    ASSERT_TRUE(fileExists(device.sim.statePath("configs/boot"))) << "a fresh device has one";
    ASSERT_TRUE(contains(device.sim.readStateFile("configs/running"), "router1"));
    auto h = runJob(device.row("NX-1", "SSH"));
    EXPECT_EQ(result.exitCode, 0) << log;
    EXPECT_EQ(h["status"], "success");
    EXPECT_FALSE(fileExists(device.sim.statePath("configs/boot")));
    std::string transcript = device.sim.transcript();
    size_t deleted = transcript.find("<<< configd delete boot\n");
    ASSERT_NE(deleted, std::string::npos) << transcript;
    EXPECT_NE(transcript.find("<<< cmd=reboot\n", deleted), std::string::npos) << transcript;
    ASSERT_TRUE(device.sim.waitForTranscript("device up again", 30000)) << device.sim.transcript();
    EXPECT_TRUE(contains(device.sim.readStateFile("boot"), "count 1\n"));
    EXPECT_FALSE(contains(device.sim.readStateFile("configs/running"), "router1"))
        << "the factory configuration, not the old one";
    EXPECT_TRUE(contains(log, "*** Deleting boot-config."));
    EXPECT_TRUE(contains(log, "*** Rebooting."));
}

TEST_F(Erase, QxCliRemovesTheBootFileOverSftp) {
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

TEST_F(Erase, QxCliWithoutABootFileNameRemovesNothing) {
    SimRouter device("nameless");
    device.sim.writeStateFile("bootfile", "");  // no boot configuration file set
    ASSERT_TRUE(device.start("qxcli", {"--reboot-downtime", "0"})) << device.sim.error();
    auto h = runJob(device.row("QX-1", "Telnet"));
    EXPECT_EQ(result.exitCode, 2) << log;
    EXPECT_EQ(h["reason"], "No cfg-file-name");
    std::string transcript = device.sim.transcript();
    EXPECT_TRUE(contains(transcript, "<<< set file-cfg")) << transcript;
    EXPECT_FALSE(contains(transcript, "remove ")) << "no removal over SFTP";
    EXPECT_FALSE(contains(transcript, "ssh#")) << "no SFTP connection at all";
}

TEST_F(Erase, QxCliRemovalTheDeviceRefusesFailsTheJob) {
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
