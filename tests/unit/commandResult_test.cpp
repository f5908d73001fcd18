#include "util/commandResult.h"

#include <gtest/gtest.h>

#include "tests/support/ReplyJudge.h"
#include "util/ConnectionHandler.h"
#include "util/logEngine.h"

namespace {
using Judge = testsupport::ReplyJudge;

std::vector<std::string> linesOf(const logEngine& log) {
    std::vector<std::string> v;
    log.fillVector(v);
    return v;
}
}  // namespace

TEST(commandResult, ContainsAndFetch) {
    commandResult r;
    EXPECT_FALSE(r.foundFirst);
    EXPECT_FALSE(r.contains("")) << "no reply yet";
    r.add("first reply");
    r.add("Serial number: AB123\n");
    EXPECT_TRUE(r.contains(""));
    EXPECT_TRUE(r.contains("AB123"));
    EXPECT_FALSE(r.contains("ab123"));
    EXPECT_EQ(r.fetch("Serial[\\s]number:[\\s]*(\\S+)"), "INVALID") << "fetch only searches matchedReply";
    r.matchedReply = "Serial number: AB123\n";
    EXPECT_EQ(r.fetch("Serial[\\s]number: [\\s]* (\\S+)  # white space is ignored"), "AB123");
    EXPECT_EQ(r.fetch("Serial"), "INVALID") << "no captured group";
    EXPECT_EQ(r.fetch("Serial(?:x)?"), "INVALID");
    EXPECT_EQ(r.fetch("(unclosed"), "INVALID");
}

TEST(commandResult, JudgingFlagsAndNotFoundMessages) {
    logEngine log(true);
    auto both = Judge::judgeReply(&log, "abc Config$ xyz*", "*", "Config$", false, "", "SSH");
    EXPECT_TRUE(both.foundFirst);
    EXPECT_TRUE(both.foundSecond);
    EXPECT_EQ(both.matchedReply, "abc Config$ xyz*");
    ASSERT_EQ(both.replies.size(), 1u);

    auto onlySecond = Judge::judgeReply(&log, "Config$", "*", "Config$", false, "", "SSH");
    EXPECT_FALSE(onlySecond.foundFirst);
    EXPECT_TRUE(onlySecond.foundSecond);
    EXPECT_EQ(onlySecond.matchedReply, "");

    // Expected texts are literal: a dollar sign is no anchor.
    auto literal = Judge::judgeReply(&log, "Config\n", "Config$", "", false, "", "Telnet");
    EXPECT_FALSE(literal.foundFirst);

    log = logEngine(true);
    Judge::judgeReply(&log, "nope\n", "A", "B", false, "", "SFTP");
    Judge::judgeReply(&log, "nope\n", "", "B", false, "", "SSH");
    Judge::judgeReply(&log, "nope\n", "A", "", false, "", "Telnet");
    Judge::judgeReply(&log, "nope\n", "A", "", false, "SSH-reply timed-out!", "SSH");
    auto v = linesOf(log);
    ASSERT_EQ(v.size(), 8u);
    EXPECT_NE(v[0].find("COM - nope"), std::string::npos);
    EXPECT_NE(v[1].find("ERR - Expected 'A' or 'B' not found in SFTP-reply-lines 'nope '!"), std::string::npos);
    EXPECT_NE(v[3].find("ERR - Expected 'B' not found in SSH-reply-lines 'nope '!"), std::string::npos);
    EXPECT_NE(v[5].find("ERR - Expected 'A' not found in Telnet-reply-lines 'nope '!"), std::string::npos);
    EXPECT_NE(v[7].find("ERR - SSH-reply timed-out!"), std::string::npos);
    EXPECT_EQ(v[7].find("Expected"), std::string::npos) << "a time-out replaces the not-found message";
}

TEST(commandResult, RepliesWithCredentialsAreLoggedAsDebug) {
    logEngine quiet(false);
    auto r = Judge::judgeReply(&quiet, "community secret set\nset secret>", ">", "", true, "", "Telnet");
    EXPECT_TRUE(r.foundFirst);
    // The unfinished last line of the quiet reply stays out of the next
    // ordinary traffic line.
    Judge::judgeReply(&quiet, "\nrouter>", ">", "", false, "", "Telnet");
    quiet.flushPending(1);
    EXPECT_EQ(quiet.dumpAsString().find("secret"), std::string::npos) << quiet.dumpAsString();
    EXPECT_NE(quiet.dumpAsString().find("COM - router>"), std::string::npos);
    logEngine loud(true);
    Judge::judgeReply(&loud, "community secret set\n", ">", "", true, "", "Telnet");
    auto v = linesOf(loud);
    ASSERT_FALSE(v.empty());
    EXPECT_NE(v[0].find("DBG - community secret set"), std::string::npos);
}

TEST(ConnectSettings, AddressOrder) {
    ConnectSettings s;
    s.address = "10.0.0.1";
    EXPECT_EQ(s.addressList(), (std::vector<std::string>{"10.0.0.1"}));
    s.startWithFallback = true;
    EXPECT_EQ(s.addressList(), (std::vector<std::string>{"10.0.0.1"})) << "no fallback address, no second entry";
    s.fallbackAddress = "10.0.0.2";
    EXPECT_EQ(s.addressList(), (std::vector<std::string>{"10.0.0.2", "10.0.0.1"}));
    s.startWithFallback = false;
    EXPECT_EQ(s.addressList(), (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
}
