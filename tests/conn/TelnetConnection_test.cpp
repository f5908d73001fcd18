// The Telnet connection against devsim over real TCP on loopback.
#include "tests/conn/ConnFixture.h"
#include "util/connection.h"

using conntest::ConnFixture;

namespace {

class TelnetConnectionTest : public ConnFixture {
protected:
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

}  // namespace
