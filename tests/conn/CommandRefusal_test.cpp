// The channel sends no command holding a control character it did not put
// there itself: against devsim over Telnet and SSH, a refused command
// leaves no line in the device's transcript, the error line names the
// character without quoting the command, and the session goes on. The
// job's own checks normally stop such values first; this is the last line.
#include <memory>

#include "tests/conn/ConnFixture.h"
#include "util/SSHConnection.h"
#include "util/connection.h"

using conntest::ConnFixture;

namespace {

const char kPayload[] = "configd delete boot_fac";

struct Hostile {
    std::string command;
    const char* what;  // "a line feed at byte 16"
};

class CommandRefusalTest : public ConnFixture {
protected:
    std::unique_ptr<ConnectionHandler> open(const std::string& type, const std::string& os) {
        if (type == "Telnet") return std::make_unique<connection>(&log, DeviceFamily(os));
        return std::make_unique<SSHConnection>(&log, DeviceFamily(os), SSH);
    }

    // Every command is refused with its error line; a sound command after
    // each still gets its own reply.
    void expectRefused(ConnectionHandler& link, const std::vector<Hostile>& cases, const std::string& sound,
                       const std::string& prompt, const std::string& soundReply) {
        for (const Hostile& c : cases) {
            SCOPED_TRACE(printable(c.command));
            commandResult result = link.sendCmd(c.command, prompt);
            EXPECT_TRUE(result.refused);
            EXPECT_FALSE(result.foundFirst);
            EXPECT_TRUE(result.replies.empty());
            const std::string line = link.cTypeStr() + "-command refused: it holds " + c.what +
                                     ", which would end its line there and make the rest a line of its own; "
                                     "nothing of it was sent to the device!";
            EXPECT_TRUE(hasLine("ERR", line)) << dump();
            commandResult next = link.sendCmd(sound, prompt);
            EXPECT_FALSE(next.refused);
            EXPECT_TRUE(next.foundFirst) << dump();
            EXPECT_TRUE(next.contains(soundReply)) << next.matchedReply;
        }
        EXPECT_TRUE(link.isConnected());
        EXPECT_TRUE(link.peerAlive());
    }

    // Nothing of the payload reached the device or the ordinary log.
    void expectNothingOfThePayload() {
        const std::string transcript = device.transcript();
        EXPECT_EQ(transcript.find("boot_fac"), std::string::npos) << transcript;
        EXPECT_EQ(transcript.find("configd"), std::string::npos) << transcript;
        EXPECT_EQ(leakedSecrets({"boot_fac"}), "") << "the command is not quoted outside debug";
    }

    static std::string printable(const std::string& text) {
        std::string shown;
        for (unsigned char c : text) shown += c < 0x20 || c == 0x7f ? '.' : static_cast<char>(c);
        return shown;
    }
};

TEST_F(CommandRefusalTest, NexaCommandsWithControlCharactersNeverReachTheDevice) {
    device.writeStateFile("variables", "tmibAdmSystemId=SN-4711\n");
    startDevice({"--family", "nexa"});
    const std::string p = kPayload;
    const std::vector<Hostile> cases = {
        {"tmibAdmSystemId\n" + p, "a line feed at byte 16"},
        {"cert get x\r" + p, "a carriage return at byte 11"},
        {std::string("tmibAdmSystemId\0", 16) + p, "a NUL byte at byte 16"},
        {"tmibAdmSystemId\x1b[2J" + p, "the control character 0x1b at byte 16"},
        {p + "\n", "a line feed at byte 24"},
        {"\t" + p, "a tab at byte 1"},
        {p + "\x7f", "the control character 0x7f at byte 24"},
        // 0x10 frames commands only on qx.CLI.
        {"\x10" + p, "the control character 0x10 at byte 1"},
    };
    for (const char* type : {"Telnet", "SSH"}) {
        SCOPED_TRACE(type);
        auto link = open(type, "NEXA");
        ASSERT_TRUE(link->connect(settingsFor("127.0.0.1"), {{"admin", "admin", "(supplied)"}})) << dump();
        expectRefused(*link, cases, "tmibAdmSystemId", ">", "SN-4711");
        link->disconnect();
    }
    expectNothingOfThePayload();
    // The sound command arrived after every refusal, on both transports.
    EXPECT_EQ(count(device.transcript(), "<<< tmibAdmSystemId\n"), 2 * cases.size()) << device.transcript();
}

// The process switch 0x10 of the qx.CLI family opens or closes a command
// (the login sends "set inactivity-timer disabled" with it at the end, the
// logout with it in front); anywhere else it is refused like any other.
TEST_F(CommandRefusalTest, QxCliKeepsItsProcessSwitchAtTheEndsOnly) {
    startDevice({"--family", "qxcli"});
    const std::string p = kPayload;
    const std::vector<Hostile> cases = {
        {"list\x10" + p, "the control character 0x10 at byte 5"},
        {"\x10\x10" + p, "the control character 0x10 at byte 2"},
        {"\x10monitor\n" + p, "a line feed at byte 9"},
        {"monitor\r\n" + p + "\x10", "a carriage return at byte 8"},
    };
    for (const char* type : {"Telnet", "SSH"}) {
        SCOPED_TRACE(type);
        auto link = open(type, "qx.CLI");
        ASSERT_TRUE(link->connect(settingsFor("127.0.0.1"), {{"admin", "admin", "(supplied)"}})) << dump();
        expectRefused(*link, cases, "\x10monitor", link->promptPrefix + "+", "monitor");
        link->disconnect();
    }
    expectNothingOfThePayload();
    const std::string transcript = device.transcript();
    EXPECT_NE(transcript.find("<<< set inactivity-timer disabled\\x10"), std::string::npos) << transcript;
    EXPECT_NE(transcript.find("<<< \\x10monitor"), std::string::npos) << transcript;
    EXPECT_NE(transcript.find("<<< \\x10logout"), std::string::npos) << transcript;
}

// A password is a line of its own with no framing: one that holds a line
// break is not sent. Over Telnet the login ends there; over SSH the next
// candidate gets a client of its own and logs in.
TEST_F(CommandRefusalTest, APasswordWithALineBreakIsNotSent) {
    startDevice({"--family", "qxcli", "--user", "admin", "--password", "Pw-right-1"});
    struct Case {
        const char* type;
        std::string password;
        const char* what;
        bool loggedIn;
    };
    const Case cases[] = {
        {"Telnet", "Pw-right-1\n" + std::string(kPayload), "a line feed at byte 11", false},
        {"Telnet", "\x10Pw-right-1", "the control character 0x10 at byte 1", false},
        {"SSH", "Pw-right-1\r" + std::string(kPayload), "a carriage return at byte 11", true},
        {"SSH", "Pw-right-1\x10", "the control character 0x10 at byte 11", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.what);
        auto link = open(c.type, "qx.CLI");
        LoginSettings logins{{"admin", c.password, "(supplied)"}, {"admin", "Pw-right-1", "(lastworking)"}};
        EXPECT_EQ(link->connect(settingsFor("127.0.0.1"), logins), c.loggedIn) << dump();
        EXPECT_TRUE(hasLine("ERR", std::string("Password (supplied) refused: it holds ") + c.what +
                                       ", which would end its line there and make the rest a line of its own; "
                                       "nothing of it was sent to the device!"))
            << dump();
        link->disconnect();
    }
    expectNothingOfThePayload();
    // Neither refused password reached the device as a login attempt.
    EXPECT_EQ(device.transcript().find("login failed"), std::string::npos) << device.transcript();
}

}  // namespace
