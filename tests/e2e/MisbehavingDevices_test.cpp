// Whole jobs against devices that behave the way real servers and odd
// devices do: banners, refusal texts, Telnet option negotiation, changed
// host keys, full disks. Each case proves by the device's transcript and
// state what the job did to it.
#include <gtest/gtest.h>

#include "tests/e2e/JobTest.h"

using testsupport::contains;
using testsupport::makeDirs;
using testsupport::writeFile;

namespace {

class MisbehavingDevices : public JobTest {
protected:
    void SetUp() override {
        setup.addRouterType("NX-1", "NEXA");
        setup.addRouterType("QX-1", "qx.CLI");
        e2e::JobSettings settings;
        settings.connectTimeout = "3";
        settings.rebootTime = "40";
        setup.writeSettings(settings);
    }

    void writeImage(const std::string& model, const std::string& name, const std::string& bytes) {
        makeDirs(setup.transferDir() + "images/" + model);
        writeFile(setup.transferDir() + "images/" + model + "/" + name, bytes);
    }
};

}  // namespace

// A full disk keeps the part of the image that fitted; the job removes it,
// so it cannot fill the next attempt too.
TEST_F(MisbehavingDevices, FailedSftpUploadLeavesNoPartialFile) {
    SimRouter device("qxcli");
    ASSERT_TRUE(device.start("qxcli", {"--reboot-downtime", "0", "--disk-full", "4000"})) << device.sim.error();
    writeImage("QX-1", "sys.img", "QXCLI-IMAGE 10.3.1\n" + std::string(90000, 's'));
    setup.db.exec("INSERT INTO cordal_swrelease (name, routertype, nexa) VALUES ('R1', 'QX-1', 'sys.img')");
    auto h = runJob(device.row("QX-1", "SSH", {{"softwareimage", "R1"}}), "Image");
    EXPECT_EQ(result.exitCode, 2) << log;
    EXPECT_EQ(h["reason"], "Bad file-transfer");
    const std::string transcript = device.sim.transcript();
    ASSERT_TRUE(contains(transcript, "--- fault: disk full, /MEM/SYS.IMG stops at 4000 bytes")) << transcript;
    EXPECT_TRUE(contains(transcript, "<<< remove /MEM/SYS.IMG")) << transcript;
    EXPECT_FALSE(testsupport::fileExists(device.sim.statePath("fs/MEM/SYS.IMG")));
    EXPECT_FALSE(contains(transcript, "rename /MEM/SYS.IMG"));
    EXPECT_TRUE(contains(log, "INF - Removed the partial file '/MEM/SYS.IMG' of the failed transfer.")) << log;
}
