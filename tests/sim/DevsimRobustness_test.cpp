// Hostile and broken clients: whatever one client does, the device keeps
// serving the others and records what it was sent.
#include <memory>

#include "tests/sim/DeviceFixture.h"

namespace {

using testsim::PtyProcess;
using testsim::TcpClient;

class DevsimRobustnessTest : public DeviceFixture {
protected:
    // A full Telnet session on a NEXA device: login, a command, exit.
    bool worksOverTelnet() {
        TcpClient client;
        return telnetLogin(client, device.telnetPort(), "Login:", ":admin> ") && client.send("t 0\r\n") &&
               client.expect("shell time-out off") && client.expect(":admin> ") && client.send("exit\r\n") &&
               client.waitForClose();
    }
};

TEST_F(DevsimRobustnessTest, FiveMegabytesWithoutLineEnd) {
    startDevice({"--family", "nexa"});
    TcpClient flood;
    ASSERT_TRUE(telnetLogin(flood, device.telnetPort(), "Login:", ":admin> "));
    ASSERT_TRUE(flood.send(std::string(5 << 20, 'A')));
    EXPECT_TRUE(worksOverTelnet()) << "another session is served meanwhile";
    flood.send("\r\n");
    EXPECT_TRUE(flood.expect("Line too long, ignored.", 20000));
    EXPECT_TRUE(flood.expect(":admin> "));
    flood.send("t 0\r\n");
    EXPECT_TRUE(flood.expect("shell time-out off"));
    EXPECT_LE(flood.received().size(), size_t(1) << 20) << "the device does not echo the flood back";
    EXPECT_TRUE(device.waitForTranscript("... [overlong line of 5242880 bytes ignored]", 2000));
    EXPECT_TRUE(device.running());
}

TEST_F(DevsimRobustnessTest, HalfLinesResetsNoiseAndSilentClientsLeaveTheDeviceServing) {
    startDevice({"--family", "nexa"});
    TcpClient halfLine;
    ASSERT_TRUE(telnetLogin(halfLine, device.telnetPort(), "Login:", ":admin> "));
    halfLine.send("ping -c 2 ");

    std::string noise;
    for (int round = 0; round < 2000; ++round)
        for (int i = 0; i < 256; ++i) noise += static_cast<char>((i * 31 + round) & 0xff);
    TcpClient telnetNoise, sshNoise, sshSilent, resetMidLogin, resetMidCommand;
    ASSERT_TRUE(telnetNoise.connect("127.0.0.1", device.telnetPort()));
    telnetNoise.send(noise);
    telnetNoise.close();
    ASSERT_TRUE(sshNoise.connect("127.0.0.1", device.sshPort()));
    sshNoise.send("SSH-2.0-noise\r\n" + noise);
    sshNoise.close();
    ASSERT_TRUE(sshSilent.connect("127.0.0.1", device.sshPort()));
    ASSERT_TRUE(resetMidLogin.connect("127.0.0.1", device.telnetPort()));
    resetMidLogin.expect("Login:");
    resetMidLogin.send("adm");
    resetMidLogin.abort();
    ASSERT_TRUE(telnetLogin(resetMidCommand, device.telnetPort(), "Login:", ":admin> "));
    resetMidCommand.send("ping -c 10 -s 10.0.0.1 10.0.0.254\r\n");
    resetMidCommand.abort();

    EXPECT_TRUE(worksOverTelnet());
    PtyProcess ssh;
    ASSERT_TRUE(ssh.start(sshCommand(true, device.sshPort())));
    ASSERT_TRUE(ssh.expect("password: "));
    ssh.send("admin\n");
    EXPECT_TRUE(ssh.expect(":admin> ")) << ssh.output();

    // The half line was kept and completes now.
    halfLine.send("10.0.0.254\r\n");
    EXPECT_TRUE(halfLine.expect("2 packets received"));
    EXPECT_TRUE(device.waitForTranscript("<<< ping -c 2 10.0.0.254\n", 1000));
    EXPECT_TRUE(device.running());
    // Ending the device with clients still hanging on works all the same.
    EXPECT_EQ(device.stop(), 0);
}

TEST_F(DevsimRobustnessTest, FiftySessionsAtOnce) {
    startDevice({"--family", "qxcli"});
    const int sessions = 50;
    std::vector<std::unique_ptr<TcpClient>> clients;
    for (int i = 0; i < sessions; ++i) {
        clients.push_back(std::make_unique<TcpClient>());
        ASSERT_TRUE(clients.back()->connect("127.0.0.1", device.telnetPort())) << i;
    }
    // Every step is sent to all sessions before any answer is read, so all
    // fifty are in the middle of their dialogue at the same time.
    struct Step {
        const char* send;
        const char* expect;
    };
    const Step steps[] = {{"", "User:"},
                          {"admin\r\n", "Password:"},
                          {"admin\r\n", "router1*"},
                          {"running-config\r\n", "router1Config$"},
                          {"set inactivity-timer disabled\x10\r\n", "router1*"},
                          {"\x10logout\r\n", "(Yes/No)"},
                          {"yes\r\n", "closed"}};
    for (const auto& step : steps) {
        for (auto& client : clients) ASSERT_TRUE(client->send(step.send));
        for (int i = 0; i < sessions; ++i) ASSERT_TRUE(clients[i]->expect(step.expect)) << i << " " << step.expect;
    }
    for (auto& client : clients) EXPECT_TRUE(client->waitForClose());
    EXPECT_EQ(count(device.transcript(), "--- logged in as admin"), size_t(sessions));
}

TEST_F(DevsimRobustnessTest, LargeCutAndSilentRepliesOverTelnet) {
    startDevice(
        {"--family", "nexa", "--large-reply", "5000000", "--close-mid-reply", "update", "--silent-after", "ping"});
    TcpClient large;
    ASSERT_TRUE(telnetLogin(large, device.telnetPort(), "Login:", ":admin> "));
    large.send("t 0\r\n");
    ASSERT_TRUE(large.expect("router1:admin> ", 30000));
    EXPECT_GE(large.received().size(), 5000000u);

    TcpClient cut;
    ASSERT_TRUE(telnetLogin(cut, device.telnetPort(), "Login:", ":admin> "));
    cut.send("update -i\r\n");
    EXPECT_TRUE(cut.waitForClose(30000));
    EXPECT_EQ(cut.unmatched().find("update> "), std::string::npos) << "the line dropped before the prompt";
    EXPECT_GT(cut.unmatched().size(), 1000000u) << "half of the reply came";

    TcpClient silent;
    ASSERT_TRUE(telnetLogin(silent, device.telnetPort(), "Login:", ":admin> "));
    silent.send("ping -c 10 10.0.0.254\r\n");
    EXPECT_TRUE(silent.expect("ping -c 10 10.0.0.254\r\n")) << "the echo still comes";
    silent.readFor(1000);
    EXPECT_EQ(silent.unmatched(), "");
    EXPECT_FALSE(silent.closedByPeer());
    large.send("exit\r\n");
    EXPECT_TRUE(large.waitForClose());
}

}  // namespace
