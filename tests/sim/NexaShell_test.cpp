#include "sim/NexaShell.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "sim/FallbackTimer.h"
#include "tests/sim/ShellFixture.h"

namespace {

class NexaShellTest : public ShellFixture {
protected:
    void SetUp() override { open(SimFamily::Nexa); }
};

TEST_F(NexaShellTest, TelnetLoginAsksUserAndPasswordAndRetriesAfterAWrongPassword) {
    testsupport::writeFile(state->path("users"), "admin secret word\nguest\n");
    options.accounts.clear();
    std::string error;
    state = DeviceState::open(options, error);
    ASSERT_TRUE(state) << error;

    auto s = shell(true);
    EXPECT_EQ(greeting, "\r\nrouter1 - NEXA router\r\n\r\nLogin: ");
    // The banner before the prompt holds nothing the product waits for.
    EXPECT_FALSE(hasAny(greeting.substr(0, greeting.size() - 7), {"*", ">", "Login:", "User:", "Password:"}));

    EXPECT_EQ(feed(*s, "admin\r\n"), "admin\r\nPassword: ");
    std::string refused = feed(*s, "wrong\r\n");
    EXPECT_EQ(refused, "\r\nLogin incorrect\r\n\r\nLogin: ") << "the password is never echoed";
    EXPECT_FALSE(s->loggedIn());

    // An unknown user is asked for a password too, and refused.
    EXPECT_EQ(feed(*s, "nobody\r\n"), "nobody\r\nPassword: ");
    EXPECT_NE(feed(*s, "x\r\n").find("Login: "), std::string::npos);

    feed(*s, "admin\r\n");
    std::string accepted = feed(*s, "secret word\r\n");
    EXPECT_TRUE(s->loggedIn());
    EXPECT_NE(accepted.find(">"), std::string::npos);
    EXPECT_NE(accepted.find(":admin>"), std::string::npos);
    EXPECT_EQ(accepted.substr(accepted.size() - 16), "\nrouter1:admin> ");
    EXPECT_EQ(accepted.find("Login:"), std::string::npos);

    // A user without a password gets in at once.
    auto guest = shell(true);
    std::string direct = feed(*guest, "guest\r\n");
    EXPECT_TRUE(guest->loggedIn());
    EXPECT_EQ(direct.find("Password:"), std::string::npos);
    EXPECT_NE(direct.find(":admin> "), std::string::npos);
}

TEST_F(NexaShellTest, BannerFollowsTheLoginAndRefusalTextPrecedesTheNewPrompt) {
    options.banner = "Notice: > maintenance tonight\n";
    options.loginRefusal = "Access denied -> contact your administrator";
    auto s = shell(true);
    feed(*s, "admin\r\n");
    EXPECT_EQ(feed(*s, "wrong\r\n"), "\r\nAccess denied -> contact your administrator\r\n\r\nLogin: ");
    EXPECT_FALSE(s->loggedIn());
    feed(*s, "admin\r\n");
    EXPECT_EQ(feed(*s, "admin\r\n"), "\r\nWelcome admin.\r\nNotice: > maintenance tonight\r\nrouter1:admin> ");
    EXPECT_TRUE(s->loggedIn());
}

TEST_F(NexaShellTest, FreshDeviceReportsItsFactoryFactsAndTimerVariables) {
    FallbackTimer timer([] {});
    fallbackTimer = &timer;
    auto s = telnetLoggedIn();
    EXPECT_EQ(feed(*s, "tmibAdmSystemId\r\n"),
              "tmibAdmSystemId\r\ntmibAdmSystemId.0(\"NX-SN-000001\")\r\nrouter1:admin> ");
    EXPECT_NE(feed(*s, "tmibABrdPartNo\r\n").find("tmibAdmBoardTable.tmibABrdPartNo.1(\"NX-4400/2\")"),
              std::string::npos);
    EXPECT_NE(feed(*s, "tmibAdmSWVersion\r\n").find("tmibAdmSWVersion.0(\"V.7.10 Rev. 2 IPSec\")"), std::string::npos);
    EXPECT_NE(feed(*s, "tmibAdmConfigCmd\r\n").find("tmibAdmConfigCmd.0(\"none\")"), std::string::npos);
    EXPECT_NE(feed(*s, "tmibAdmConfigTimeout\r\n").find("tmibAdmConfigTimeout.0(\"-1\")"), std::string::npos);
    feed(*s, "tmibAdmConfigCmd=reboot tmibAdmConfigTimeout=600\r\n");
    EXPECT_NE(feed(*s, "tmibAdmConfigCmd\r\n").find("tmibAdmConfigCmd.0(\"reboot\")"), std::string::npos);
    EXPECT_NE(feed(*s, "tmibAdmConfigTimeout\r\n").find("tmibAdmConfigTimeout.0(\"600\")"), std::string::npos);
    timer.cancel();
    // The facts are the device's state from now on.
    EXPECT_EQ(testsupport::readFile(state->path("variables")),
              "tmibAdmBoardTable.tmibABrdPartNo=NX-4400/2\ntmibAdmSWVersion=V.7.10 Rev. 2 "
              "IPSec\ntmibAdmSystemId=NX-SN-000001\n");
}

TEST_F(NexaShellTest, SshSessionStartsAtThePromptTheLoginPatternMatches) {
    auto s = shell(false, false);
    EXPECT_TRUE(s->loggedIn());
    EXPECT_TRUE(matchesNexaSshPrompt(greeting)) << greeting;
    EXPECT_EQ(greeting.find("Login:"), std::string::npos);
    EXPECT_EQ(greeting.find("Password:"), std::string::npos);
    EXPECT_EQ(greeting.substr(greeting.size() - 15), "router1:admin> ");
    // Without a terminal the device does not echo.
    EXPECT_EQ(feed(*s, "t 0\n"), "shell time-out off\r\nrouter1:admin> ");
}

TEST_F(NexaShellTest, ShellTimeoutExitAndReboot) {
    options.shellTimeoutSeconds = 600;
    auto s = telnetLoggedIn();
    EXPECT_EQ(s->idleTimeoutSeconds(), 600);
    EXPECT_EQ(feed(*s, "t 5\r\n"), "t 5\r\nshell time-out 5 minutes\r\nrouter1:admin> ");
    EXPECT_EQ(s->idleTimeoutSeconds(), 300);
    EXPECT_EQ(feed(*s, "t 0\r\n"), "t 0\r\nshell time-out off\r\nrouter1:admin> ");
    EXPECT_EQ(s->idleTimeoutSeconds(), 0);
    EXPECT_NE(feed(*s, "t soon\r\n").find("error: usage"), std::string::npos);

    // "cmd=reboot" shows the prompt and then the device goes down.
    std::string reboot = feed(*s, "cmd=reboot\r\n");
    EXPECT_EQ(s->ending(), Shell::Ending::Reboot);
    EXPECT_EQ(reboot.substr(reboot.size() - 15), "router1:admin> ");
    EXPECT_EQ(feed(*s, "t 0\r\n"), "") << "nothing is read after the session ended";

    auto other = telnetLoggedIn();
    EXPECT_EQ(feed(*other, "exit\r\n"), "exit\r\n");
    EXPECT_EQ(other->ending(), Shell::Ending::Close);
}

TEST_F(NexaShellTest, IdleTimeoutEndsTheSession) {
    auto s = telnetLoggedIn();
    s->idleExpired();
    EXPECT_EQ(s->ending(), Shell::Ending::Close);
    EXPECT_NE(s->takeOutput().find("Idle time-out"), std::string::npos);
}

TEST_F(NexaShellTest, PingReportsPacketsReceivedOrNone) {
    auto s = telnetLoggedIn();
    std::string ok = feed(*s, "ping -c 10 -s 10.0.0.1 10.0.0.254\r\n");
    EXPECT_NE(ok.find("10 packets transmitted, 10 packets received"), std::string::npos) << ok;
    EXPECT_EQ(ok.find(" 0 packets received"), std::string::npos);
    EXPECT_NE(ok.find("from 10.0.0.1"), std::string::npos);
    EXPECT_EQ(ok.substr(ok.size() - 15), "router1:admin> ");
    EXPECT_EQ(ok.substr(0, ok.find("\r\n") + 2), "ping -c 10 -s 10.0.0.1 10.0.0.254\r\n");

    for (const char* bad : {"ping\r\n", "ping -c\r\n", "ping -c x 1.2.3.4\r\n", "ping -q 1.2.3.4\r\n"}) {
        std::string reply = feed(*s, bad);
        EXPECT_NE(reply.find("error: usage: ping"), std::string::npos) << bad;
        EXPECT_EQ(reply.find("packets"), std::string::npos) << bad;
    }

    options.faults.pingFails = true;
    std::string failed = feed(*s, "ping -c 10 -s 10.0.0.1 10.0.0.254\r\n");
    EXPECT_NE(failed.find("10 packets transmitted, 0 packets received"), std::string::npos) << failed;
    EXPECT_NE(failed.find(" 0 packets received"), std::string::npos);
    EXPECT_EQ(failed.find("64 bytes"), std::string::npos);
    EXPECT_EQ(failed.substr(failed.size() - 15), "router1:admin> ");
}

// The product's two passes: the first makes the keys, the second starts
// the daemon; each pass is "update -i", "dir", "exit" and then "ssh-keygen
// ..." or "sshd".
TEST_F(NexaShellTest, SshIsEnabledInTwoPassesOverTheUpdateShell) {
    options.faults.noSsh = true;
    std::string error;
    state = DeviceState::open(options, error);
    ASSERT_TRUE(state) << error;
    int changes = 0;
    state->setSshObserver([&changes] { ++changes; });
    ASSERT_FALSE(state->sshAvailable());
    auto s = telnetLoggedIn();

    std::string update = feed(*s, "update -i\r\n");
    EXPECT_NE(update.find(">"), std::string::npos);
    EXPECT_EQ(update.substr(update.size() - 16), "router1:update> ");
    std::string dir = feed(*s, "dir\r\n");
    EXPECT_EQ(dir.find("pub"), std::string::npos) << dir;
    EXPECT_NE(dir.find(">"), std::string::npos);
    EXPECT_EQ(feed(*s, "exit\r\n").substr(0, 6), "exit\r\n");
    EXPECT_EQ(s->ending(), Shell::Ending::None) << "exit leaves only the update shell";
    EXPECT_NE(feed(*s, "sshd\r\n").find("no host keys"), std::string::npos);
    EXPECT_FALSE(state->sshServiceEnabled());
    std::string keygen = feed(*s, "ssh-keygen -q -t rsa -b 1024 -f sshd_host_rsa_key -N ''\r\n");
    EXPECT_EQ(keygen, "ssh-keygen -q -t rsa -b 1024 -f sshd_host_rsa_key -N ''\r\nrouter1:admin> ");
    EXPECT_TRUE(state->sshKeysPresent());
    EXPECT_FALSE(state->sshAvailable());

    feed(*s, "update -i\r\n");
    EXPECT_NE(feed(*s, "dir\r\n").find("sshd_host_rsa_key.pub"), std::string::npos);
    EXPECT_NE(feed(*s, "exit\r\n").find(":admin> "), std::string::npos);
    std::string sshd = feed(*s, "sshd\r\n");
    EXPECT_NE(sshd.find("started"), std::string::npos);
    EXPECT_EQ(sshd.substr(sshd.size() - 15), "router1:admin> ");
    EXPECT_TRUE(state->sshAvailable());
    EXPECT_GE(changes, 2);
    EXPECT_EQ(testsupport::readFile(state->path("ssh")), "keys yes\nservice enabled\n");
    EXPECT_NE(feed(*s, "sshd\r\n").find("already running"), std::string::npos);
    EXPECT_NE(feed(*s, "ssh-keygen -q\r\n").find("error: usage"), std::string::npos);
}

TEST_F(NexaShellTest, VariablesAreShownAndAssignedAndUnknownCommandsRefused) {
    testsupport::writeFile(state->path("variables"), "tmibAdmSystemId=SN-0001\ntmibAdmConfigTimeout=-1\n");
    std::string error;
    state = DeviceState::open(options, error);
    ASSERT_TRUE(state) << error;
    auto s = telnetLoggedIn();

    EXPECT_EQ(feed(*s, "tmibAdmSystemId\r\n"), "tmibAdmSystemId\r\ntmibAdmSystemId.0(\"SN-0001\")\r\nrouter1:admin> ");
    std::string set = feed(*s, "tmibAdmSystemId=\"SN 2\" tmibAdmConfigTimeout=600\r\n");
    EXPECT_NE(set.find("tmibAdmSystemId.0(\"SN 2\")"), std::string::npos) << set;
    EXPECT_NE(set.find("tmibAdmConfigTimeout.0(\"600\")"), std::string::npos) << set;
    EXPECT_EQ(testsupport::readFile(state->path("variables")), "tmibAdmConfigTimeout=600\ntmibAdmSystemId=SN 2\n");

    std::string unknownVariable = feed(*s, "tmibNoSuchThing=1\r\n");
    EXPECT_NE(unknownVariable.find("error: unknown variable"), std::string::npos);
    EXPECT_NE(feed(*s, "tmibAdmSystemId=\"open\r\n").find("error: missing closing quote"), std::string::npos);
    EXPECT_NE(feed(*s, "cmd=shutdown\r\n").find("error:"), std::string::npos);
    EXPECT_EQ(s->ending(), Shell::Ending::None);

    for (const char* unknown : {"configd frobnicate\r\n", "dir\r\n", "tmibAdmReadCommunity\r\n"}) {
        std::string reply = feed(*s, unknown);
        EXPECT_NE(reply.find("error: unknown command"), std::string::npos) << unknown;
        EXPECT_EQ(reply.substr(reply.size() - 15), "router1:admin> ") << unknown;
    }
    EXPECT_EQ(feed(*s, "\r\n"), "\r\nrouter1:admin> ") << "an empty line shows the prompt again";
}

TEST_F(NexaShellTest, LineDisciplineJoinsPiecesAndCutsOverlongLines) {
    auto s = telnetLoggedIn();
    // A command split over several receives, ended by CR LF in two pieces.
    EXPECT_EQ(feed(*s, "t"), "t");
    EXPECT_EQ(feed(*s, " 0\r"), " 0\r\nshell time-out off\r\nrouter1:admin> ");
    EXPECT_EQ(feed(*s, "\n"), "") << "the LF of a CR LF is no second line";
    // LF alone and CR NUL end a line too; backspace erases.
    EXPECT_NE(feed(*s, "t 0\n").find("time-out off"), std::string::npos);
    EXPECT_NE(feed(*s, std::string("t 0\r\0", 5)).find("time-out off"), std::string::npos);
    EXPECT_NE(feed(*s, "t 9\b0\r\n").find("time-out off"), std::string::npos);

    // 100 KB without a line end: the device keeps at most one line's worth
    // and echoes no more than that, then refuses the line.
    std::string flood(100000, 'x');
    std::string echoed = feed(*s, flood);
    EXPECT_EQ(echoed.size(), Shell::maxLineBytes);
    std::string refused = feed(*s, "\r\n");
    EXPECT_NE(refused.find("Line too long"), std::string::npos);
    EXPECT_EQ(refused.substr(refused.size() - 15), "router1:admin> ");
    EXPECT_NE(feed(*s, "t 0\r\n").find("time-out off"), std::string::npos) << "the next line is fine again";

    // Every byte value, in and out of lines: the shell keeps answering.
    std::string binary;
    for (int i = 0; i < 256; ++i) binary += static_cast<char>(i);
    feed(*s, binary + binary);
    EXPECT_EQ(s->ending(), Shell::Ending::None);
    EXPECT_NE(feed(*s, "\r\nt 0\r\n").find("time-out off"), std::string::npos);

    std::string logged = testsupport::readFile(state->path("transcript"));
    EXPECT_NE(logged.find("telnet#1 <<< t 0\n"), std::string::npos);
    EXPECT_NE(logged.find("telnet#1 <<< " + std::string(256, 'x') + "... [overlong line of 100000 bytes ignored]\n"),
              std::string::npos);
    EXPECT_NE(logged.find("telnet#1 >>> shell time-out off\\r\\nrouter1:admin> \n"), std::string::npos);
}

TEST_F(NexaShellTest, FaultsSilenceCutAndInflateReplies) {
    options.faults.silentAfter = "ping";
    options.faults.closeMidReply = "tmib";
    options.faults.largeReplyBytes = 1 << 20;
    auto s = telnetLoggedIn();

    std::string large = feed(*s, "t 0\r\n");
    EXPECT_GE(large.size(), size_t(1) << 20);
    EXPECT_EQ(large.substr(large.size() - 15), "router1:admin> ");
    std::string filler = large.substr(5, large.size() - 5 - 15);
    EXPECT_FALSE(hasAny(filler, {">", "*", "Login:", "Password:"}));

    auto cut = telnetLoggedIn();
    std::string half = feed(*cut, "tmibAdmSystemId\r\n");
    EXPECT_EQ(cut->ending(), Shell::Ending::Drop);
    EXPECT_LT(half.size(), large.size());
    EXPECT_EQ(half.find("router1:admin> "), std::string::npos) << "the prompt is in the lost half";

    EXPECT_EQ(feed(*s, "ping -c 1 10.0.0.1\r\n"), "ping -c 1 10.0.0.1\r\n") << "the echo, then silence";
    EXPECT_EQ(feed(*s, "t 0\r\n"), "");
    s->idleExpired();
    EXPECT_EQ(s->ending(), Shell::Ending::None) << "a silent device does not end the session either";
    EXPECT_NE(testsupport::readFile(state->path("transcript")).find("telnet#1 <<< t 0"), std::string::npos)
        << "what the silent device is told is still recorded";
}

}  // namespace

namespace {

class NexaTimerTest : public NexaShellTest {
protected:
    void SetUp() override {
        NexaShellTest::SetUp();
        fallbackTimer = &timer;
    }
    FallbackTimer timer{[this] { ++expired; }};
    std::atomic<int> expired{0};
};

TEST_F(NexaTimerTest, TheDelayedRebootIsArmedShownCancelledAndRefusedWhenMalformed) {
    auto s = shell(false, false);
    EXPECT_EQ(feed(*s, "tmibAdmConfigCmd=reboot tmibAdmConfigTimeout=600\n"),
              "tmibAdmConfigCmd.1.1(reboot)\r\ntmibAdmConfigTimeout.1.1(600)\r\nrouter1:admin> ");
    EXPECT_GT(timer.remaining(), 590);
    EXPECT_NE(feed(*s, "tmibAdmConfigTimeout.1.1\n").find("tmibAdmConfigTimeout.1.1(6"), std::string::npos);
    // Only the armed instance's name is known; -1 cancels, also twice.
    EXPECT_NE(feed(*s, "tmibAdmConfigTimeout.1.2=-1\n").find("error: unknown variable tmibAdmConfigTimeout.1.2"),
              std::string::npos);
    EXPECT_GT(timer.remaining(), 0);
    EXPECT_EQ(feed(*s, "tmibAdmConfigTimeout.1.1=-1\n"), "tmibAdmConfigTimeout.1.1(-1)\r\nrouter1:admin> ");
    EXPECT_EQ(timer.remaining(), -1);
    EXPECT_EQ(feed(*s, "tmibAdmConfigTimeout.1.1=-1\n"), "tmibAdmConfigTimeout.1.1(-1)\r\nrouter1:admin> ");
    // A new count-down needs a pending command.
    EXPECT_NE(feed(*s, "tmibAdmConfigTimeout.1.1=30\n").find("error: tmibAdmConfigTimeout.1.1: no delayed command"),
              std::string::npos);
    EXPECT_EQ(timer.remaining(), -1);

    for (const char* bad :
         {"tmibAdmConfigCmd=reboot tmibAdmConfigTimeout=", "tmibAdmConfigCmd=reboot tmibAdmConfigTimeout=0",
          "tmibAdmConfigCmd=reboot tmibAdmConfigTimeout=-1", "tmibAdmConfigCmd=reboot tmibAdmConfigTimeout=ten",
          "tmibAdmConfigCmd=halt tmibAdmConfigTimeout=60", "tmibAdmConfigTimeout=60"}) {
        std::string reply = feed(*s, std::string(bad) + "\n");
        EXPECT_NE(reply.find("error: "), std::string::npos) << bad << ": " << reply;
        EXPECT_EQ(reply.find("tmibAdmConfigTimeout.1.1("), std::string::npos) << bad;
        EXPECT_EQ(timer.remaining(), -1) << bad;
        EXPECT_EQ(s->ending(), Shell::Ending::None) << bad;
    }
    EXPECT_EQ(expired, 0);
    // Without a timeout the configuration command runs at once.
    feed(*s, "tmibAdmConfigCmd=reboot\n");
    EXPECT_EQ(s->ending(), Shell::Ending::Reboot);
    std::string log = testsupport::readFile(state->path("transcript"));
    EXPECT_NE(log.find("fallback timer armed: reboot in 600 seconds (tmibAdmConfigTimeout.1.1)"), std::string::npos);
    EXPECT_NE(log.find("fallback timer cancelled, none was armed"), std::string::npos);
}

TEST_F(NexaTimerTest, OtherInstanceNumbersAndADeviceWithoutTimer) {
    options.fallbackInstance = "3.17";
    auto s = shell(false, false);
    EXPECT_EQ(feed(*s, "tmibAdmConfigCmd=reboot tmibAdmConfigTimeout=5\n"),
              "tmibAdmConfigCmd.3.17(reboot)\r\ntmibAdmConfigTimeout.3.17(5)\r\nrouter1:admin> ");
    EXPECT_EQ(feed(*s, "tmibAdmConfigTimeout.3.17=-1\n"), "tmibAdmConfigTimeout.3.17(-1)\r\nrouter1:admin> ");

    // The option takes two numbers joined by a dot, nothing else.
    DevsimOptions parsed;
    std::string error;
    for (const char* bad : {"1", "1.", ".1", "a.1", "1.2.3", "1.-2", "123456.1"})
        EXPECT_FALSE(DevsimOptions::parse({"--state-dir", "s", "--fallback-instance", bad}, parsed, error)) << bad;
    ASSERT_TRUE(DevsimOptions::parse({"--state-dir", "s", "--fallback-instance", "12.345"}, parsed, error)) << error;
    EXPECT_EQ(parsed.fallbackInstance, "12.345");

    fallbackTimer = nullptr;
    auto old = shell(false, false);
    EXPECT_EQ(feed(*old, "tmibAdmConfigCmd=reboot tmibAdmConfigTimeout=5\n"),
              "error: unknown variable tmibAdmConfigCmd\r\nrouter1:admin> ");
    EXPECT_EQ(timer.remaining(), -1);
}

// The timer on its own: it runs out not before its seconds, a cancelled or
// re-armed one does not, and its end while armed drops it silently.
TEST(FallbackTimer, RunsOutCancelsRearmsAndStops) {
    std::mutex mutex;
    std::condition_variable ran;
    int expiries = 0;
    FallbackTimer timer([&] {
        std::lock_guard<std::mutex> lock(mutex);
        ++expiries;
        ran.notify_all();
    });
    EXPECT_EQ(timer.remaining(), -1);
    EXPECT_FALSE(timer.cancel());

    auto start = std::chrono::steady_clock::now();
    timer.arm(1);
    EXPECT_LE(timer.remaining(), 1);
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(ran.wait_for(lock, std::chrono::seconds(30), [&] { return expiries == 1; }));
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(timer.remaining(), -1);

    // Re-armed to a longer time just before it runs out: it waits anew, and
    // a cancel ends it for good.
    timer.arm(1);
    timer.arm(600);
    EXPECT_GT(timer.remaining(), 598);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_TRUE(timer.cancel());
    EXPECT_EQ(timer.remaining(), -1);

    {
        FallbackTimer armed([&] { ++expiries; });
        armed.arm(600);
    }  // joined without running out
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(expiries, 1);
}

}  // namespace
