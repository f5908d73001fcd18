// devsim as a process: command line, listeners and ports, Telnet sessions,
// reboots, signals and the faults that concern connections.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <regex>
#include <set>

#include "sim/DevsimOptions.h"
#include "sim/Transcript.h"
#include "tests/sim/DeviceFixture.h"

namespace {

using testsim::TcpClient;
using testsupport::contains;

class DevsimTest : public DeviceFixture {};

TEST_F(DevsimTest, HelpDocumentsExactlyTheOptionsTheParserKnows) {
    auto help = testsupport::runProcess({testsim::DevSim::program(), "--help"});
    EXPECT_EQ(help.exitCode, 0);
    std::set<std::string> documented;
    std::regex option("--[a-z][a-z-]+");
    for (auto it = std::sregex_iterator(help.out.begin(), help.out.end(), option); it != std::sregex_iterator(); ++it)
        documented.insert(it->str());
    std::set<std::string> known;
    for (const auto& name : DevsimOptions::optionNames()) known.insert(name);
    EXPECT_EQ(documented, known);
    // The names scripts and users rely on.
    for (const char* name : {"--family", "--state-dir", "--listen", "--telnet-port", "--ssh-port", "--user",
                             "--password", "--hostname", "--transfer-dir", "--reboot-downtime", "--max-auth-tries"})
        EXPECT_TRUE(known.count(name)) << name;
    EXPECT_NE(help.out.find("nexa|qxcli"), std::string::npos);

    auto bad = testsupport::runProcess(
        {testsim::DevSim::program(), "--state-dir", dir.file("bad"), "--family", "nexa", "--listen", "10.1.1.1"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("devsim: --listen: '10.1.1.1' is not a loopback address"), std::string::npos) << bad.err;
    EXPECT_FALSE(testsupport::fileExists(dir.file("bad"))) << "nothing is made on a bad command line";
}

TEST_F(DevsimTest, EveryListenAddressServesTheSamePortsButTheRefusedOne) {
    startDevice({"--family", "nexa", "--listen", "127.0.0.1", "--listen", "127.0.0.2", "--listen", "127.0.0.3",
                 "--refuse", "127.0.0.3"});
    EXPECT_EQ(device.readStateFile("ports"),
              "telnet " + std::to_string(device.telnetPort()) + "\nssh " + std::to_string(device.sshPort()) + "\n");
    EXPECT_NE(device.telnetPort(), device.sshPort());
    for (const char* address : {"127.0.0.1", "127.0.0.2"}) {
        TcpClient client;
        ASSERT_TRUE(telnetLogin(client, device.telnetPort(), "Login:", ":admin> ", address)) << client.received();
        client.send("exit\r\n");
        EXPECT_TRUE(client.waitForClose()) << address;
        TcpClient ssh;
        EXPECT_TRUE(ssh.connect(address, device.sshPort()));
        EXPECT_TRUE(ssh.expect("SSH-2.0-")) << "an SSH server answers on " << address;
    }
    for (int port : {device.telnetPort(), device.sshPort()}) {
        TcpClient refused;
        EXPECT_FALSE(refused.connect("127.0.0.3", port));
        EXPECT_EQ(refused.lastErrno(), ECONNREFUSED);
    }
    EXPECT_TRUE(device.waitForTranscript("to 127.0.0.2 port " + std::to_string(device.telnetPort()), 2000));
}

TEST_F(DevsimTest, GivenPortsAreUsed) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    int port = ntohs(address.sin_port);
    close(fd);
    startDevice({"--family", "qxcli", "--telnet-port", std::to_string(port)});
    EXPECT_EQ(device.telnetPort(), port);
    TcpClient client;
    EXPECT_TRUE(telnetLogin(client, port, "User:", "router1*")) << client.received();

    // A second device cannot have the same port: it says so and ends.
    testsim::DevSim second(dir.file("second"));
    EXPECT_FALSE(second.start({"--family", "nexa", "--telnet-port", std::to_string(port)}, 10));
    EXPECT_NE(second.log().find("Address already in use"), std::string::npos) << second.log();
}

TEST_F(DevsimTest, SigtermEndsTheDeviceWithSessionsOpenAndLeavesOnlyItsState) {
    startDevice({"--family", "qxcli"});
    TcpClient halfLogin, loggedIn, silentSsh;
    ASSERT_TRUE(halfLogin.connect("127.0.0.1", device.telnetPort()));
    ASSERT_TRUE(halfLogin.expect("User:"));
    halfLogin.send("adm");
    ASSERT_TRUE(telnetLogin(loggedIn, device.telnetPort(), "User:", "router1*"));
    ASSERT_TRUE(silentSsh.connect("127.0.0.1", device.sshPort()));
    pid_t pid = device.pid();
    EXPECT_EQ(device.stop(), 0);
    EXPECT_EQ(kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
    EXPECT_TRUE(halfLogin.waitForClose(2000));
    EXPECT_TRUE(loggedIn.waitForClose(2000));

    std::set<std::string> files;
    DIR* d = opendir(device.stateDir().c_str());
    ASSERT_TRUE(d);
    while (dirent* entry = readdir(d)) files.insert(entry->d_name);
    closedir(d);
    std::set<std::string> expected = {".",
                                      "..",
                                      "boot",
                                      "bootfile",
                                      "family",
                                      "fs",
                                      "ports",
                                      "running-config",
                                      "saved-passwords",
                                      "ssh",
                                      "users",
                                      "transcript",
                                      "ssh_host_ed25519_key",
                                      "ssh_host_ed25519_key.pub"};
    EXPECT_EQ(files, expected);
    std::string transcript = device.transcript();
    EXPECT_EQ(transcript.substr(transcript.size() - 15), "device stopped\n");
    EXPECT_NE(device.log().find("signal 15, stopping"), std::string::npos);

    // A restart keeps the host key and the state.
    std::string key = device.readStateFile("ssh_host_ed25519_key");
    startDevice({});
    EXPECT_EQ(device.readStateFile("ssh_host_ed25519_key"), key);
    EXPECT_EQ(device.readStateFile("family"), "qxcli\n");
}

TEST_F(DevsimTest, RebootRefusesConnectionsForTheDowntimeAndCountsTheReboot) {
    startDevice({"--family", "nexa", "--reboot-downtime", "2"});
    TcpClient client, bystander;
    ASSERT_TRUE(telnetLogin(client, device.telnetPort(), "Login:", ":admin> "));
    ASSERT_TRUE(telnetLogin(bystander, device.telnetPort(), "Login:", ":admin> "));
    client.send("cmd=reboot\r\n");
    EXPECT_TRUE(client.expect("reboot\r\n"));
    EXPECT_TRUE(client.expect(":admin> ")) << "the prompt comes before the device goes down";
    EXPECT_TRUE(client.waitForClose(5000));
    double closed = now();
    client.close();
    EXPECT_TRUE(bystander.waitForClose(5000)) << "a reboot ends every session";

    int refusals = 0;
    double up = 0;
    while (now() - closed < 20) {
        TcpClient probe;
        if (probe.connect("127.0.0.1", device.telnetPort())) {
            up = now();
            break;
        }
        EXPECT_EQ(probe.lastErrno(), ECONNREFUSED);
        TcpClient sshProbe;
        EXPECT_FALSE(sshProbe.connect("127.0.0.1", device.sshPort()));
        ++refusals;
        usleep(100000);
    }
    ASSERT_GT(up, 0) << "the device came up again";
    EXPECT_GE(up - closed, 2.0);
    EXPECT_GT(refusals, 0);
    ASSERT_TRUE(telnetLogin(client, device.telnetPort(), "Login:", ":admin> "));
    EXPECT_EQ(device.readStateFile("boot").substr(0, 8), "count 1\n");
    EXPECT_TRUE(device.waitForTranscript("device --- reboot 1: down for 2 seconds", 1000));
    EXPECT_TRUE(device.waitForTranscript("device up again (reboot 1)", 1000));
}

TEST_F(DevsimTest, TelnetOptionsFaultSendsOptionBytesAndIgnoresTheAnswers) {
    startDevice({"--family", "nexa", "--telnet-options"});
    TcpClient client;
    ASSERT_TRUE(client.connect("127.0.0.1", device.telnetPort()));
    ASSERT_TRUE(client.expect("Login: "));
    EXPECT_EQ(client.received().substr(0, 9), "\xff\xfb\x01\xff\xfb\x03\xff\xfd\x1f");
    const char answers[] = "\xff\xfd\x01\xff\xfa\x1f\x00\x50\x00\x18\xff\xf0\xff\xfe\x03";
    client.send(std::string(answers, sizeof answers - 1) + "admin\r\n");
    ASSERT_TRUE(client.expect("Password:"));
    client.send("admin\r\n");
    EXPECT_TRUE(client.expect(":admin> "));
    client.send("\xff\xfb\x18t 0\r\n");
    EXPECT_TRUE(client.expect("shell time-out off"));
    client.send("x\xff\xffy\r\n");
    EXPECT_TRUE(device.waitForTranscript("telnet#1 <<< x\\xffy\n", 1000)) << "IAC IAC is the byte 255";
    EXPECT_TRUE(device.waitForTranscript("telnet#1 <<< admin\n", 1000));
    for (const char* note :
         {"from the client: DO ECHO\n", "from the client: DONT SGA\n", "from the client: WILL TTYPE\n"})
        EXPECT_TRUE(contains(device.transcript(), std::string("telnet#1 --- telnet option ") + note)) << note;
}

TEST_F(DevsimTest, StrictTelnetOptionsWithholdTheLoginUntilEveryOfferIsAnswered) {
    startDevice({"--family", "qxcli", "--telnet-options=strict"});
    TcpClient client;
    ASSERT_TRUE(client.connect("127.0.0.1", device.telnetPort()));
    const std::string offers = "\xff\xfb\x26\xff\xfb\x01\xff\xfb\x03\xff\xfd\x18\xff\xfd\x20\xff\xfd\x1f\xff\xfd\x27";
    ASSERT_TRUE(client.expect(offers)) << Transcript::escape(client.received());
    // Every answer but one, and a user typed ahead: still no greeting.
    client.send(
        "\xff\xfe\x26\xff\xfd\x01\xff\xfd\x03\xff\xfc\x18\xff\xfc\x20\xff\xfc\x1f"
        "admin\r\n");
    ASSERT_TRUE(device.waitForTranscript("telnet option from the client: WONT NAWS", 5000)) << device.transcript();
    EXPECT_EQ(client.received(), offers);
    EXPECT_FALSE(contains(device.transcript(), "<<< admin"));
    // The last answer opens the login; the device asks for ECHO and SGA
    // again, and what was typed ahead is taken as the user.
    client.send("\xff\xfc\x27");
    ASSERT_TRUE(client.expect("Password: ")) << Transcript::escape(client.received());
    EXPECT_TRUE(contains(client.received(), offers + "\xff\xfb\x01\xff\xfb\x03\r\nqx.CLI router router1"));
    // A client that answers the repeated offer is noted.
    client.send(
        "\xff\xfd\x01"
        "admin\r\n");
    ASSERT_TRUE(client.expect("router1*"));
    std::string transcript = device.transcript();
    EXPECT_TRUE(contains(transcript, "telnet options all answered"));
    EXPECT_TRUE(contains(transcript, "telnet option from the client: DONT ENCRYPT\n"));
    EXPECT_TRUE(contains(transcript, "telnet option from the client: WONT NEW-ENVIRON\n"));
    EXPECT_TRUE(contains(transcript, "telnet option from the client: DO ECHO (answered twice)"));
    EXPECT_TRUE(contains(transcript, "telnet#1 <<< admin\n"));
}

TEST_F(DevsimTest, StrictTelnetOptionsWithoutAnswersLeaveTheDeviceSilent) {
    startDevice({"--family", "nexa", "--telnet-options=strict"});
    TcpClient client;
    ASSERT_TRUE(client.connect("127.0.0.1", device.telnetPort()));
    client.send("admin\r\n");
    // The device took the line but keeps it until the options are settled.
    EXPECT_FALSE(client.expect("Login:", 1500));
    EXPECT_FALSE(contains(device.transcript(), "<<< admin"));
    EXPECT_EQ(client.received().find_first_not_of("\xff\xfb\xfd\x01\x03\x18\x1f\x20\x26\x27"), std::string::npos);
    auto bad = testsupport::runProcess(
        {testsim::DevSim::program(), "--state-dir", dir.file("bad"), "--family", "nexa", "--telnet-options=lax"});
    EXPECT_NE(bad.exitCode, 0);
    EXPECT_TRUE(contains(bad.err, "--telnet-options: 'lax' is not strict")) << bad.err;
}

TEST_F(DevsimTest, LoginsFromTheCommandLineReplaceTheDefault) {
    startDevice({"--family", "nexa", "--user", "ops", "--password", "two words", "--user", "guest", "--password", ""});
    TcpClient client;
    ASSERT_TRUE(client.connect("127.0.0.1", device.telnetPort()));
    ASSERT_TRUE(client.expect("Login:"));
    client.send("admin\r\nadmin\r\n");
    EXPECT_TRUE(client.expect("Login incorrect"));
    client.send("ops\r\ntwo words\r\n");
    EXPECT_TRUE(client.expect(":admin> ")) << client.received();
    TcpClient guest;
    ASSERT_TRUE(guest.connect("127.0.0.1", device.telnetPort()));
    ASSERT_TRUE(guest.expect("Login:"));
    guest.send("guest\r\n");
    EXPECT_TRUE(guest.expect(":admin> "));
    EXPECT_EQ(guest.received().find("Password:"), std::string::npos);
}

TEST_F(DevsimTest, ShellTimeoutEndsIdleSessionsUnlessSwitchedOff) {
    startDevice({"--family", "nexa", "--shell-timeout", "1"});
    TcpClient idle, switchedOff;
    ASSERT_TRUE(telnetLogin(idle, device.telnetPort(), "Login:", ":admin> "));
    ASSERT_TRUE(telnetLogin(switchedOff, device.telnetPort(), "Login:", ":admin> "));
    switchedOff.send("t 0\r\n");
    ASSERT_TRUE(switchedOff.expect(":admin> "));
    EXPECT_TRUE(idle.expect("Idle time-out, session ended.", 5000));
    EXPECT_TRUE(idle.waitForClose(2000));
    switchedOff.readFor(1500);
    EXPECT_FALSE(switchedOff.closedByPeer());
    switchedOff.send("exit\r\n");
    EXPECT_TRUE(switchedOff.waitForClose());
}

TEST_F(DevsimTest, SlowReplyFaultHoldsEveryReplyBack) {
    startDevice({"--family", "qxcli", "--slow-reply", "400"});
    TcpClient client;
    ASSERT_TRUE(telnetLogin(client, device.telnetPort(), "User:", "router1*"));
    double sent = now();
    client.send("running-config\r\n");
    ASSERT_TRUE(client.expect("router1Config$"));
    EXPECT_GE(now() - sent, 0.4);
}

TEST_F(DevsimTest, TrickleFaultSendsAByteAtATimeAndNeverThePromptUntilTheDeviceStops) {
    startDevice({"--family", "nexa", "--trickle", "50", "--trickle-after", "ping"});
    TcpClient client;
    ASSERT_TRUE(telnetLogin(client, device.telnetPort(), "Login:", ":admin> "));
    client.send("t 0\r\n");
    ASSERT_TRUE(client.expect(":admin> ")) << "commands before it are answered";
    client.send("ping -c 1 10.0.0.1\r\n");
    ASSERT_TRUE(client.expect("ping -c 1 10.0.0.1\r\n")) << "the echo";
    double started = now();
    client.readFor(1500);
    std::string trickle = client.unmatched();
    EXPECT_GE(trickle.size(), 5u) << "one byte every 50 ms for 1.5 s: " << trickle;
    EXPECT_EQ(trickle.find_first_not_of('.'), std::string::npos) << trickle;
    // Input no longer gets an answer, and the prompt never comes.
    client.send("t 0\r\n");
    client.readFor(500);
    EXPECT_EQ(client.unmatched().find_first_not_of('.'), std::string::npos) << client.unmatched();
    EXPECT_FALSE(client.closedByPeer());
    printf("%zu bytes trickled in %.1f s\n", client.unmatched().size(), now() - started);
    EXPECT_NE(device.transcript().find("fault: trickling one byte every 50 ms from now on"), std::string::npos)
        << device.transcript();
    // The trickle ends with the device.
    EXPECT_EQ(device.stop(), 0) << device.log();
    EXPECT_TRUE(client.waitForClose(5000));
}

}  // namespace
