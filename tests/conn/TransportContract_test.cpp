// What Telnet and SSH promise alike, proven for each against devsim: a
// silent device ends a wait after the time-out with one time-out line, a
// device closing in the middle of a command leaves the later commands
// without a reply and the logout unsent, the password the device echoes is
// masked only there, the qx.CLI prompt prefix learned at the login drives
// the later prompts, and router values that would leave their place are
// refused before anything is contacted. What differs between the two is a
// hook of the fixture, written once per transport.
#include <time.h>

#include <memory>
#include <type_traits>

#include "tests/conn/ConnFixture.h"
#include "util/SSHConnection.h"
#include "util/connection.h"

using conntest::ConnFixture;

namespace {

struct TelnetTransport {
    static std::unique_ptr<ConnectionHandler> open(logEngine& log, const char* os) {
        return std::make_unique<connection>(&log, DeviceFamily(os));
    }
    static constexpr const char* kTimedOut = "Telnet-reply timed-out!";
    static constexpr const char* kContact = "Telnet-connecting to host";
};

struct SshTransport {
    static std::unique_ptr<ConnectionHandler> open(logEngine& log, const char* os) {
        return std::make_unique<SSHConnection>(&log, DeviceFamily(os), SSH);
    }
    static constexpr const char* kTimedOut = "SSH-reply timed-out!";
    static constexpr const char* kContact = "Starting SSH by";
};

template <class Transport>
class TransportContract : public ConnFixture {
protected:
    std::unique_ptr<ConnectionHandler> open(const char* os) { return Transport::open(log, os); }
    std::string traffic() const {
        std::string all;
        for (const auto& line : lines("COM")) all += line + "\n";
        return all;
    }

    // The hooks, one per transport (below the fixture).
    // Device options of the silent device besides the fault.
    std::vector<std::string> silentOptions() const;
    // After the wait that timed out.
    void afterSilence(const commandResult& reply);
    // After the command the device closed the connection in: the later
    // commands find nothing.
    void afterCut(ConnectionHandler& link, const commandResult& cut);
    // The error lines of the cut, once the connection is closed.
    void cutErrors(const std::vector<std::string>& errors);
    // The login traffic with a rejected first password.
    void loginTraffic(const std::string& traffic);
    // The rest of the qx.CLI session after the prefixed prompts: the
    // connection is still open.
    void prefixedSessionEnd(ConnectionHandler& link);
};

template <>
std::vector<std::string> TransportContract<TelnetTransport>::silentOptions() const {
    // The device also sends option negotiation at connect, which the
    // connection answers and keeps out of the replies.
    return {"--telnet-options"};
}

template <>
std::vector<std::string> TransportContract<SshTransport>::silentOptions() const {
    return {};
}

template <>
void TransportContract<TelnetTransport>::afterSilence(const commandResult& reply) {
    EXPECT_NE(reply.replies[0].find("ping -c 1 127.0.0.1"), std::string::npos) << "the echo came";
}

template <>
void TransportContract<SshTransport>::afterSilence(const commandResult&) {}

template <>
void TransportContract<TelnetTransport>::afterCut(ConnectionHandler& telnet, const commandResult& cut) {
    ASSERT_EQ(cut.replies.size(), 1u);
    EXPECT_NE(cut.replies[0].find("PING 127.0.0.1"), std::string::npos) << "half the reply came";
    // Writing on: the device has closed its end, so the commands find
    // nothing; once its socket is gone the writes fail (EPIPE, with SIGPIPE
    // at its default action here) without ending the process or raising
    // anything.
    auto writeFailed = [this] {
        for (const auto& error : lines("ERR"))
            if (error.rfind("Telnet-write failed: ", 0) == 0) return true;
        return false;
    };
    for (int i = 0; i < 100 && !writeFailed(); ++i) {
        commandResult after = telnet.sendCmd("t 0", ">", "", false);
        EXPECT_FALSE(after.foundFirst);
        EXPECT_FALSE(after.foundSecond);
        if (!writeFailed()) {
            timespec pause = {0, 20 * 1000000L};
            nanosleep(&pause, nullptr);
        }
    }
}

template <>
void TransportContract<SshTransport>::afterCut(ConnectionHandler& ssh, const commandResult&) {
    EXPECT_EQ(childCount(), 0u) << "the client ended with the connection:\n" << clientProcesses();
    // The client has gone: later commands fail quietly.
    EXPECT_FALSE(ssh.peerAlive());
    commandResult after = ssh.sendCmd("t 0", ">", "", false);
    EXPECT_FALSE(after.foundFirst);
    EXPECT_TRUE(after.replies.empty());
}

template <>
void TransportContract<TelnetTransport>::cutErrors(const std::vector<std::string>& errors) {
    EXPECT_EQ(errors[0].rfind("Expected 'packets received' not found in Telnet-reply-lines '", 0), 0u) << errors[0];
    EXPECT_TRUE(hasLine("ERR", "Telnet-write failed: Broken pipe.")) << dump();
}

template <>
void TransportContract<SshTransport>::cutErrors(const std::vector<std::string>& errors) {
    EXPECT_FALSE(hasLine("ERR", "Missing 'exit' prompt!")) << dump();
    ASSERT_GE(errors.size(), 2u) << dump();
    EXPECT_EQ(errors[0], "EOF reached!");
    EXPECT_EQ(errors[1], "SSH-write failed: Calling send on a closed pipe!!");
}

template <>
void TransportContract<TelnetTransport>::loginTraffic(const std::string& traffic) {
    // The reply to the user name is untouched, and so is the reply to the
    // empty password.
    EXPECT_NE(traffic.find("Login: admin"), std::string::npos) << traffic;
    EXPECT_NE(traffic.find("Login incorrect"), std::string::npos) << traffic;
    EXPECT_TRUE(hasLine("DBG", "Failure: User 'admin' with password ''."));
}

template <>
void TransportContract<SshTransport>::loginTraffic(const std::string& traffic) {
    EXPECT_NE(traffic.find("admin@127.0.0.1's password: (default-1)"), std::string::npos) << traffic;
    EXPECT_NE(traffic.find("admin@127.0.0.1's password: (supplied)"), std::string::npos) << traffic;
    EXPECT_NE(traffic.find("Permission denied, please try again."), std::string::npos) << traffic;
    EXPECT_TRUE(hasLine("DBG", "Trying user 'admin' with password ''."));
    EXPECT_EQ(count(device.transcript(), "ssh password '' for admin refused (attempt 1 of 3)"), 1u)
        << device.transcript();
}

template <>
void TransportContract<TelnetTransport>::prefixedSessionEnd(ConnectionHandler& telnet) {
    // A disabled server is enabled in the first pass and confirmed in the
    // second, the timeout raised for it.
    EXPECT_TRUE(telnet.checkSSHEnabled()) << dump();
    EXPECT_NE(device.readStateFile("ssh").find("service enabled"), std::string::npos);
    EXPECT_TRUE(hasLine("DBG", "Running connection::checkSSHEnabled()."));
    size_t disabled = find("INF", "Found SSH-server disabled. Try to enable it.");
    size_t raised = find("DBG", "Setting timeout to 20.", disabled);
    EXPECT_NE(find("INF", "Found SSH-server enabled.", raised), std::string::npos) << dump();
    telnet.triggerReboot();
    EXPECT_FALSE(telnet.isConnected());
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
}

template <>
void TransportContract<SshTransport>::prefixedSessionEnd(ConnectionHandler& ssh) {
    ssh.disconnect();
    std::string transcript = device.transcript();
    EXPECT_NE(transcript.find("ssh shell with pty"), std::string::npos);
    EXPECT_NE(transcript.find("<<< \\x10logout\n"), std::string::npos) << transcript;
    EXPECT_NE(transcript.find("Connection closed."), std::string::npos) << transcript;
    // A second session ends in the reboot, the client with it.
    auto again = open("qx.CLI");
    ASSERT_TRUE(again->connect(settingsFor("127.0.0.1"), {{"admin", "admin", "(supplied)"}})) << dump();
    again->triggerReboot();
    EXPECT_FALSE(again->isConnected());
    EXPECT_EQ(childCount(), 0u) << clientProcesses();
}

using Transports = ::testing::Types<TelnetTransport, SshTransport>;
class TransportName {
public:
    template <class T>
    static std::string GetName(int) {
        return std::is_same<T, TelnetTransport>::value ? "Telnet" : "SSH";
    }
};
TYPED_TEST_SUITE(TransportContract, Transports, TransportName);

TYPED_TEST(TransportContract, SilentDeviceTimesOut) {
    std::vector<std::string> options{"--family", "nexa", "--silent-after", "ping"};
    for (const auto& option : this->silentOptions()) options.push_back(option);
    this->startDevice(options);
    {
        auto link = this->open("NEXA");
        ASSERT_TRUE(link->connect(this->settingsFor("127.0.0.1"), {{"admin", "admin", "(supplied)"}})) << this->dump();
        link->setTimeout(1);
        double started = this->now();
        commandResult reply = link->sendCmd("ping -c 1 127.0.0.1", ":admin>", "statistics", false);
        EXPECT_GE(this->now() - started, 1.0);
        EXPECT_FALSE(reply.foundFirst);
        EXPECT_FALSE(reply.foundSecond);
        EXPECT_EQ(reply.matchedReply, "");
        ASSERT_EQ(reply.replies.size(), 1u);
        this->afterSilence(reply);
        link->resetTimeout();
        link->disconnect();
        EXPECT_EQ(this->childCount(), 0u) << "a silent device does not keep the client:\n" << this->clientProcesses();
    }
    EXPECT_TRUE(this->hasLine("DBG", "Setting timeout to 1."));
    // The time-out is the one message; no "not found" line on top of it.
    EXPECT_EQ(this->lines("ERR"), std::vector<std::string>{TypeParam::kTimedOut}) << this->dump();
}

TYPED_TEST(TransportContract, DeviceClosingMidCommand) {
    this->startDevice({"--family", "nexa", "--close-mid-reply", "ping"});
    {
        auto link = this->open("NEXA");
        ASSERT_TRUE(link->connect(this->settingsFor("127.0.0.1"), {{"admin", "admin", "(supplied)"}})) << this->dump();
        commandResult cut = link->sendCmd("ping -c 3 127.0.0.1", "packets received", "", false);
        EXPECT_FALSE(cut.foundFirst);
        this->afterCut(*link, cut);
        EXPECT_FALSE(link->peerAlive());
        link->disconnect();
        EXPECT_FALSE(link->isConnected());
    }
    // The logout dialogue is not held with a device that has gone.
    EXPECT_FALSE(this->hasLine("DBG", "Sending 'exit'.")) << this->dump();
    std::vector<std::string> errors = this->lines("ERR");
    ASSERT_FALSE(errors.empty());
    this->cutErrors(errors);
    EXPECT_NE(this->device.transcript().find("fault: connection dropped in the middle of the reply"),
              std::string::npos);
}

// The device echoes text that equals the password right after it was sent:
// the traffic log shows "******" there and nowhere else; an empty password
// is never masked.
TYPED_TEST(TransportContract, PasswordInTheReplyIsMaskedOnlyThere) {
    this->startDevice({"--family", "nexa"});  // admin / admin: the welcome repeats the password
    LoginSettings logins = {{"admin", "", "(default-1)"}, {"admin", "admin", "(supplied)"}};
    {
        auto link = this->open("NEXA");
        ASSERT_TRUE(link->connect(this->settingsFor("127.0.0.1"), logins)) << this->dump();
    }
    const std::string traffic = this->traffic();
    EXPECT_NE(traffic.find("Welcome ******."), std::string::npos) << traffic;
    EXPECT_EQ(traffic.find("Welcome admin."), std::string::npos) << traffic;
    EXPECT_NE(traffic.find("router1:admin> "), std::string::npos) << "later traffic untouched:\n" << traffic;
    EXPECT_EQ(this->count(traffic, "******"), 2u) << "the welcome and the first prompt only:\n" << traffic;
    EXPECT_TRUE(this->hasLine("DBG", "Success: User 'admin' with password 'admin'."));
    this->loginTraffic(traffic);
}

TYPED_TEST(TransportContract, QxCliPromptPrefixDrivesTheLaterPrompts) {
    std::vector<std::string> options{"--family", "qxcli", "--hostname", "edge-3"};
    // The Telnet session finds SSH off and enables it.
    if (std::is_same<TypeParam, TelnetTransport>::value) options.push_back("--no-ssh");
    this->startDevice(options);
    {
        auto link = this->open("qx.CLI");
        ASSERT_TRUE(link->connect(this->settingsFor("127.0.0.1"), {{"admin", "admin", "(supplied)"}})) << this->dump();
        EXPECT_EQ(link->promptPrefix, "\nedge-3");
        // The prompts of later commands carry the prefix: only the
        // prefixed prompt counts, a bare "Config$" in a reply does not.
        EXPECT_TRUE(link->sendCmd("running-config", link->promptPrefix + "Config$", "", false).foundFirst);
        EXPECT_TRUE(link->sendCmd("exit", link->promptPrefix + "*", "", false).foundFirst);
        this->prefixedSessionEnd(*link);
    }
    EXPECT_TRUE(this->hasLine("DBG", "Prompt-prefix is ' edge-3'.")) << this->dump();
    EXPECT_TRUE(this->lines("ERR").empty()) << this->dump();
    EXPECT_NE(this->device.transcript().find("<<< set inactivity-timer disabled\\x10\n"), std::string::npos)
        << this->device.transcript();
    EXPECT_TRUE(this->device.waitForTranscript("reboot 1", 5000));
}

// Router values that would leave their place (an address with more text, a
// user read as a client option, a port out of range) are refused before
// anything is started or contacted.
TYPED_TEST(TransportContract, ValuesThatLeaveTheirPlaceAreRefused) {
    this->startDevice({"--family", "nexa"});
    const std::string marker = this->dir.file("PWNED");
    const bool telnet = std::is_same<TypeParam, TelnetTransport>::value;
    ConnectSettings badPort = this->settingsFor("127.0.0.1");
    (telnet ? badPort.telnetPort : badPort.sshPort) += 65536;
    const std::string port = std::to_string((telnet ? badPort.telnetPort : badPort.sshPort));
    struct Case {
        ConnectSettings settings;
        LoginSettings logins;
        std::string refusal;
    };
    const Case cases[] = {
        {this->settingsFor("127.0.0.1 garbage"),
         {{"admin", "admin", "(supplied)"}},
         "Refusing router address '127.0.0.1 garbage': not an IPv4 or IPv6 address or host name."},
        {this->settingsFor("127.0.0.1"),
         {{"-oProxyCommand=touch " + marker, "admin", "(supplied)"}},
         "Refusing login user '-oProxyCommand=touch " + marker + "': it begins with '-'."},
        {badPort,
         {{"admin", "admin", "(supplied)"}},
         std::string("Refusing ") + (telnet ? "Telnet" : "SSH") + " port " + port +
             ": a port is a number from 1 to 65535."},
    };
    for (const Case& c : cases) {
        auto link = this->open("NEXA");
        EXPECT_FALSE(link->connect(c.settings, c.logins)) << c.refusal;
        EXPECT_TRUE(this->hasLine("ERR", c.refusal)) << this->dump();
    }
    EXPECT_FALSE(testsupport::fileExists(marker));
    EXPECT_EQ(this->dump().find(TypeParam::kContact), std::string::npos) << this->dump();
    EXPECT_EQ(this->device.transcript().find("<<<"), std::string::npos) << this->device.transcript();
}

}  // namespace
