// What the simulated devices answer to the inventory and password
// dialogues, and how their passwords survive a reboot only when saved.
#include "tests/sim/ShellFixture.h"

namespace {

class AdminCommandsTest : public ShellFixture {
protected:
    // Reopens the state directory (after files were prepared).
    void reopen() {
        std::string error;
        state = DeviceState::open(options, error);
        ASSERT_TRUE(state) << error;
    }
    static bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
    std::string file(const std::string& name) const { return testsupport::readFile(state->path(name)); }
};

TEST_F(AdminCommandsTest, NexaInventoryVariablesAndTheBoardTable) {
    open(SimFamily::Nexa);
    testsupport::writeFile(
        state->path("variables"),
        "tmibAdmSystemId=SN-1\ntmibAdmBoardTable.tmibABrdPartNo=PN 7\ntmibAdmSWVersion=V.10.1.5.101\n");
    reopen();
    auto s = shell(false, false);
    EXPECT_TRUE(has(feed(*s, "y\n"), "serial SN-1"));
    EXPECT_EQ(feed(*s, "tmibABrdPartNo\n"), "tmibAdmBoardTable.tmibABrdPartNo.1(\"PN 7\")\r\nrouter1:admin> ");
    EXPECT_EQ(feed(*s, "tmibAdmSWVersion\n"), "tmibAdmSWVersion.0(\"V.10.1.5.101\")\r\nrouter1:admin> ");
    EXPECT_TRUE(has(feed(*s, "tmibABrdSerialNo\n"), "error: unknown command"));
    EXPECT_TRUE(has(feed(*s, "PartNo\n"), "error: unknown command")) << "a column is matched as a whole";
}

TEST_F(AdminCommandsTest, NexaPasswordsSurviveAPowerCycleOnlyWhenSaved) {
    open(SimFamily::Nexa);
    EXPECT_EQ(file("saved-passwords"), "admin admin\nread public\nwrite private\n");
    auto s = shell(false, false);
    std::string set = feed(*s, "tmibAdmAdminCommunity=\"new pw\" tmibAdmReadCommunity=\"r.1\"\n");
    EXPECT_TRUE(has(set, "tmibAdmAdminCommunity.0(\"new pw\")")) << set;
    EXPECT_TRUE(state->checkLogin("admin", "new pw"));
    EXPECT_FALSE(state->checkLogin("admin", "admin"));
    EXPECT_EQ(file("communities"), "read r.1\nwrite private\n");
    // Without a save a reboot brings the old ones back.
    state->recordShutdown();
    state->recordBoot();
    EXPECT_TRUE(state->checkLogin("admin", "admin"));
    EXPECT_EQ(state->community("read"), "public");

    feed(*s, "tmibAdmAdminCommunity=\"new pw\" tmibAdmWriteCommunity=w2\n");
    EXPECT_TRUE(has(feed(*s, "configd save all\n"), "wrong arguments"));
    EXPECT_EQ(file("saved-passwords"), "admin admin\nread public\nwrite private\n");
    // Saving the running configuration into any other one keeps no password.
    feed(*s, "configd save all backup\n");
    EXPECT_EQ(file("saved-passwords"), "admin admin\nread public\nwrite private\n");
    EXPECT_FALSE(has(feed(*s, "configd save all boot\n"), "error"));
    EXPECT_EQ(file("saved-passwords"), "admin new pw\nread public\nwrite w2\n");
    state->recordShutdown();
    state->recordBoot();
    EXPECT_TRUE(state->checkLogin("admin", "new pw"));
    EXPECT_EQ(state->community("write"), "w2");
    // The state directory keeps what was saved for the next start.
    reopen();
    EXPECT_TRUE(state->checkLogin("admin", "new pw"));
}

TEST_F(AdminCommandsTest, QxCliVersionReportAndPasswordsOfBothConfigurations) {
    open(SimFamily::QxCli, "rtr7");
    auto s = shell(false, false);
    feed(*s, "\x10");
    std::string monitor = feed(*s, "monitor\n");
    EXPECT_TRUE(has(monitor, "\r\nrtr7+")) << monitor;
    std::string report = feed(*s, "version\n");
    for (const char* line : {" S/N: ", " Router, ", "\r\nSoftware release: "}) EXPECT_TRUE(has(report, line)) << report;
    EXPECT_TRUE(has(feed(*s, "user admin password x\n"), "CLI Error")) << "not in the monitor";

    testsupport::writeFile(state->path("version"), "own report\nline 2");
    EXPECT_EQ(feed(*s, "version\n"), "own report\r\nline 2\r\nrtr7+");

    // The running configuration changes the password at once, the static
    // one only for the next boot, and only once saved.
    feed(*s, "\x10");
    feed(*s, "running-config\n");
    EXPECT_TRUE(has(feed(*s, "user admin password \"run pw\"\n"), "rtr7Config$"));
    EXPECT_TRUE(state->checkLogin("admin", "run pw"));
    feed(*s, "\x10");
    EXPECT_TRUE(has(feed(*s, "config\n"), "rtr7Config>"));
    feed(*s, "user admin password \"static pw\"\n");
    EXPECT_TRUE(state->checkLogin("admin", "run pw")) << "the static configuration is not the running one";
    EXPECT_TRUE(has(feed(*s, "user admin password\n"), "CLI Error"));
    state->recordShutdown();
    state->recordBoot();
    EXPECT_TRUE(state->checkLogin("admin", "admin")) << "nothing was saved";

    feed(*s, "user admin password \"static pw\"\n");
    std::string saved = feed(*s, "save yes\n");
    EXPECT_TRUE(has(saved, "Configuration saved.")) << saved;
    EXPECT_EQ(file("saved-passwords"), "admin static pw\n");
    EXPECT_TRUE(has(feed(*s, "save\n"), "(Yes/No)"));
    feed(*s, "no\n");
    state->recordShutdown();
    state->recordBoot();
    EXPECT_TRUE(state->checkLogin("admin", "static pw"));
}

}  // namespace
