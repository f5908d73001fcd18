#include "sim/DeviceState.h"

#include <gtest/gtest.h>

#include "sim/DevsimOptions.h"
#include "sim/VirtualFs.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::fileExists;
using testsupport::readFile;
using testsupport::writeFile;

class DeviceStateTest : public ::testing::Test {
protected:
    DevsimOptions options(const std::vector<std::string>& args) {
        std::vector<std::string> all = {"--state-dir", dir.file("state")};
        all.insert(all.end(), args.begin(), args.end());
        DevsimOptions parsed;
        std::string error;
        EXPECT_TRUE(DevsimOptions::parse(all, parsed, error)) << error;
        return parsed;
    }
    std::string file(const std::string& name) { return dir.file("state/" + name); }

    testsupport::TempDir dir;
};

TEST_F(DeviceStateTest, FreshDirectoryGetsTheDefaults) {
    std::string error;
    auto state = DeviceState::open(options({"--family", "qxcli"}), error);
    ASSERT_TRUE(state) << error;
    EXPECT_EQ(readFile(file("family")), "qxcli\n");
    EXPECT_EQ(readFile(file("users")), "admin admin\n");
    EXPECT_EQ(readFile(file("ssh")), "keys yes\nservice enabled\n");
    EXPECT_EQ(readFile(file("boot")).substr(0, 8), "count 0\n");
    for (const char* sub : {"fs/DSK", "fs/MEM", "fs/BIO"}) EXPECT_TRUE(fileExists(file(sub))) << sub;
    EXPECT_FALSE(fileExists(file("fs/flash")));
    EXPECT_TRUE(state->checkLogin("admin", "admin"));
    EXPECT_FALSE(state->checkLogin("admin", "Admin"));
    EXPECT_TRUE(state->sshAvailable());
    EXPECT_LE(state->bootTime(), time(nullptr));
    EXPECT_GT(state->bootTime(), 0);

    auto nexa = DeviceState::open(options({"--family", "nexa", "--no-ssh"}), error);
    ASSERT_TRUE(nexa) << error;
    EXPECT_TRUE(fileExists(file("fs/flash")));
    EXPECT_EQ(readFile(file("ssh")), "keys no\nservice disabled\n");
    EXPECT_FALSE(nexa->sshAvailable());
}

TEST_F(DeviceStateTest, PreparedFilesAreReadAndOptionsOverrideThem) {
    testsupport::makeDirs(dir.file("state"));
    writeFile(file("family"), "nexa\n");
    writeFile(file("users"), "# logins\nadmin pass with blanks\noperator\n\nroot toor\n");
    writeFile(file("variables"), "tmibAdmSystemId=SN=7\n# comment\ntmibAdmSWVersion=V.10.1.5.101\n");
    writeFile(file("ssh"), "keys yes\nservice disabled\n");
    writeFile(file("boot"), "count 41\ntime 12\n");
    std::string error;
    auto state = DeviceState::open(options({}), error);
    ASSERT_TRUE(state) << error;
    EXPECT_EQ(state->family(), SimFamily::Nexa);
    EXPECT_TRUE(state->checkLogin("admin", "pass with blanks"));
    EXPECT_FALSE(state->passwordRequired("operator"));
    EXPECT_TRUE(state->passwordRequired("admin"));
    EXPECT_TRUE(state->passwordRequired("stranger"));
    EXPECT_FALSE(state->checkLogin("stranger", ""));
    EXPECT_TRUE(state->checkLogin("root", "toor"));
    std::string value;
    ASSERT_TRUE(state->variable("tmibAdmSystemId", value));
    EXPECT_EQ(value, "SN=7");
    EXPECT_FALSE(state->variable("tmibMissing", value));
    EXPECT_FALSE(state->setVariable("tmibMissing", "1"));
    EXPECT_TRUE(state->sshKeysPresent());
    EXPECT_FALSE(state->sshAvailable()) << "keys alone do not run the daemon";
    EXPECT_EQ(state->rebootCount(), 41u);
    EXPECT_NE(readFile(file("boot")), "count 41\ntime 12\n") << "the boot time is the start";

    state->recordShutdown();
    state->recordBoot();
    EXPECT_EQ(state->rebootCount(), 42u);
    EXPECT_EQ(readFile(file("boot")).substr(0, 9), "count 42\n");

    // Logins from the command line replace the stored ones.
    auto replaced = DeviceState::open(options({"--family", "qxcli", "--user", "ops", "--password", "pw"}), error);
    ASSERT_TRUE(replaced) << error;
    EXPECT_EQ(readFile(file("users")), "ops pw\n");
    EXPECT_EQ(readFile(file("family")), "qxcli\n");
    EXPECT_FALSE(replaced->checkLogin("admin", "pass with blanks"));
}

TEST_F(DeviceStateTest, NexaFactsFromTheCommandLineReplaceStoredAndFactoryOnes) {
    std::string error, value;
    auto fresh = DeviceState::open(options({"--family", "nexa", "--serial", "SN 9"}), error);
    ASSERT_TRUE(fresh) << error;
    ASSERT_TRUE(fresh->variable("tmibAdmSystemId", value));
    EXPECT_EQ(value, "SN 9");
    ASSERT_TRUE(fresh->variable("tmibAdmSWVersion", value));
    EXPECT_EQ(value, "V.7.10 Rev. 2 IPSec") << "the factory software";
    fresh.reset();

    // A prepared device keeps exactly its variables, except the facts given.
    writeFile(file("variables"), "tmibAdmSystemId=SN-1\n");
    auto prepared = DeviceState::open(options({"--part-number", "PN/7", "--sw-version", "V.10.1.5.101"}), error);
    ASSERT_TRUE(prepared) << error;
    EXPECT_EQ(readFile(file("variables")),
              "tmibAdmBoardTable.tmibABrdPartNo=PN/7\ntmibAdmSWVersion=V.10.1.5.101\ntmibAdmSystemId=SN-1\n");
    prepared.reset();
    writeFile(file("variables"), "tmibAdmSystemId=SN-1\n");
    ASSERT_TRUE(DeviceState::open(options({}), error)) << error;
    EXPECT_EQ(readFile(file("variables")), "tmibAdmSystemId=SN-1\n");

    DevsimOptions parsed;
    for (const char* bad : {"quo\"te", "two\nlines", ""}) {
        EXPECT_FALSE(DevsimOptions::parse({"--state-dir", "x", "--serial", bad}, parsed, error)) << bad;
        EXPECT_NE(error.find("--serial"), std::string::npos) << error;
    }
}

TEST_F(DeviceStateTest, MalformedFilesAreRefusedNamingTheFile) {
    struct Case {
        const char* file;
        const char* content;
        const char* expected;
    };
    const Case cases[] = {
        {"family", "cisco\n", "family: 'cisco' is neither"}, {"ssh", "keys maybe\n", "ssh: 'keys maybe'"},
        {"ssh", "daemon on\n", "ssh: 'daemon on'"},          {"boot", "count many\n", "boot: 'count many'"},
        {"boot", "count -1\n", "boot: 'count -1'"},          {"variables", "noEquals\n", "variables: 'noEquals'"},
        {"variables", "=value\n", "variables: '=value'"},
    };
    for (const auto& c : cases) {
        testsupport::runProcess({"rm", "-rf", dir.file("state")});
        testsupport::makeDirs(dir.file("state"));
        writeFile(file("family"), "nexa\n");
        writeFile(file(c.file), c.content);
        std::string error;
        EXPECT_FALSE(DeviceState::open(options({}), error)) << c.file << " " << c.content;
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    }
    testsupport::runProcess({"rm", "-rf", dir.file("state")});
    std::string error;
    EXPECT_FALSE(DeviceState::open(options({}), error));
    EXPECT_NE(error.find("give --family"), std::string::npos) << error;
    writeFile(dir.file("plainfile"), "x");
    DevsimOptions onFile = options({"--family", "nexa"});
    onFile.stateDir = dir.file("plainfile");
    EXPECT_FALSE(DeviceState::open(onFile, error));
}

TEST(DevsimOptionsTest, CommandLineIsCheckedValueByValue) {
    struct Case {
        std::vector<std::string> args;
        const char* error;  // nullptr: accepted
    };
    const Case cases[] = {
        {{"--state-dir", "d"}, nullptr},
        {{"--state-dir=d", "--family=qxcli", "--telnet-port=0", "--ssh-port", "65535"}, nullptr},
        {{"--state-dir", "d", "--listen", "127.0.0.2", "--listen", "127.255.0.1", "--listen", "::1"}, nullptr},
        {{"--state-dir", "d", "--user", "a", "--password", "", "--user", "b", "--password", "x y"}, nullptr},
        {{}, "--state-dir is required"},
        {{"--state-dir", "d", "--listen", "10.0.0.1"}, "not a loopback address"},
        {{"--state-dir", "d", "--listen", "localhost"}, "not a loopback address"},
        {{"--state-dir", "d", "--refuse", "192.168.1.1"}, "not a loopback address"},
        {{"--state-dir", "d", "--telnet-port", "65536"}, "from 0 to 65535"},
        {{"--state-dir", "d", "--ssh-port", "-1"}, "not a number"},
        {{"--state-dir", "d", "--ssh-port", "22x"}, "not a number"},
        {{"--state-dir", "d", "--max-auth-tries", "0"}, "from 1 to 100"},
        {{"--state-dir", "d", "--family", "cisco"}, "neither nexa nor qxcli"},
        {{"--state-dir", "d", "--user", "a"}, "has no --password"},
        {{"--state-dir", "d", "--user", "a", "--user", "b", "--password", "p"}, "has no --password"},
        {{"--state-dir", "d", "--password", "p"}, "must follow its --user"},
        {{"--state-dir", "d", "--user", "two words", "--password", "p"}, "one word"},
        {{"--state-dir", "d", "--hostname", "a>b"}, "not a host name"},
        {{"--state-dir", "d", "--hostname", "r*1"}, "not a host name"},
        {{"--state-dir", "d", "--bogus"}, "unknown option '--bogus'"},
        {{"--state-dir", "d", "--no-ssh=yes"}, "takes no value"},
        {{"--state-dir"}, "needs a value"},
        {{"--state-dir", "d", "--silent-after", ""}, "empty command"},
        {{"--state-dir", "d", "--trickle", "0"}, "from 1 to 600000"},
        {{"--state-dir", "d", "--trickle-after", "ping"}, "--trickle-after needs --trickle"},
        {{"--state-dir", "d", "--trickle", "5", "--trickle-after", ""}, "empty command"},
    };
    for (const auto& c : cases) {
        DevsimOptions options;
        std::string error;
        bool ok = DevsimOptions::parse(c.args, options, error);
        std::string joined;
        for (const auto& a : c.args) joined += a + " ";
        if (!c.error) {
            EXPECT_TRUE(ok) << joined << ": " << error;
        } else {
            EXPECT_FALSE(ok) << joined;
            EXPECT_NE(error.find(c.error), std::string::npos) << joined << ": " << error;
        }
    }
    DevsimOptions options;
    std::string error;
    ASSERT_TRUE(DevsimOptions::parse({"--state-dir", "d", "--user", "a", "--password", "", "--user", "b", "--password",
                                      "x y", "--large-reply", "5000000", "--refuse", "127.0.0.2"},
                                     options, error));
    ASSERT_EQ(options.accounts.size(), 2u);
    EXPECT_EQ(options.accounts[1].password, "x y");
    EXPECT_EQ(options.faults.largeReplyBytes, 5000000u);
    EXPECT_EQ(options.listen, std::vector<std::string>{"127.0.0.1"}) << "the default listen address";
    EXPECT_TRUE(DevsimOptions::parse({"--help"}, options, error)) << "--help needs no state directory";
    EXPECT_TRUE(options.help);
}

}  // namespace

namespace {

TEST(VirtualFsTest, ClientPathsNeverLeaveTheRoot) {
    struct Case {
        const char* client;
        const char* normalized;
        bool writable;
    };
    const Case cases[] = {
        {"", "/", false},
        {"/", "/", false},
        {".", "/", false},
        {"DSK", "/DSK", false},
        {"/DSK/", "/DSK", false},
        {"/DSK/CONFIG.CFG", "/DSK/CONFIG.CFG", true},
        {"MEM//SYS.IMG", "/MEM/SYS.IMG", true},
        {"/DSK/./a/../b", "/DSK/b", true},
        {"/../../etc/passwd", "/etc/passwd", true},
        {"/DSK/../../..", "/", false},
        {"..", "/", false},
    };
    VirtualFs fs("/host/root");
    for (const auto& c : cases) {
        EXPECT_EQ(VirtualFs::normalize(c.client), c.normalized) << c.client;
        EXPECT_EQ(VirtualFs::writable(VirtualFs::normalize(c.client)), c.writable) << c.client;
    }
    EXPECT_EQ(fs.hostPath("/"), "/host/root");
    EXPECT_EQ(fs.hostPath(VirtualFs::normalize("/../../etc/passwd")), "/host/root/etc/passwd");
}

}  // namespace
