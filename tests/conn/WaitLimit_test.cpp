// The limit of a wait as a whole, against devsim: a large reply still
// arrives whole at the ordinary limit, a trickling reply ends at the limit
// a long operation sets for itself, over Telnet and over SSH.
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <memory>

#include "main/Tarvo.h"
#include "tests/conn/ConnFixture.h"
#include "util/SSHConnection.h"
#include "util/connection.h"

using conntest::ConnFixture;

namespace {

class WaitLimitTest : public ConnFixture {
protected:
    std::unique_ptr<ConnectionHandler> open(const std::string& type, const std::string& os = "NEXA") {
        if (type == "Telnet") return std::make_unique<connection>(&log, DeviceFamily(os));
        return std::make_unique<SSHConnection>(&log, DeviceFamily(os), SSH);
    }
    // Over Telnet and SSH: command trickled at a limit of 2 seconds.
    void trickledWait(const std::string& os, const std::string& command);
};

// Every reply of this device carries megabytes of filler before its
// prompt, the login's "t 0" as well.
TEST_F(WaitLimitTest, ALargeReplyArrivesWholeWithinTheOrdinaryLimit) {
    // TARVO_LARGE_REPLY_BYTES lets a measurement run with more.
    const char* wanted = getenv("TARVO_LARGE_REPLY_BYTES");
    const size_t bytes = wanted ? strtoul(wanted, nullptr, 10) : 6000000;
    startDevice({"--family", "nexa", "--large-reply", std::to_string(bytes)});
    for (const char* type : {"Telnet", "SSH"}) {
        SCOPED_TRACE(type);
        auto link = open(type);
        ASSERT_TRUE(link->connect(settingsFor("127.0.0.1"), {{"admin", "admin", "(supplied)"}})) << dump();
        EXPECT_EQ(link->waitLimitMs(), ConnectionHandler::kReplyLimitFactor * 3 * 1000) << "30 times the 3 s";
        double started = now();
        commandResult reply = link->sendCmd("tmibAdmSystemId", ":admin>", "", false);
        double seconds = now() - started;
        ASSERT_TRUE(reply.foundFirst) << "the prompt after the filler";
        ASSERT_EQ(reply.replies.size(), 1u);
        const std::string& text = reply.replies[0];
        EXPECT_GE(text.size(), bytes);
        EXPECT_NE(text.find("filler 0000000001 "), std::string::npos);
        // The filler's last line is followed by the prompt.
        size_t last = text.rfind("filler ");
        ASSERT_NE(last, std::string::npos);
        EXPECT_EQ(text.find(":admin>", last), text.rfind(":admin>")) << "nothing lost between filler and prompt";
        printf("%s: %zu bytes in %.2f s (%.1f MB/s)\n", type, text.size(), seconds, text.size() / seconds / 1e6);
        link->disconnect();
    }
    EXPECT_TRUE(lines("ERR").empty()) << dump();
}

// A long operation sets a limit of its own (here 2 seconds, as a transfer
// of a small file would get a size-derived one): a device that trickles
// instead of answering ends the wait there, with the limit's error line,
// and the ordinary limit is back afterwards. The logout is not held: each
// of its steps would wait another whole ordinary limit.
void WaitLimitTest::trickledWait(const std::string& os, const std::string& command) {
    for (const char* type : {"Telnet", "SSH"}) {
        SCOPED_TRACE(type);
        auto link = open(type, os);
        ASSERT_TRUE(link->connect(settingsFor("127.0.0.1"), {{"admin", "admin", "(supplied)"}})) << dump();
        const std::string prompt = os == "NEXA" ? ":admin>" : link->promptPrefix + "+";
        const int ordinary = link->waitLimitMs();
        double started = now(), seconds = 0;
        commandResult reply;
        {
            ScopedWaitLimit whileTransferring(*link, 2);
            EXPECT_EQ(link->waitLimitMs(), 2000);
            reply = link->sendCmd(command, prompt, "", false);
            seconds = now() - started;
        }
        EXPECT_EQ(link->waitLimitMs(), ordinary);
        EXPECT_FALSE(reply.foundFirst);
        EXPECT_TRUE(reply.contains("...")) << "the device kept sending";
        EXPECT_GE(seconds, 1.99) << "the engine counts whole milliseconds";
        const std::string head = std::string(type) + "-reply limit of 2 seconds reached: the device kept sending for ";
        // The qx.CLI prompt begins with a line feed, which the log shows as a blank.
        const std::string lastLine = prompt.substr(prompt.rfind('\n') + 1);
        size_t found = std::string::npos;
        for (const auto& line : lines("ERR"))
            if (line.rfind(head, 0) == 0 && line.find(" seconds without ever showing '") != std::string::npos &&
                line.find(lastLine + "'!") != std::string::npos)
                found = line.size();
        EXPECT_NE(found, std::string::npos) << dump();
        printf("%s: the trickled wait ended after %.2f s\n", type, seconds);

        const size_t trickled = device.transcript().rfind("fault: trickling");
        link->disconnect();
        EXPECT_FALSE(link->isConnected());
        EXPECT_TRUE(hasLine("INF", "No logout: the device kept sending without its prompt; ending the session."));
        const std::string after = device.transcript().substr(trickled);
        EXPECT_EQ(after.find("<<< "), std::string::npos) << "nothing sent after the trickled command:\n" << after;
    }
}

TEST_F(WaitLimitTest, ALimitOfItsOwnEndsATricklingReplyAndIsRestored) {
    startDevice({"--family", "nexa", "--trickle", "100", "--trickle-after", "tmibAdmSystemId"});
    trickledWait("NEXA", "tmibAdmSystemId");
}

TEST_F(WaitLimitTest, ATricklingQxCliDeviceIsNotHeldForItsLogout) {
    startDevice({"--family", "qxcli", "--trickle", "100", "--trickle-after", "monitor"});
    trickledWait("qx.CLI", "\x10monitor");
}

// The limits without a device: the multiple of the silence time-out, a
// limit of the wait's own, and the one a file's size gives a transfer.
TEST(WaitLimits, FollowTheSilenceTimeOutOrWhatTheWaitIsFor) {
    logEngine log(true);
    connection link(&log, DeviceFamily("NEXA"));
    struct Case {
        int silence;   // seconds
        int ownLimit;  // seconds, 0: none
        int expectedMs;
    };
    const Case cases[] = {
        {10, 0, 300000},    // an ordinary command
        {20, 0, 600000},    // the ping, the SSH-service check
        {60, 0, 1800000},   // slow device commands
        {0, 0, 1000},       // never less than a second
        {60, 700, 700000},  // a transfer's own limit, whatever the silence
        {10, 0, 300000},    // and the multiple again once it is lifted
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.silence) + " s silence, own limit " + std::to_string(c.ownLimit));
        link.setTimeout(c.silence);
        link.setWaitLimit(c.ownLimit);
        EXPECT_EQ(link.waitLimitMs(), c.expectedMs);
    }

    // 600 seconds, and one more for every 8 KiB the slowest link carries.
    testsupport::TempDir dir;
    struct File {
        long long bytes;  // -1: no such file
        int seconds;
    };
    const File files[] = {
        {-1, 600}, {0, 600}, {8191, 600}, {8192, 601}, {50LL << 20, 600 + 6400}, {1LL << 40, INT_MAX / 1000}};
    for (const File& f : files) {
        SCOPED_TRACE(f.bytes);
        const std::string path = dir.file("image" + std::to_string(f.bytes));
        if (f.bytes >= 0) {
            // Sparse: the size is what counts, not the blocks.
            int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(ftruncate(fd, f.bytes), 0);
            close(fd);
        }
        EXPECT_EQ(Tarvo::transferWaitLimit(path), f.seconds);
    }
}

}  // namespace
