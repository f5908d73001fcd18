// The limit of a wait as a whole, against devsim: a large reply still
// arrives whole at the ordinary limit, over Telnet and over SSH.
#include <cstdlib>
#include <memory>

#include "tests/conn/ConnFixture.h"
#include "util/SSHConnection.h"
#include "util/connection.h"

using conntest::ConnFixture;

namespace {

class WaitLimitTest : public ConnFixture {
protected:
    std::unique_ptr<ConnectionHandler> open(const std::string& type) {
        if (type == "Telnet") return std::make_unique<connection>(&log, DeviceFamily("NEXA"));
        return std::make_unique<SSHConnection>(&log, DeviceFamily("NEXA"), SSH);
    }
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

}  // namespace
