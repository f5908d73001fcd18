// The real OpenSSH ssh and sftp clients against devsim, driven on a pty
// with the product's command lines.
#include <unistd.h>

#include <regex>

#include "tests/sim/DeviceFixture.h"

namespace {

using testsim::PtyProcess;
using testsim::TcpClient;

class DevsimSshTest : public DeviceFixture {
protected:
    // Starts ssh or sftp and answers its password prompt.
    void login(PtyProcess& client, const std::vector<std::string>& argv, const std::string& password = "admin") {
        ASSERT_TRUE(client.start(argv));
        ASSERT_TRUE(client.expect("admin@127.0.0.1's password: ")) << client.output();
        client.send(password + "\n");
    }

    // The device starts its SSH daemon after the command that enables it
    // has answered, the way a router's daemon comes up a moment after the
    // prompt: wait until the port takes a connection.
    void awaitSshListening() {
        for (int attempt = 0; attempt < 200; ++attempt) {
            TcpClient probe;
            if (probe.connect("127.0.0.1", device.sshPort())) return;
            usleep(50000);
        }
        FAIL() << "the SSH port never took a connection";
    }

    static std::string promptPrefix(const std::string& reply) {
        size_t feed = reply.rfind('\n');
        size_t star = reply.rfind('*');
        if (feed == std::string::npos || star == std::string::npos || star < feed) return "";
        return reply.substr(feed, star - feed);
    }
};

// ssh -T: no terminal on the device, so the only echo is the local pty's.
TEST_F(DevsimSshTest, NexaShellWithoutPtyAsTheProductRunsIt) {
    startDevice({"--family", "nexa"});
    PtyProcess ssh;
    login(ssh, sshCommand(true, device.sshPort()), "wrong");
    ASSERT_TRUE(ssh.expect("Permission denied, please try again.")) << ssh.output();
    ASSERT_TRUE(ssh.expect("admin@127.0.0.1's password: "));
    ssh.send("admin\n");
    ASSERT_TRUE(ssh.expect(":admin> ")) << ssh.output();
    EXPECT_TRUE(std::regex_search(ssh.output(), std::regex("\\n*.*:\\w*>\\s*")));
    ssh.send("t 0\n");
    ASSERT_TRUE(ssh.expect("shell time-out off"));
    ASSERT_TRUE(ssh.expect(":admin> "));
    EXPECT_EQ(count(ssh.output(), "t 0"), 1u) << "no echo from the device: " << ssh.output();
    ssh.send("exit\n");
    EXPECT_TRUE(ssh.expect("exit"));
    EXPECT_TRUE(ssh.waitForEof());
    EXPECT_EQ(ssh.wait(), 0);
    EXPECT_EQ(ssh.output().find("closed by remote host"), std::string::npos) << ssh.output();

    std::string transcript = device.transcript();
    EXPECT_NE(transcript.find("ssh password 'wrong' for admin refused (attempt 1 of 3)"), std::string::npos);
    EXPECT_NE(transcript.find("ssh password 'admin' for admin accepted"), std::string::npos);
    EXPECT_NE(transcript.find("ssh shell without pty"), std::string::npos);
    EXPECT_NE(transcript.find("ssh#1 <<< t 0\n"), std::string::npos);
    EXPECT_NE(transcript.find("ssh#1 <<< exit\n"), std::string::npos);
}

// The trickle over SSH: after "t 0" (every command when no text is given)
// only dots come, at most one per 50 ms, and never the prompt.
TEST_F(DevsimSshTest, TrickleFaultOverSsh) {
    startDevice({"--family", "nexa", "--trickle", "50"});
    PtyProcess ssh;
    login(ssh, sshCommand(true, device.sshPort()));
    ASSERT_TRUE(ssh.expect(":admin> ")) << ssh.output();
    ssh.send("t 0\n");
    ASSERT_TRUE(ssh.expect("t 0\r\n")) << "the local echo";
    ssh.readFor(1500);
    std::string trickle = ssh.unmatched();
    EXPECT_GE(trickle.size(), 5u) << trickle;
    EXPECT_EQ(trickle.find_first_not_of('.'), std::string::npos) << trickle;
    EXPECT_NE(device.transcript().find("fault: trickling"), std::string::npos) << device.transcript();
    ssh.kill();
}

// A pty session: the device echoes, the prompts carry the prefix, and the
// logout ends in "closed" with the client leaving quietly.
TEST_F(DevsimSshTest, QxCliShellWithPtyEchoesAndLogsOut) {
    startDevice({"--family", "qxcli", "--hostname", "edge-3"});
    PtyProcess ssh;
    login(ssh, sshCommand(false, device.sshPort()));
    ASSERT_TRUE(ssh.expect("edge-3*")) << ssh.output();
    EXPECT_EQ(promptPrefix(ssh.output()), "\nedge-3");
    ssh.send("running-config\n");
    ASSERT_TRUE(ssh.expect("running-config")) << "the device echoes on a pty";
    ASSERT_TRUE(ssh.expect("\nedge-3Config$"));
    ssh.send("set inactivity-timer disabled\x10\n");
    ASSERT_TRUE(ssh.expect("\nedge-3*"));
    ssh.send("\x10logout\n");
    ASSERT_TRUE(ssh.expect("(Yes/No)"));
    ssh.send("yes\n");
    ASSERT_TRUE(ssh.expect("closed"));
    EXPECT_TRUE(ssh.waitForEof());
    EXPECT_EQ(ssh.wait(), 0);
    EXPECT_EQ(ssh.output().find("closed by remote host"), std::string::npos) << ssh.output();
    EXPECT_TRUE(device.waitForTranscript("ssh shell with pty", 1000));
}

TEST_F(DevsimSshTest, QxCliRestartOverSshClosesAndTheDeviceComesBack) {
    startDevice({"--family", "qxcli", "--reboot-downtime", "1"});
    PtyProcess ssh;
    login(ssh, sshCommand(false, device.sshPort()));
    ASSERT_TRUE(ssh.expect("router1*"));
    ssh.send("\x10restart yes\n");
    ASSERT_TRUE(ssh.expect("closed"));
    EXPECT_TRUE(ssh.waitForEof());
    ssh.wait();
    ASSERT_TRUE(device.waitForTranscript("device up again (reboot 1)", 15000));
    PtyProcess again;
    login(again, sshCommand(false, device.sshPort()));
    EXPECT_TRUE(again.expect("router1*")) << again.output();
    EXPECT_EQ(device.readStateFile("boot").substr(0, 8), "count 1\n");
}

// After the device's limit every password is refused, the right one too,
// until the client gives up.
TEST_F(DevsimSshTest, AttemptLimitRefusesEvenTheRightPassword) {
    startDevice({"--family", "nexa", "--max-auth-tries", "2"});
    PtyProcess ssh;
    login(ssh, sshCommand(true, device.sshPort()), "first");
    ASSERT_TRUE(ssh.expect("Permission denied, please try again."));
    ASSERT_TRUE(ssh.expect("password: "));
    ssh.send("second\n");
    ASSERT_TRUE(ssh.expect("Permission denied, please try again."));
    ASSERT_TRUE(ssh.expect("password: "));
    ssh.send("admin\n");
    EXPECT_TRUE(ssh.expect("admin@127.0.0.1: Permission denied (password).")) << ssh.output();
    EXPECT_TRUE(ssh.waitForEof());
    EXPECT_EQ(ssh.wait(), 255);
    EXPECT_EQ(ssh.output().find(":admin>"), std::string::npos);
    EXPECT_TRUE(device.waitForTranscript("ssh password 'admin' for admin refused: no more attempts allowed", 2000));
}

// No SSH service: the port refuses, as on a device without a running
// daemon, until the product's Telnet dialogue has switched it on.
TEST_F(DevsimSshTest, NexaSshComesUpAfterTheTelnetEnablingDialogue) {
    startDevice({"--family", "nexa", "--no-ssh"});
    PtyProcess refused;
    ASSERT_TRUE(refused.start(sshCommand(true, device.sshPort())));
    EXPECT_TRUE(refused.expect("Connection refused")) << refused.output();
    EXPECT_EQ(refused.wait(), 255);

    TcpClient telnet;
    ASSERT_TRUE(telnetLogin(telnet, device.telnetPort(), "Login:", ":admin> "));
    const char* const firstPass[] = {"update -i", "dir", "exit",
                                     "ssh-keygen -q -t rsa -b 1024 -f sshd_host_rsa_key -N ''"};
    for (const char* command : firstPass) {
        telnet.send(std::string(command) + "\r\n");
        ASSERT_TRUE(telnet.expect("> ")) << command;
    }
    EXPECT_EQ(telnet.received().find("pub"), std::string::npos);
    TcpClient stillRefused;
    EXPECT_FALSE(stillRefused.connect("127.0.0.1", device.sshPort())) << "keys alone start no daemon";
    const char* const secondPass[] = {"update -i", "dir", "exit", "sshd"};
    for (const char* command : secondPass) {
        telnet.send(std::string(command) + "\r\n");
        ASSERT_TRUE(telnet.expect("> ")) << command;
    }
    EXPECT_NE(telnet.received().find("sshd_host_rsa_key.pub"), std::string::npos);

    ASSERT_NO_FATAL_FAILURE(awaitSshListening());
    PtyProcess ssh;
    login(ssh, sshCommand(true, device.sshPort()));
    EXPECT_TRUE(ssh.expect(":admin> ")) << ssh.output();
    EXPECT_EQ(device.readStateFile("ssh"), "keys yes\nservice enabled\n");
}

TEST_F(DevsimSshTest, QxCliSshComesUpAfterTheTelnetEnablingDialogue) {
    startDevice({"--family", "qxcli", "--no-ssh"});
    TcpClient probe;
    EXPECT_FALSE(probe.connect("127.0.0.1", device.sshPort()));
    TcpClient telnet;
    ASSERT_TRUE(telnetLogin(telnet, device.telnetPort(), "User:", "router1*"));
    struct Step {
        const char* command;
        const char* prompt;
    };
    const Step steps[] = {{"running-config", "router1Config$"}, {"feature ssh", "router1SSH Config$"},
                          {"server", "router1SSHS$"},           {"list enable", "Server status: disabled"},
                          {"enable", "router1SSHS$"},           {"list enable", "Server status: enabled"}};
    for (const auto& step : steps) {
        telnet.send(std::string(step.command) + "\r\n");
        ASSERT_TRUE(telnet.expect(step.prompt)) << step.command << telnet.unmatched();
    }
    ASSERT_NO_FATAL_FAILURE(awaitSshListening());
    PtyProcess ssh;
    login(ssh, sshCommand(false, device.sshPort()));
    EXPECT_TRUE(ssh.expect("router1*")) << ssh.output();
}

TEST_F(DevsimSshTest, FullDiskStoresWhatFitsAndFailsTheWrite) {
    startDevice({"--family", "qxcli", "--disk-full", "100000"});
    testsupport::writeFile(dir.file("SYS.IMG"), std::string(300000, 'i'));
    PtyProcess sftp;
    login(sftp, sftpCommand(device.sshPort()));
    ASSERT_TRUE(sftp.expect("\nsftp>")) << sftp.output();
    sftp.send("put " + dir.file("SYS.IMG") + " /MEM/SYS.IMG\n");
    ASSERT_TRUE(sftp.expect("Failure")) << sftp.output();
    ASSERT_TRUE(sftp.expect("\nsftp>"));
    EXPECT_EQ(device.readStateFile("fs/MEM/SYS.IMG"), std::string(100000, 'i')) << "the part that fitted stays";
    sftp.send("exit\n");
    EXPECT_TRUE(sftp.waitForEof());
    EXPECT_TRUE(testsupport::contains(device.transcript(), "--- fault: disk full, /MEM/SYS.IMG stops at 100000 bytes"));
}

TEST_F(DevsimSshTest, SftpPutGetRenameListAndRemoveOverTheDeviceFileSystem) {
    startDevice({"--family", "qxcli"});
    std::string image;
    for (unsigned i = 0; i < (1u << 20); ++i) image += static_cast<char>((i * 7919u + (i >> 8)) & 0xffu);
    testsupport::writeFile(dir.file("SYS.IMG"), image);
    testsupport::writeFile(device.statePath("fs/DSK/SYS.IMG"), "old image");

    PtyProcess sftp;
    login(sftp, sftpCommand(device.sshPort()));
    ASSERT_TRUE(sftp.expect("\nsftp>")) << sftp.output();
    sftp.send("put " + dir.file("SYS.IMG") + " /MEM/SYS.IMG\n");
    ASSERT_TRUE(sftp.expect("100%")) << sftp.output();
    ASSERT_TRUE(sftp.expect("\nsftp>"));
    EXPECT_EQ(device.readStateFile("fs/MEM/SYS.IMG"), image);

    sftp.send("rename /MEM/SYS.IMG /DSK/SYS.IMG\n");
    ASSERT_TRUE(sftp.expect("\nsftp>"));
    EXPECT_EQ(sftp.unmatched().find("rename"), std::string::npos);
    EXPECT_EQ(device.readStateFile("fs/DSK/SYS.IMG"), image) << "the rename replaces the old file";
    EXPECT_FALSE(testsupport::fileExists(device.statePath("fs/MEM/SYS.IMG")));

    sftp.send("ls /DSK\n");
    ASSERT_TRUE(sftp.expect("SYS.IMG"));
    ASSERT_TRUE(sftp.expect("\nsftp>"));
    sftp.send("get /DSK/SYS.IMG " + dir.file("back.img") + "\n");
    ASSERT_TRUE(sftp.expect("100%"));
    ASSERT_TRUE(sftp.expect("\nsftp>"));
    EXPECT_EQ(testsupport::readFile(dir.file("back.img")), image);

    // Failures reach the client as errors.
    sftp.send("rename /MEM/MISSING /DSK/X\n");
    ASSERT_TRUE(sftp.expect("No such file or directory"));
    ASSERT_TRUE(sftp.expect("\nsftp>"));
    sftp.send("put " + dir.file("SYS.IMG") + " /TOP.IMG\n");
    ASSERT_TRUE(sftp.expect("Permission denied")) << "files live only in the device's directories";
    ASSERT_TRUE(sftp.expect("\nsftp>"));
    sftp.send("put " + dir.file("SYS.IMG") + " /DSK/../../../escape.img\n");
    ASSERT_TRUE(sftp.expect("\nsftp>"));
    EXPECT_FALSE(testsupport::fileExists(dir.file("escape.img")));
    EXPECT_FALSE(testsupport::fileExists(device.statePath("escape.img")));

    sftp.send("rm /DSK/SYS.IMG\n");
    ASSERT_TRUE(sftp.expect("\nsftp>"));
    EXPECT_FALSE(testsupport::fileExists(device.statePath("fs/DSK/SYS.IMG")));
    sftp.send("ls /\n");
    ASSERT_TRUE(sftp.expect("/BIO"));
    ASSERT_TRUE(sftp.expect("/DSK"));
    ASSERT_TRUE(sftp.expect("/MEM"));
    ASSERT_TRUE(sftp.expect("\nsftp>"));
    sftp.send("exit\n");
    EXPECT_TRUE(sftp.expect("exit")) << "the product awaits the echo of exit";
    EXPECT_TRUE(sftp.waitForEof());
    EXPECT_EQ(sftp.wait(), 0);

    std::string transcript = device.transcript();
    for (const char* entry :
         {"<<< open /MEM/SYS.IMG for writing", "--- stored /MEM/SYS.IMG (1048576 bytes)",
          "<<< rename /MEM/SYS.IMG /DSK/SYS.IMG", "<<< open /DSK/SYS.IMG for reading", "<<< rename /MEM/MISSING /DSK/X",
          ">>> error: No such file or directory", "--- refused: /TOP.IMG is read-only", "<<< remove /DSK/SYS.IMG"})
        EXPECT_NE(transcript.find(entry), std::string::npos) << entry;
}

TEST_F(DevsimSshTest, NexaDevicesShowTheirOwnDirectories) {
    startDevice({"--family", "nexa"});
    PtyProcess sftp;
    login(sftp, sftpCommand(device.sshPort()));
    ASSERT_TRUE(sftp.expect("\nsftp>"));
    sftp.send("ls /\n");
    ASSERT_TRUE(sftp.expect("/flash"));
    ASSERT_TRUE(sftp.expect("/tmp"));
    sftp.send("bye\n");
    EXPECT_TRUE(sftp.waitForEof());
    EXPECT_EQ(sftp.wait(), 0);
}

}  // namespace
