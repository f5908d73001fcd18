#include "sim/QxCliShell.h"

#include "tests/sim/ShellFixture.h"

namespace {

class QxCliShellTest : public ShellFixture {
protected:
    void SetUp() override { open(SimFamily::QxCli, "rtr7"); }

    static bool endsWith(const std::string& text, const std::string& tail) {
        return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
    }
};

TEST_F(QxCliShellTest, TelnetLoginShowsThePromptPrefixTheProductExtracts) {
    auto s = shell(true);
    EXPECT_EQ(greeting, "\r\nqx.CLI router rtr7\r\n\r\nUser: ");
    EXPECT_FALSE(hasAny(greeting.substr(0, greeting.size() - 6), {"*", ">", "Login:", "User:", "Password:"}));
    EXPECT_EQ(feed(*s, "admin\r\n"), "admin\r\nPassword: ");
    std::string refused = feed(*s, "nope\r\n");
    EXPECT_EQ(refused, "\r\nAccess denied.\r\n\r\nUser: ");
    EXPECT_EQ(refused.find("*"), std::string::npos);

    feed(*s, "admin\r\n");
    std::string accepted = feed(*s, "admin\r\n");
    EXPECT_TRUE(s->loggedIn());
    EXPECT_EQ(promptPrefix(accepted), "\nrtr7") << accepted;
    EXPECT_TRUE(endsWith(accepted, "\r\nrtr7*"));
    EXPECT_EQ(accepted.find("Password:"), std::string::npos);
}

TEST_F(QxCliShellTest, BannerFollowsEveryLoginAndRefusalTextPrecedesTheNewPrompt) {
    options.banner = "*** authorised access only ***\n  see /usr/share/doc/*/copyright > here";
    options.loginRefusal = "Access denied -> contact your administrator";
    auto s = shell(true);
    feed(*s, "admin\r\n");
    EXPECT_EQ(feed(*s, "wrong\r\n"), "\r\nAccess denied -> contact your administrator\r\n\r\nUser: ");
    feed(*s, "admin\r\n");
    EXPECT_EQ(feed(*s, "admin\r\n"),
              "\r\nLogin successful.\r\n*** authorised access only ***\r\n  see /usr/share/doc/*/copyright > here\r\n"
              "rtr7*");
    auto ssh = shell(false, true);
    EXPECT_EQ(greeting,
              "\r\nqx.CLI router rtr7\r\n\r\nLogin successful.\r\n*** authorised access only ***\r\n  see "
              "/usr/share/doc/*/copyright > here\r\nrtr7*");
}

TEST_F(QxCliShellTest, SshSessionGreetsWithThePrefixedMainPrompt) {
    auto s = shell(false, true);
    EXPECT_EQ(promptPrefix(greeting), "\nrtr7");
    EXPECT_EQ(greeting.find("User:"), std::string::npos);
    // On a pty session the device echoes what is typed.
    EXPECT_EQ(feed(*s, "running-config\n"), "running-config\r\nrtr7Config$");
}

// The product's login sequence: shell time-out off through the running
// configuration, where 0x10 at the end of the command returns to the
// main process; logout with its confirmation.
TEST_F(QxCliShellTest, InactivityTimerProcessSwitchAndLogout) {
    options.shellTimeoutSeconds = 900;
    auto s = telnetLoggedIn();
    EXPECT_EQ(feed(*s, "running-config\r\n"), "running-config\r\nrtr7Config$");
    std::string off = feed(*s, "set inactivity-timer disabled\x10\r\n");
    EXPECT_NE(off.find("\nrtr7*"), std::string::npos) << off;
    EXPECT_TRUE(endsWith(off, "\nrtr7*"));
    EXPECT_EQ(off.find("rtr7*"), off.rfind("rtr7*")) << "the line end after the switch byte shows no second prompt";
    EXPECT_EQ(s->idleTimeoutSeconds(), 0);
    for (const char* end : {"\n", "\r"}) {
        std::string again = feed(*s, std::string("running-config\r\n"));
        again = feed(*s, std::string("set inactivity-timer disabled\x10") + end);
        EXPECT_EQ(again.find("rtr7*"), again.rfind("rtr7*")) << again;
    }

    std::string question = feed(*s, "\x10logout\r\n");
    EXPECT_NE(question.find("\nrtr7*"), std::string::npos) << "the switch shows the main prompt at once";
    EXPECT_TRUE(endsWith(question, "(Yes/No) ")) << question;
    EXPECT_EQ(s->ending(), Shell::Ending::None);
    std::string closed = feed(*s, "yes\r\n");
    EXPECT_NE(closed.find("closed"), std::string::npos);
    EXPECT_EQ(closed.find("*"), std::string::npos);
    EXPECT_EQ(s->ending(), Shell::Ending::Close);

    auto kept = telnetLoggedIn();
    feed(*kept, "logout\r\n");
    EXPECT_TRUE(endsWith(feed(*kept, "no\r\n"), "\r\nrtr7*")) << "no keeps the session";
    EXPECT_EQ(kept->ending(), Shell::Ending::None);

    std::string logged = testsupport::readFile(state->path("transcript"));
    EXPECT_NE(logged.find("<<< set inactivity-timer disabled\\x10\n"), std::string::npos);
    EXPECT_NE(logged.find("<<< \\x10logout\n"), std::string::npos);
}

TEST_F(QxCliShellTest, RestartWithYesAndWithConfirmation) {
    auto s = telnetLoggedIn();
    feed(*s, "running-config\r\n");
    std::string restart = feed(*s, "\x10restart yes\r\n");
    // Over Telnet the product waits for the main prompt, over SSH for "closed".
    EXPECT_NE(restart.find("\nrtr7*"), std::string::npos);
    EXPECT_NE(restart.find("closed"), std::string::npos);
    EXPECT_EQ(s->ending(), Shell::Ending::Reboot);

    auto asked = telnetLoggedIn();
    EXPECT_TRUE(endsWith(feed(*asked, "restart\r\n"), "(Yes/No) "));
    EXPECT_TRUE(endsWith(feed(*asked, "NO\r\n"), "rtr7*"));
    EXPECT_EQ(asked->ending(), Shell::Ending::None);
    feed(*asked, "restart\r\n");
    feed(*asked, "Yes\r\n");
    EXPECT_EQ(asked->ending(), Shell::Ending::Reboot);
    EXPECT_NE(feed(*telnetLoggedIn(), "restart now\r\n").find("CLI Error: Invalid parameter"), std::string::npos);
}

TEST_F(QxCliShellTest, SshServerIsEnabledThroughTheRunningConfiguration) {
    options.faults.noSsh = true;
    std::string error;
    state = DeviceState::open(options, error);
    ASSERT_TRUE(state) << error;
    ASSERT_FALSE(state->sshAvailable());
    auto s = telnetLoggedIn();
    EXPECT_TRUE(endsWith(feed(*s, "running-config\r\n"), "\nrtr7Config$"));
    EXPECT_TRUE(endsWith(feed(*s, "feature ssh\r\n"), "\nrtr7SSH Config$"));
    EXPECT_TRUE(endsWith(feed(*s, "server\r\n"), "\nrtr7SSHS$"));
    std::string disabled = feed(*s, "list enable\r\n");
    EXPECT_NE(disabled.find("Server status: disabled"), std::string::npos);
    EXPECT_EQ(disabled.find("Server status: enabled"), std::string::npos);
    EXPECT_TRUE(endsWith(disabled, "\nrtr7SSHS$"));
    std::string enable = feed(*s, "enable\r\n");
    EXPECT_TRUE(endsWith(enable, "\nrtr7SSHS$"));
    EXPECT_EQ(enable.find("Server status"), std::string::npos);
    EXPECT_TRUE(state->sshAvailable());
    EXPECT_NE(feed(*s, "list enable\r\n").find("Server status: enabled"), std::string::npos);
    EXPECT_EQ(testsupport::readFile(state->path("ssh")), "keys yes\nservice enabled\n");

    feed(*s, "disable\r\n");
    EXPECT_FALSE(state->sshAvailable());
}

TEST_F(QxCliShellTest, EveryModeHasItsPromptAndExitGoesUpOneLevel) {
    auto s = telnetLoggedIn();
    struct Step {
        const char* command;
        const char* prompt;
    };
    const Step steps[] = {
        {"monitor", "\nrtr7+"},
        {"exit", "\nrtr7*"},
        {"config", "\nrtr7Config>"},
        {"exit", "\nrtr7*"},
        {"running-config", "\nrtr7Config$"},
        {"set ftp", "\nrtr7FTP config$"},
        {"exit", "\nrtr7Config$"},
        {"feature ssh", "\nrtr7SSH Config$"},
        {"server", "\nrtr7SSHS$"},
        {"exit", "\nrtr7SSH Config$"},
        {"exit", "\nrtr7Config$"},
        {"exit", "\nrtr7*"},
    };
    for (const auto& step : steps)
        EXPECT_TRUE(endsWith(feed(*s, std::string(step.command) + "\r\n"), step.prompt)) << step.command;

    // A command of another mode is not known here, and the mode stays.
    for (const char* foreign : {"enable", "server", "set inactivity-timer disabled", "t 0", "exit"}) {
        std::string reply = feed(*s, std::string(foreign) + "\r\n");
        EXPECT_NE(reply.find("CLI Error: Command not recognized"), std::string::npos) << foreign;
        EXPECT_TRUE(endsWith(reply, "\nrtr7*")) << foreign;
    }
    EXPECT_NE(feed(*s, "running-config now\r\n").find("CLI Error: Invalid parameter"), std::string::npos);
    feed(*s, "running-config\r\n");
    EXPECT_NE(feed(*s, "set inactivity-timer sometimes\r\n").find("CLI Error"), std::string::npos);
    feed(*s, "set inactivity-timer 5\r\n");
    EXPECT_EQ(s->idleTimeoutSeconds(), 300);
    // The switch byte leaves any depth at once.
    feed(*s, "feature ssh\r\nserver\r\n");
    EXPECT_TRUE(endsWith(feed(*s, "\x10"), "\r\nrtr7*"));
}

TEST_F(QxCliShellTest, PingReportsPacketsReceivedOrNone) {
    auto s = telnetLoggedIn();
    std::string ok = feed(*s, "ping 10.0.0.254 num-pings 10 source 10.0.0.1\r\n");
    EXPECT_NE(ok.find("10 packets transmitted, 10 packets received"), std::string::npos) << ok;
    EXPECT_EQ(ok.find(" 0 packets received"), std::string::npos);
    EXPECT_TRUE(endsWith(ok, "\r\nrtr7*"));
    EXPECT_EQ(ok.find(">"), std::string::npos);
    for (const char* bad :
         {"ping\r\n", "ping 1.2.3.4 num-pings\r\n", "ping 1.2.3.4 num-pings 0\r\n", "ping 1.2.3.4 size 9\r\n"}) {
        std::string reply = feed(*s, bad);
        EXPECT_NE(reply.find("CLI Error"), std::string::npos) << bad;
        EXPECT_EQ(reply.find("packets"), std::string::npos) << bad;
    }
    options.faults.pingFails = true;
    std::string failed = feed(*s, "ping 10.0.0.254 num-pings 10 source 10.0.0.1\r\n");
    EXPECT_NE(failed.find(" 0 packets received"), std::string::npos) << failed;
    EXPECT_TRUE(endsWith(failed, "\r\nrtr7*"));
}

}  // namespace
