// The qx.CLI firmware update against a simulated device: the preparation on
// the device's command line, the images over one SFTP connection into
// memory and on to their disks, and the failures on the way.
#include <sys/stat.h>

#include <chrono>

#include "db/Cordal_swrelease.h"
#include "tests/firmware/FirmwareFixture.h"
#include "util/Pause.h"

using testsupport::contains;
using testsupport::fileExists;
using testsupport::makeDirs;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

size_t countOf(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

class QxCliUpdate : public FirmwareFixture {
protected:
    void SetUp() override {
        startDevice("qxcli");
        makeJob("qx.CLI");
    }
    void TearDown() override { Pause::setScale(1.0); }

    std::string fsFile(const std::string& path) const { return device.statePath("fs" + path); }

    // Release files with contents of their own, so a file on the device
    // tells which image it came from.
    void fullRelease() {
        writeImage("bios.bin", "BIOS image 4.2\n" + std::string(2000, 'b'));
        writeImage("sys.img", "QXCLI-IMAGE 10.3.1\n" + std::string(5000, 's'));
        writeImage("mod3.fwx", "module three\n" + std::string(700, '3'));
        writeImage("mod4.fwx", "module four\n" + std::string(900, '4'));
        job->swRelease->bootmonitor = "bios.bin";
        job->swRelease->nexa = "sys.img";
        job->swRelease->module3 = "mod3.fwx";
        job->swRelease->module4 = "mod4.fwx";
    }
};

}  // namespace

TEST_F(QxCliUpdate, ImagesLandOnTheirDisksAndTheDeviceBootsTheNewRelease) {
    fullRelease();
    {
        auto link = connected(SSH);
        ASSERT_TRUE(link);
        job->updateImages(*link);
        EXPECT_EQ(job->reason, "") << log();
        EXPECT_TRUE(job->rebootPending);

        // The preparation on the command line switched the device's checks off.
        const auto lines = received();
        auto prep = std::find(lines.begin(), lines.end(), "\\x10running-config");
        ASSERT_NE(prep, lines.end()) << device.transcript();
        ASSERT_GE(lines.end() - prep, 5);
        EXPECT_EQ(std::vector<std::string>(prep + 1, prep + 5),
                  (std::vector<std::string>{"set ftp", "no check bios", "no check firmware", "no check version"}));
        EXPECT_EQ(device.readStateFile("checks"), "bios\nfirmware\nversion\n");

        // Each file through memory onto its disk; module 3 and 4 share a file.
        EXPECT_EQ(readFile(fsFile("/BIO/BOOT.IMG")), readFile(imagePath("bios.bin")));
        EXPECT_EQ(readFile(fsFile("/DSK/SYS.IMG")), readFile(imagePath("sys.img")));
        EXPECT_EQ(readFile(fsFile("/DSK/MOD3.FWX")), readFile(imagePath("mod4.fwx")));
        EXPECT_FALSE(fileExists(fsFile("/DSK/MOD1.FWX")));
        EXPECT_FALSE(fileExists(fsFile("/DSK/MOD2.FWX")));
        EXPECT_FALSE(fileExists(fsFile("/MEM/SYS.IMG")));
        const std::string transcript = device.transcript();
        EXPECT_EQ(countOf(transcript, "<<< rename /MEM/MOD3.FWX /DSK/MOD3.FWX"), 2u);
        EXPECT_LT(transcript.find("rename /MEM/BOOT.IMG /BIO/BOOT.IMG"), transcript.find("rename /MEM/SYS.IMG"));
        // One SFTP session for all four images.
        EXPECT_EQ(countOf(transcript, "sftp started"), 1u);
        EXPECT_TRUE(contains(log(), "INF - module-4 updated.")) << log();

        job->reboot(*link);
    }
    ASSERT_TRUE(device.waitForTranscript("running release 10.3.1", 20000)) << device.transcript();
    EXPECT_EQ(device.readStateFile("release"), "10.3.1\n");
}

TEST_F(QxCliUpdate, MissingPreparationPromptSkipsTheTransfer) {
    device.stop();
    startDevice("qxcli", {"--silent-after", "no check firmware"});
    makeJob("qx.CLI");
    fullRelease();
    auto link = connected(Telnet);
    ASSERT_TRUE(link);
    job->updateImages(*link);
    EXPECT_EQ(job->reason, "Missing prompt");
    EXPECT_TRUE(contains(log(), "FTP config$' prompt.")) << log();
    EXPECT_FALSE(job->rebootPending);
    EXPECT_FALSE(contains(device.transcript(), "sftp started"));
    EXPECT_FALSE(contains(device.transcript(), "no check version"));
}

TEST_F(QxCliUpdate, FailedRenameWaitsBeforeTheReboot) {
    fullRelease();
    // A directory where the system image belongs: the device cannot move
    // the new image there.
    makeDirs(fsFile("/DSK/SYS.IMG/keep"));
    Pause::setScale(0.005);  // 600 seconds become 3
    auto link = connected(Telnet);
    ASSERT_TRUE(link);
    ASSERT_TRUE(job->updateImagesPrepQxCli(*link));
    const auto started = std::chrono::steady_clock::now();
    job->updateImagesQxCli();
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(job->reason, "Bad file-renaming");
    EXPECT_TRUE(contains(log(), "ERR - SFTP-file-renaming failed.")) << log();
    EXPECT_TRUE(contains(log(), "INF - Waiting for 10 minutes before reboot."));
    EXPECT_GE(waited, 3.0);
    EXPECT_TRUE(job->rebootPending);
    // The boot monitor before it went through; nothing after it was sent.
    EXPECT_EQ(readFile(fsFile("/BIO/BOOT.IMG")), readFile(imagePath("bios.bin")));
    EXPECT_TRUE(contains(device.transcript(), "rename /MEM/SYS.IMG /DSK/SYS.IMG"));
    EXPECT_FALSE(contains(device.transcript(), "MOD3.FWX"));
}

TEST_F(QxCliUpdate, MissingImageFileIsABadTransfer) {
    job->swRelease->nexa = "not-there.img";
    writeImage("mod3.fwx", "module three\n");
    job->swRelease->module3 = "mod3.fwx";
    auto link = connected(Telnet);
    ASSERT_TRUE(link);
    ASSERT_TRUE(job->updateImagesPrepQxCli(*link));
    job->updateImagesQxCli();
    EXPECT_EQ(job->reason, "Bad file-transfer");
    EXPECT_TRUE(contains(log(), "ERR - SFTP-file-transfer failed.")) << log();
    EXPECT_TRUE(job->rebootPending);
    EXPECT_FALSE(contains(device.transcript(), "rename"));
    EXPECT_FALSE(contains(device.transcript(), "MOD3"));
}

// The installed program waits the whole ten minutes after a failed rename.
// The test does not sit through them: it ends the pause with a termination
// request after 45 seconds, which no scaled or skipped pause would reach.
namespace {
std::chrono::steady_clock::time_point gTerminateAt;
bool terminateLater() {
    return std::chrono::steady_clock::now() >= gTerminateAt;
}
}  // namespace

TEST_F(QxCliUpdate, FailedRenameWaitsUnscaled) {
    writeImage("bios.bin", "BIOS image\n");
    job->swRelease->bootmonitor = "bios.bin";
    makeDirs(fsFile("/BIO/BOOT.IMG/keep"));
    Pause::setScale(1.0);
    auto link = connected(Telnet);
    ASSERT_TRUE(link);
    ASSERT_TRUE(job->updateImagesPrepQxCli(*link));
    const auto started = std::chrono::steady_clock::now();
    gTerminateAt = started + std::chrono::seconds(45);
    Pause::setInterruptCheck(&terminateLater);
    job->updateImagesQxCli();
    Pause::setInterruptCheck(nullptr);
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(job->reason, "Bad file-renaming");
    EXPECT_TRUE(contains(log(), "INF - Waiting for 10 minutes before reboot.")) << log();
    EXPECT_GE(waited, 45.0) << "the pause ended before the termination request";
}

TEST_F(QxCliUpdate, ImageNameWithALineBreakIsNeverSent) {
    writeImage("sys.img", "QXCLI-IMAGE 10.3.1\n");
    job->swRelease->nexa = "sys.img\nrm /DSK/CONFIG.CFG";
    auto link = connected(Telnet);
    ASSERT_TRUE(link);
    ASSERT_TRUE(job->updateImagesPrepQxCli(*link));
    job->updateImagesQxCli();
    EXPECT_EQ(job->reason, "Bad file-transfer");
    EXPECT_FALSE(contains(device.transcript(), "CONFIG.CFG"));
    EXPECT_FALSE(contains(device.transcript(), "SYS.IMG"));
}
