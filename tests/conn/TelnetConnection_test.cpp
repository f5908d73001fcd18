// The Telnet connection against devsim over real TCP on loopback.
#include <signal.h>
#include <time.h>

#include "tests/conn/ConnFixture.h"
#include "util/connection.h"

using conntest::ConnFixture;

namespace {

class TelnetConnectionTest : public ConnFixture {
protected:
    void SetUp() override {
        // A write to a gone peer must not depend on the program ignoring
        // SIGPIPE: the tests run with the default action, which would end
        // the test process.
        struct sigaction action = {};
        action.sa_handler = SIG_DFL;
        sigaction(SIGPIPE, &action, nullptr);
    }

    bool hasWriteFailure() const {
        for (const auto& error : lines("ERR"))
            if (error.rfind("Telnet-write failed: ", 0) == 0) return true;
        return false;
    }

    static void pauseMs(int ms) {
        timespec pause = {0, ms * 1000000L};
        nanosleep(&pause, nullptr);
    }

    // Position of the first transcript line that contains text, npos if none.
    size_t inTranscript(const std::string& text) const { return device.transcript().find(text); }
};

TEST_F(TelnetConnectionTest, BothAddressesRefusedAfterThreePauses) {
    startDevice({"--family", "nexa", "--listen", "127.0.0.1", "--listen", "127.0.0.2", "--refuse", "127.0.0.1",
                 "--refuse", "127.0.0.2"});
    ConnectSettings settings = settingsFor("127.0.0.1", "127.0.0.2");
    settings.startWithFallback = true;
    double started = now();
    {
        connection telnet(&log, DeviceFamily("NEXA"));
        EXPECT_FALSE(telnet.connect(settings, {{"admin", "admin", "(supplied)"}}));
        EXPECT_FALSE(telnet.isConnected());
        // One pause per refused address and one for giving up.
        EXPECT_GE(now() - started, 6.0);
        EXPECT_EQ(telnet.cTypeStr(), "Telnet");
    }
    size_t first = find("INF", "Telnet-connecting to host '127.0.0.2'.");
    size_t refused2 = find("INF", "Connection to host '127.0.0.2' failed with 'Connection refused'.", first);
    size_t second = find("INF", "Telnet-connecting to host '127.0.0.1'.", refused2);
    size_t refused1 = find("INF", "Connection to host '127.0.0.1' failed with 'Connection refused'.", second);
    size_t failed = find("ERR", "Telnet-connection failed!", refused1);
    EXPECT_NE(failed, std::string::npos) << dump();
    EXPECT_EQ(find("DBG", "Running connection::connect()."), 0u);
    EXPECT_FALSE(hasLine("INF", "Connected to host '127.0.0.1'."));
    EXPECT_EQ(count(device.transcript(), "connection from"), 0u);
}

TEST_F(TelnetConnectionTest, RejectedPasswordThenNextRowOnTheSameConnection) {
    startDevice({"--family", "nexa", "--user", "admin", "--password", "Pw-right-1"});
    LoginSettings logins = {{"admin", "Pw-old-7", "(lastworking)"}, {"admin", "Pw-right-1", "(supplied)"}};
    {
        connection telnet(&log, DeviceFamily("NEXA"));
        ASSERT_TRUE(telnet.connect(settingsFor("127.0.0.1"), logins)) << dump();
        EXPECT_TRUE(telnet.isConnected());
        EXPECT_EQ(telnet.promptPrefix, "");

        // Nothing is read for a command without expected texts: its reply
        // is what the next wait collects.
        commandResult sent = telnet.sendCmd("ping -c 2 127.0.0.1", "", "", false);
        EXPECT_FALSE(sent.foundFirst);
        EXPECT_TRUE(sent.replies.empty());
        commandResult ping = telnet.catchTraffic(":admin>", "", false);
        EXPECT_TRUE(ping.foundFirst);
        EXPECT_TRUE(ping.contains("2 packets received"));
        EXPECT_EQ(ping.matchedReply, ping.replies.at(0));

        telnet.disconnect();
        EXPECT_FALSE(telnet.isConnected());
    }
    EXPECT_TRUE(hasLine("DBG", "Failure: User 'admin' with password 'Pw-old-7'.")) << dump();
    EXPECT_TRUE(hasLine("DBG", "Success: User 'admin' with password 'Pw-right-1'.")) << dump();
    size_t connected = find("INF", "Connected to host '127.0.0.1'.");
    size_t loggedIn = find("INF", "Successfully logged into router.", connected);
    size_t deactivating = find("INF", "*** Deactivating shell-timeout.", loggedIn);
    EXPECT_NE(deactivating, std::string::npos) << dump();
    EXPECT_EQ(entries().at(deactivating - 1).text, "");
    EXPECT_TRUE(lines("ERR").empty()) << dump();

    // One TCP connection: the second user was sent at the new login prompt.
    std::string transcript = device.transcript();
    EXPECT_EQ(count(transcript, "connection from"), 1u) << transcript;
    EXPECT_NE(transcript.find("telnet#1 --- login failed for admin"), std::string::npos) << transcript;
    EXPECT_NE(transcript.find("telnet#1 --- logged in as admin"), std::string::npos) << transcript;
    EXPECT_NE(transcript.find("telnet#1 <<< t 0\n"), std::string::npos) << transcript;
    EXPECT_NE(transcript.find("telnet#1 <<< exit\n"), std::string::npos) << transcript;

    // The labels stand in for the passwords in the traffic.
    std::string traffic;
    for (const auto& line : lines("COM")) traffic += line + "\n";
    EXPECT_NE(traffic.find("Password: (lastworking)"), std::string::npos) << traffic;
    EXPECT_NE(traffic.find("Password: (supplied)"), std::string::npos) << traffic;
    EXPECT_NE(traffic.find(":admin> exit"), std::string::npos) << traffic;
    EXPECT_EQ(leakedSecrets({"Pw-old-7", "Pw-right-1"}), "");
}

TEST_F(TelnetConnectionTest, LastRowRejectedAndUserWithoutPassword) {
    startDevice(
        {"--family", "nexa", "--user", "admin", "--password", "Pw-right-1", "--user", "guest", "--password", ""});
    {
        connection telnet(&log, DeviceFamily("NEXA"));
        EXPECT_FALSE(telnet.connect(settingsFor("127.0.0.1"),
                                    {{"admin", "Pw-bad-1", "(lastworking)"}, {"admin", "Pw-bad-2", "(supplied)"}}));
        EXPECT_FALSE(telnet.isConnected());
    }
    EXPECT_TRUE(hasLine("DBG", "Failure: User 'admin' with password 'Pw-bad-1'."));
    EXPECT_TRUE(hasLine("DBG", "Failure: User 'admin' with password 'Pw-bad-2'."));
    EXPECT_EQ(lines("ERR"), std::vector<std::string>{"Login to router failed!"}) << dump();
    EXPECT_EQ(count(device.transcript(), "login failed for admin"), 2u);

    {
        connection telnet(&log, DeviceFamily("NEXA"));
        ASSERT_TRUE(telnet.connect(settingsFor("127.0.0.1"), {{"guest", "", "(default-1)"}})) << dump();
        EXPECT_TRUE(hasLine("DBG", "Success: User 'guest', no password needed."));
        // The reboot command is answered with the prompt before the
        // device goes down; the connection is over after it.
        telnet.triggerReboot();
        EXPECT_FALSE(telnet.isConnected());
    }
    EXPECT_EQ(lines("ERR"), std::vector<std::string>{"Login to router failed!"}) << dump();
    EXPECT_TRUE(device.waitForTranscript("reboot 1", 5000)) << device.transcript();
    EXPECT_NE(inTranscript("<<< cmd=reboot"), std::string::npos);
    EXPECT_EQ(inTranscript("<<< exit"), std::string::npos) << "no exit dialogue before a reboot";
    EXPECT_EQ(leakedSecrets({"Pw-bad-1", "Pw-bad-2", "Pw-right-1"}), "");
}

// The device echoes text that equals the password right after it was sent:
// the traffic log shows "******" there and nowhere else; an empty password
// is never masked.
TEST_F(TelnetConnectionTest, PasswordInTheReplyIsMaskedOnlyThere) {
    startDevice({"--family", "nexa"});  // admin / admin: the welcome repeats the password
    LoginSettings logins = {{"admin", "", "(default-1)"}, {"admin", "admin", "(supplied)"}};
    {
        connection telnet(&log, DeviceFamily("NEXA"));
        ASSERT_TRUE(telnet.connect(settingsFor("127.0.0.1"), logins)) << dump();
    }
    std::vector<std::string> traffic = lines("COM");
    auto has = [&](const std::string& text) {
        for (const auto& line : traffic)
            if (line.find(text) != std::string::npos) return true;
        return false;
    };
    EXPECT_TRUE(has("Welcome ******.")) << dump();
    EXPECT_FALSE(has("Welcome admin.")) << dump();
    // The reply to the user name and the replies after the login are
    // untouched, and so is the reply to the empty password.
    EXPECT_TRUE(has("Login: admin")) << dump();
    EXPECT_TRUE(has("router1:admin> ")) << dump();
    EXPECT_TRUE(has("Login incorrect")) << dump();
    size_t masks = 0;
    for (const auto& line : traffic) masks += count(line, "******");
    EXPECT_EQ(masks, 2u) << "the welcome and the first prompt only:\n" << dump();
    EXPECT_TRUE(hasLine("DBG", "Failure: User 'admin' with password ''."));
    EXPECT_TRUE(hasLine("DBG", "Success: User 'admin' with password 'admin'."));
}

TEST_F(TelnetConnectionTest, QxCliPromptPrefixShellTimeoutAndSshEnabling) {
    startDevice({"--family", "qxcli", "--hostname", "edge-3", "--no-ssh"});
    {
        connection telnet(&log, DeviceFamily("qx.CLI"));
        ASSERT_TRUE(telnet.connect(settingsFor("127.0.0.1"), {{"admin", "admin", "(supplied)"}})) << dump();
        EXPECT_EQ(telnet.promptPrefix, "\nedge-3");
        // The prompts of later commands carry the prefix.
        EXPECT_TRUE(telnet.sendCmd("running-config", telnet.promptPrefix + "Config$", "", false).foundFirst);
        EXPECT_TRUE(telnet.sendCmd("exit", telnet.promptPrefix + "*", "", false).foundFirst);

        // A disabled server is enabled in the first pass and confirmed in
        // the second.
        EXPECT_TRUE(telnet.checkSSHEnabled()) << dump();
        EXPECT_NE(device.readStateFile("ssh").find("service enabled"), std::string::npos);

        telnet.triggerReboot();
        EXPECT_FALSE(telnet.isConnected());
    }
    EXPECT_TRUE(hasLine("DBG", "Prompt-prefix is ' edge-3'.")) << dump();
    EXPECT_TRUE(hasLine("DBG", "Running connection::checkSSHEnabled()."));
    size_t disabled = find("INF", "Found SSH-server disabled. Try to enable it.");
    size_t raised = find("DBG", "Setting timeout to 20.", disabled);
    size_t enabled = find("INF", "Found SSH-server enabled.", raised);
    EXPECT_NE(enabled, std::string::npos) << dump();
    EXPECT_TRUE(lines("ERR").empty()) << dump();

    std::string transcript = device.transcript();
    const char* sequence[] = {"<<< running-config\n", "<<< set inactivity-timer disabled\\x10\n",
                              "<<< feature ssh\n",    "<<< server\n",
                              "<<< list enable\n",    "<<< enable\n",
                              "<<< list enable\n",    "<<< \\x10restart yes\n"};
    size_t at = 0;
    for (const char* step : sequence) {
        at = transcript.find(step, at);
        ASSERT_NE(at, std::string::npos) << step << " missing or out of order in\n" << transcript;
        ++at;
    }
    EXPECT_TRUE(device.waitForTranscript("reboot 1", 5000));
}

TEST_F(TelnetConnectionTest, QxCliStarInTheEchoIsNoPrompt) {
    // The echo of this user name brings a "*" and then a line end within
    // the first 256 bytes; the prompt follows only in a later read. Only
    // the "*" that ends the output is the prompt, and the prefix comes
    // from it.
    const std::string user = "x*" + std::string(250, 'u');
    startDevice({"--family", "qxcli", "--user", user, "--password", ""});
    {
        connection telnet(&log, DeviceFamily("qx.CLI"));
        EXPECT_TRUE(telnet.connect(settingsFor("127.0.0.1"), {{user, "", "(supplied)"}})) << dump();
        EXPECT_TRUE(telnet.isConnected());
        EXPECT_EQ(telnet.promptPrefix, "\nrouter1");
    }
    EXPECT_TRUE(lines("ERR").empty()) << dump();
    EXPECT_NE(device.transcript().find("<<< set inactivity-timer disabled"), std::string::npos) << device.transcript();
}

TEST_F(TelnetConnectionTest, ExpectedTextSplitOverTwoReads) {
    // The prompt is longer than one 64-byte piece of the slow reply, so it
    // cannot arrive in a single read.
    const std::string host(64, 'h');
    startDevice({"--family", "nexa", "--hostname", host, "--slow-reply", "300"});
    {
        connection telnet(&log, DeviceFamily("NEXA"));
        ASSERT_TRUE(telnet.connect(settingsFor("127.0.0.1"), {{"admin", "admin", "(supplied)"}})) << dump();
        commandResult reply = telnet.sendCmd("ping -c 1 127.0.0.1", host + ":admin>", "", false);
        EXPECT_TRUE(reply.foundFirst) << dump();
        EXPECT_FALSE(reply.foundSecond);
        EXPECT_TRUE(reply.contains("1 packets received"));
        EXPECT_EQ(reply.replies.size(), 1u);
    }
    EXPECT_TRUE(lines("ERR").empty()) << dump();
}

TEST_F(TelnetConnectionTest, SilentDeviceTimesOut) {
    // The device also sends option negotiation at connect, which the
    // connection answers and keeps out of the replies.
    startDevice({"--family", "nexa", "--silent-after", "ping", "--telnet-options"});
    {
        connection telnet(&log, DeviceFamily("NEXA"));
        ASSERT_TRUE(telnet.connect(settingsFor("127.0.0.1"), {{"admin", "admin", "(supplied)"}})) << dump();
        telnet.setTimeout(1);
        double started = now();
        commandResult reply = telnet.sendCmd("ping -c 1 127.0.0.1", ">", "statistics", false);
        EXPECT_GE(now() - started, 1.0);
        EXPECT_FALSE(reply.foundFirst);
        EXPECT_FALSE(reply.foundSecond);
        EXPECT_EQ(reply.matchedReply, "");
        ASSERT_EQ(reply.replies.size(), 1u);
        EXPECT_NE(reply.replies[0].find("ping -c 1 127.0.0.1"), std::string::npos) << "the echo came";
        telnet.resetTimeout();
    }
    EXPECT_TRUE(hasLine("DBG", "Setting timeout to 1."));
    // The time-out is the one message; no "not found" line on top of it.
    EXPECT_EQ(lines("ERR"), std::vector<std::string>{"Telnet-reply timed-out!"}) << dump();
}

TEST_F(TelnetConnectionTest, AddressWithTrailingTextOrBadPortIsRefused) {
    startDevice({"--family", "nexa"});
    {
        connection telnet(&log, DeviceFamily("NEXA"));
        EXPECT_FALSE(telnet.connect(settingsFor("127.0.0.1 garbage"), {{"admin", "admin", "(supplied)"}}));
        ConnectSettings wrapped = settingsFor("127.0.0.1");
        wrapped.telnetPort += 65536;
        EXPECT_FALSE(telnet.connect(wrapped, {{"admin", "admin", "(supplied)"}}));
    }
    EXPECT_TRUE(
        hasLine("ERR", "Refusing router address '127.0.0.1 garbage': not an IPv4 or IPv6 address or host name."))
        << dump();
    EXPECT_TRUE(hasLine("ERR", "Refusing Telnet port " + std::to_string(device.telnetPort() + 65536) +
                                   ": a port is a number from 1 to 65535."))
        << dump();
    EXPECT_EQ(dump().find("Telnet-connecting to host"), std::string::npos) << dump();
    EXPECT_EQ(device.transcript().find("<<<"), std::string::npos) << device.transcript();
}

TEST_F(TelnetConnectionTest, DeviceClosingMidCommand) {
    startDevice({"--family", "nexa", "--close-mid-reply", "ping"});
    {
        connection telnet(&log, DeviceFamily("NEXA"));
        ASSERT_TRUE(telnet.connect(settingsFor("127.0.0.1"), {{"admin", "admin", "(supplied)"}})) << dump();
        commandResult cut = telnet.sendCmd("ping -c 3 127.0.0.1", "packets received", "", false);
        EXPECT_FALSE(cut.foundFirst);
        ASSERT_EQ(cut.replies.size(), 1u);
        EXPECT_NE(cut.replies[0].find("PING 127.0.0.1"), std::string::npos) << "half the reply came";

        // Writing on: the device has closed its end, so the commands find
        // nothing; once its socket is gone the writes fail (EPIPE, with
        // SIGPIPE at its default action here) without ending the process
        // or raising anything.
        for (int i = 0; i < 100 && !hasWriteFailure(); ++i) {
            commandResult after = telnet.sendCmd("t 0", ">", "", false);
            EXPECT_FALSE(after.foundFirst);
            EXPECT_FALSE(after.foundSecond);
            if (!hasWriteFailure()) pauseMs(20);
        }
        EXPECT_FALSE(telnet.peerAlive());
        telnet.disconnect();
        EXPECT_FALSE(telnet.isConnected());
    }
    // The logout dialogue is not held with a device that has gone.
    EXPECT_FALSE(hasLine("DBG", "Sending 'exit'.")) << dump();
    std::vector<std::string> errors = lines("ERR");
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors[0].rfind("Expected 'packets received' not found in Telnet-reply-lines '", 0), 0u) << errors[0];
    EXPECT_TRUE(hasWriteFailure()) << dump();
    EXPECT_TRUE(hasLine("ERR", "Telnet-write failed: Broken pipe.")) << dump();
    EXPECT_NE(device.transcript().find("fault: connection dropped in the middle of the reply"), std::string::npos);
}

}  // namespace
