// The simulated devices' side of firmware updates, without sockets: what a
// NEXA device refuses to fetch or install and how it says so, and the
// qx.CLI image checks and boot-time release.
#include "sim/FirmwareStore.h"
#include "tests/image/ImageBuilder.h"
#include "tests/sim/ShellFixture.h"

using testsupport::contains;
using testsupport::makeDirs;
using testsupport::writeFile;

namespace {

// The texts the job takes as a finished or accepted update; a refusal must
// show none of them.
bool looksLikeSuccess(const std::string& reply) {
    for (const char* text : {"Checking Image ... OK", "update successfully finished",
                             "Identical image exists in Flash-ROM", "Software is identical", "Update canceled.",
                             "Waiting for modem to reboot", "Do reboot to activate new SW", "(y or n)"})
        if (contains(reply, text)) return true;
    return false;
}

class NexaFirmware : public ShellFixture {
protected:
    void SetUp() override {
        open(SimFamily::Nexa);
        options.transferDir = dir.file("xfer");
        makeDirs(dir.file("xfer/tftpboot"));
        state->setVariable("tmibAdmSWVersion", "V.7.10 Rev. 2", true);
        imagebuilder::Part part = imagebuilder::systemPart(std::string(400, 'x'));
        part.header.revision = 3;
        good = imagebuilder::singleImage(part);
        writeFile(dir.file("xfer/good.img"), good);
    }
    std::string good;
};

class QxCliFirmware : public ShellFixture {
protected:
    void SetUp() override { open(SimFamily::QxCli); }
};

}  // namespace

TEST_F(NexaFirmware, FetchesAreRefusedTheWayAServerWould) {
    auto s = shell(false);
    const char* const refused[] = {
        "update ftp://127.0.0.1/good.img",                         // scheme
        "update tftp:127.0.0.1/missing.img",                       // no such file
        "update tftp:127.0.0.1/../xfer/good.img",                  // climbing
        "update tftp:u:p@127.0.0.1/good.img",                      // credentials on TFTP
        "update http://u:p@127.0.0.1/good.img",                    // outside /tftpboot/
        "update tftp:/good.img",                                   // no host
        "update -x tftp:127.0.0.1/good.img",                       // unknown option
        "update tftp:127.0.0.1/good.img tftp:127.0.0.1/good.img",  // two URLs
    };
    for (const char* command : refused) {
        const std::string reply = feed(*s, std::string(command) + "\r\n");
        EXPECT_TRUE(contains(reply, "error: ")) << command << ": " << reply;
        EXPECT_FALSE(looksLikeSuccess(reply)) << command << ": " << reply;
        EXPECT_TRUE(contains(reply, "router1:admin> ")) << command;
    }
    EXPECT_TRUE(looksLikeSuccess(feed(*s, "update tftp:127.0.0.1/good.img\r\n")));
}

TEST_F(NexaFirmware, ImagesFailingTheHeaderCheckAreRefused) {
    std::string badCrc = good;
    badCrc[60] ^= 0x40;
    std::string truncated = good.substr(0, good.size() - 20);
    std::string badHeaderType = good;
    badHeaderType[31] = 7;
    imagebuilder::Part first = imagebuilder::systemPart(std::string(64, 'a'));
    imagebuilder::Part second = imagebuilder::systemPart(std::string(64, 'b'));
    second.header.revision = 5;
    std::string badPackage = imagebuilder::package(first, {second}, 5u);
    std::string package = imagebuilder::package(first, {second});
    writeFile(dir.file("xfer/crc.img"), badCrc);
    writeFile(dir.file("xfer/short.img"), truncated);
    writeFile(dir.file("xfer/type.img"), badHeaderType);
    writeFile(dir.file("xfer/badpkg.img"), badPackage);
    writeFile(dir.file("xfer/pkg.img"), package);
    auto s = shell(false);
    const std::pair<const char*, const char*> cases[] = {
        {"update tftp:127.0.0.1/crc.img", "checksum error"},
        {"update tftp:127.0.0.1/short.img", "shorter than its header"},
        {"update tftp:127.0.0.1/type.img", "unknown header type 7"},
        {"update -a tftp:127.0.0.1/badpkg.img", "bad package length"},
        {"update tftp:127.0.0.1/pkg.img", "multi-part package needs -a"},
        {"update -a tftp:127.0.0.1/good.img", "-a needs a package"},
    };
    for (const auto& [command, why] : cases) {
        const std::string reply = feed(*s, std::string(command) + "\r\n");
        EXPECT_TRUE(contains(reply, "error: image refused: ")) << command << ": " << reply;
        EXPECT_TRUE(contains(reply, why)) << command << ": " << reply;
        EXPECT_FALSE(looksLikeSuccess(reply)) << command;
    }
    EXPECT_FALSE(testsupport::fileExists(state->path("pending")));
    // Over HTTP the transfer directory is the server's /tftpboot/.
    writeFile(dir.file("xfer/tftpboot/pkg.img"), package);
    EXPECT_TRUE(contains(feed(*s, "update -a http://u:p@127.0.0.1/tftpboot/pkg.img\r\n"), "Perform update (y or n)"));
}

TEST_F(NexaFirmware, DeclinedQuestionsCancelAndTheRebootActivates) {
    writeFile(state->path("firmware"), "delete-questions 2\n");
    auto s = shell(false);
    EXPECT_TRUE(contains(feed(*s, "update tftp:127.0.0.1/good.img\r\n"), "*** delete"));
    EXPECT_TRUE(contains(feed(*s, "n\r\n"), "Update canceled."));
    EXPECT_TRUE(contains(feed(*s, "update tftp:127.0.0.1/good.img\r\n"), "*** delete"));
    EXPECT_TRUE(contains(feed(*s, "y\r\n"), "*** delete"));
    EXPECT_TRUE(contains(feed(*s, "y\r\n"), "Perform update (y or n)"));
    const std::string done = feed(*s, "y\r\n");
    EXPECT_TRUE(contains(done, "update successfully finished"));
    EXPECT_TRUE(contains(done, "Reboot now (y or n)"));
    EXPECT_TRUE(contains(feed(*s, "y\r\n"), "Rebooting..."));
    EXPECT_EQ(s->ending(), Shell::Ending::Reboot);
    EXPECT_EQ(FirmwareStore::activate(*state), "running software V.7.10 Rev. 3 IPSec");
    std::string version;
    ASSERT_TRUE(state->variable("tmibAdmSWVersion", version));
    EXPECT_EQ(version, "V.7.10 Rev. 3 IPSec");
    // A second boot changes nothing; the running software is now identical.
    EXPECT_EQ(FirmwareStore::activate(*state), "");
    auto rebooted = shell(false);
    EXPECT_TRUE(contains(feed(*rebooted, "update tftp:127.0.0.1/good.img\r\n"), "Software is identical"));
}

TEST_F(NexaFirmware, HelpListsTheSourceOptionOnlyWhenTheDeviceHasIt) {
    auto s = shell(false);
    EXPECT_TRUE(contains(feed(*s, "update -h\r\n"), "-I <src>"));
    EXPECT_TRUE(contains(feed(*s, "update -I 127.0.0.5 tftp:127.0.0.1/good.img\r\n"), "Perform update"));
    feed(*s, "n\r\n");
    writeFile(state->path("firmware"), "source-option no\n");
    EXPECT_FALSE(contains(feed(*s, "update -h\r\n"), "-I <src>"));
    EXPECT_TRUE(contains(feed(*s, "update -I 127.0.0.5 tftp:127.0.0.1/good.img\r\n"), "error: usage"));
}

TEST_F(QxCliFirmware, FtpConfigSwitchesImageChecksAndBootReadsTheRelease) {
    auto s = shell(false);
    feed(*s, "running-config\r\n");
    EXPECT_TRUE(contains(feed(*s, "set ftp\r\n"), "router1FTP config$"));
    for (const char* check : {"bios", "firmware", "version"})
        EXPECT_TRUE(contains(feed(*s, std::string("no check ") + check + "\r\n"), "disabled."));
    EXPECT_TRUE(contains(feed(*s, "no check everything\r\n"), "CLI Error: Invalid parameter"));
    EXPECT_TRUE(contains(feed(*s, "check bios\r\n"), "enabled."));
    EXPECT_EQ(testsupport::readFile(state->path("checks")), "firmware\nversion\n");

    EXPECT_EQ(FirmwareStore::activate(*state), "");  // no system image yet
    writeFile(state->fsRoot() + "/DSK/SYS.IMG", "QXCLI-IMAGE 10.4.0\n" + std::string(100, 's'));
    EXPECT_EQ(FirmwareStore::activate(*state), "running release 10.4.0");
    EXPECT_EQ(testsupport::readFile(state->path("release")), "10.4.0\n");
    writeFile(state->fsRoot() + "/DSK/SYS.IMG", "garbage");
    EXPECT_EQ(FirmwareStore::activate(*state), "");
    EXPECT_EQ(testsupport::readFile(state->path("release")), "10.4.0\n");
}
