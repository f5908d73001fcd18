// What both connections share: the address order, the judging and logging
// of a reply, the masking of a secret, and the client command lines.
#include "tests/conn/ConnFixture.h"
#include "tests/support/ReplyJudge.h"
#include "util/SSHConnection.h"

using conntest::parseLog;

namespace {

using Judge = testsupport::ReplyJudge;

TEST(ConnectSettingsTest, AddressOrder) {
    ConnectSettings settings;
    settings.address = "10.0.0.1";
    EXPECT_EQ(settings.addressList(), std::vector<std::string>{"10.0.0.1"});
    settings.startWithFallback = true;
    EXPECT_EQ(settings.addressList(), std::vector<std::string>{"10.0.0.1"}) << "no fallback: nothing to start with";
    settings.fallbackAddress = "10.0.0.2";
    EXPECT_EQ(settings.addressList(), (std::vector<std::string>{"10.0.0.2", "10.0.0.1"}));
    settings.startWithFallback = false;
    EXPECT_EQ(settings.addressList(), (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
}

TEST(ConnectSettingsTest, OnlyAddressesUsersAndPortsThatCannotBeMisread) {
    for (const char* good : {"127.0.0.1", "10.1.2.3", "::1", "fe80::1", "2001:db8::42", "localhost",
                             "router-1.example.net", "example.net.", "r1", "1host"})
        EXPECT_TRUE(ConnectSettings::validAddress(good)) << good;
    for (const char* bad :
         {"", "127.0.0.1 -p 1;touch PWNED;#", "127.0.0.1 garbage", "-oProxyCommand=touch x", "-host", "host-", "a..b",
          ".", "$(id)", "a;b", "a b", "a\nb", "host_name", "[::1]", "user@host", "`id`"})
        EXPECT_FALSE(ConnectSettings::validAddress(bad)) << bad;
    EXPECT_FALSE(ConnectSettings::validAddress(std::string(64, 'a') + ".net")) << "a label has at most 63 characters";
    EXPECT_TRUE(ConnectSettings::validAddress(std::string(63, 'a') + ".net"));

    ConnectSettings settings;
    settings.address = "10.0.0.1";
    const LoginSettings admin{{"admin", "pw", "(supplied)"}};
    EXPECT_EQ(settings.refusal(true, admin), "");
    EXPECT_EQ(settings.refusal(false, admin), "");
    settings.fallbackAddress = "10.0.0.2;reboot";
    EXPECT_EQ(settings.refusal(true, admin),
              "Refusing router address '10.0.0.2;reboot': not an IPv4 or IPv6 address or host name.");
    settings.fallbackAddress.clear();
    EXPECT_EQ(settings.refusal(false, {{"admin", "pw", "1"}, {"-oProxyCommand=x", "pw", "2"}}),
              "Refusing login user '-oProxyCommand=x': it begins with '-'.");
    for (long port : {0L, -1L, 65536L, 99999L, 4294967295L}) {
        settings.telnetPort = port;
        EXPECT_EQ(settings.refusal(true, admin),
                  "Refusing Telnet port " + std::to_string(port) + ": a port is a number from 1 to 65535.");
        EXPECT_EQ(settings.refusal(false, admin), "") << "an SSH connection does not use the Telnet port";
        settings.sshPort = port;
        EXPECT_EQ(settings.refusal(false, admin),
                  "Refusing SSH port " + std::to_string(port) + ": a port is a number from 1 to 65535.");
        settings.sshPort = 22;
    }
    settings.telnetPort = 65535;
    EXPECT_EQ(settings.refusal(true, admin), "");
    settings.telnetPort = 1;
    EXPECT_EQ(settings.refusal(true, admin), "");
}

TEST(MaskSecretTest, LiteralReplacementOnly) {
    EXPECT_EQ(Judge::maskSecret("pw: s3cret\r\nok s3cret", "s3cret"), "pw: ******\r\nok ******");
    // Pattern characters in a password are plain characters.
    EXPECT_EQ(Judge::maskSecret("a.b* axb a.b*", "a.b*"), "****** axb ******");
    EXPECT_EQ(Judge::maskSecret("aaaaaaaa", "aaaa"), "************");
    // A secret shorter than four characters goes only where it stands
    // alone: ordinary words keep their letters.
    EXPECT_EQ(Judge::maskSecret("config on; seconds: on", "on"), "config ******; seconds: ******");
    EXPECT_EQ(Judge::maskSecret("aaaa aa", "aa"), "aaaa ******");
    EXPECT_EQ(Judge::maskSecret("pw=\"on\"", "on"), "pw=\"******\"");
    EXPECT_EQ(Judge::maskSecret("x#1 #1x", "#1"), "x****** #1x");
    EXPECT_EQ(Judge::maskSecret("nothing here", "s3cret"), "nothing here");
    // An empty password is never masked.
    EXPECT_EQ(Judge::maskSecret("Password: \r\n", ""), "Password: \r\n");
    EXPECT_EQ(Judge::maskSecret("", ""), "");
}

class JudgeReplyTest : public ::testing::Test {
protected:
    std::vector<conntest::LogEntry> entries() const { return parseLog(log); }
    logEngine log{true};
};

TEST_F(JudgeReplyTest, FlagsAndMessages) {
    // Expected texts are literal: "Config$" is seven characters.
    commandResult both = Judge::judgeReply(&log, "x Config$ y (Yes/No)\n", "Config$", "(Yes/No)", false, "", "SSH");
    EXPECT_TRUE(both.foundFirst);
    EXPECT_TRUE(both.foundSecond);
    EXPECT_EQ(both.matchedReply, "x Config$ y (Yes/No)\n");
    EXPECT_EQ(both.replies, std::vector<std::string>{"x Config$ y (Yes/No)\n"});

    commandResult secondOnly = Judge::judgeReply(&log, "Login: ", ">", "Login:", false, "", "Telnet");
    EXPECT_FALSE(secondOnly.foundFirst);
    EXPECT_TRUE(secondOnly.foundSecond);
    EXPECT_EQ(secondOnly.matchedReply, "") << "only a found first text gives the matched reply";

    commandResult none = Judge::judgeReply(&log, "Config\n", "Config$", "", false, "", "Telnet");
    EXPECT_FALSE(none.foundFirst);
    EXPECT_EQ(none.fetch("(C\\w+)"), "INVALID");
    Judge::judgeReply(&log, "abc\n", "", "xyz", false, "", "SFTP");
    Judge::judgeReply(&log, "abc\n", "one", "two", false, "", "SSH");
    // A failed wait reports its own error instead of the not-found line.
    Judge::judgeReply(&log, "abc\n", "one", "", false, "SSH-reply timed-out!", "SSH");
    // Nothing expected, nothing to complain about.
    Judge::judgeReply(&log, "abc\n", "", "", false, "", "SSH");

    std::vector<std::string> errors;
    for (const auto& entry : entries())
        if (entry.facility == "ERR") errors.push_back(entry.text);
    EXPECT_EQ(errors, (std::vector<std::string>{"Expected 'Config$' not found in Telnet-reply-lines 'Config '!",
                                                "Expected 'xyz' not found in SFTP-reply-lines 'abc '!",
                                                "Expected 'one' or 'two' not found in SSH-reply-lines 'abc '!",
                                                "SSH-reply timed-out!"}));
}

TEST_F(JudgeReplyTest, ReplyLoggedAsTrafficOrDebugWithTheSecretMasked) {
    commandResult shown = Judge::judgeReply(&log, "Welcome Pw-9.\nrouter> ", "nope", "", false, "", "Telnet", "Pw-9");
    EXPECT_EQ(shown.replies, std::vector<std::string>{"Welcome Pw-9.\nrouter> "}) << "the result is unmasked";
    Judge::judgeReply(&log, "set community Pw-9\n", "", "", true, "", "SSH");
    std::vector<std::string> traffic, debug, errors;
    for (const auto& entry : entries()) {
        if (entry.facility == "COM") traffic.push_back(entry.text);
        if (entry.facility == "DBG") debug.push_back(entry.text);
        if (entry.facility == "ERR") errors.push_back(entry.text);
    }
    // A reply without the awaited text is logged as it arrived: its
    // unfinished last line stands alone (the flush adds a blank) and is not
    // glued to the next reply.
    EXPECT_EQ(traffic, (std::vector<std::string>{"Welcome ******.", "router>  "}));
    EXPECT_EQ(errors,
              std::vector<std::string>{"Expected 'nope' not found in Telnet-reply-lines 'Welcome ******. router> '!"});
    EXPECT_EQ(debug, std::vector<std::string>{"set community Pw-9"});

    // A reply that ends in the awaited prompt keeps its last line pending,
    // so the next traffic continues the prompt's line.
    logEngine prompt(true);
    Judge::judgeReply(&prompt, "ok\nrouter> ", "router>", "", false, "", "Telnet");
    prompt.addBlob(logEngine::COM, "exit\n");
    std::vector<std::string> lines;
    prompt.fillVector(lines);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find("COM - router> exit"), std::string::npos) << lines[1];
}

TEST_F(JudgeReplyTest, AQuietReplyWithoutItsPromptIsNotQuotedInTheErrorLine) {
    // A transfer command's echo carries the transfer password.
    Judge::judgeReply(&log, "configd put all http://u:Pw-9@h/tftpboot/ 1.config boot\n", "router>", "", true, "",
                      "Telnet");
    std::vector<std::string> errors, debug;
    for (const auto& entry : entries()) {
        if (entry.facility == "ERR") errors.push_back(entry.text);
        if (entry.facility == "DBG") debug.push_back(entry.text);
        if (entry.facility != "DBG") {
            EXPECT_EQ(entry.text.find("Pw-9"), std::string::npos) << entry.text;
        }
    }
    EXPECT_EQ(errors, std::vector<std::string>{"Expected 'router>' not found in Telnet-reply-lines '***'!"});
    ASSERT_EQ(debug.size(), 1u);
    EXPECT_NE(debug[0].find("Pw-9"), std::string::npos) << "the reply itself stays in the debug log";
}

// Each connection pauses when it goes, so one case per command line.
TEST(SSHCommandLineTest, SshToNexaWithoutTerminal) {
    logEngine log;
    EXPECT_EQ(SSHConnection(&log, DeviceFamily("NEXA"), SSH).commandLine("admin", "10.1.2.3", 2222),
              "ssh -T -o StrictHostKeyChecking=no -o ConnectTimeout=0 -o UserKnownHostsFile=/dev/null -o "
              "LogLevel=ERROR admin@10.1.2.3 -p 2222");
}

TEST(SSHCommandLineTest, SshToQxCliWithTerminal) {
    logEngine log;
    EXPECT_EQ(SSHConnection(&log, DeviceFamily("qx.CLI"), SSH).commandLine("admin", "10.1.2.3", 22),
              "ssh -o StrictHostKeyChecking=no -o ConnectTimeout=0 -o UserKnownHostsFile=/dev/null -o "
              "LogLevel=ERROR admin@10.1.2.3 -p 22");
}

TEST(SSHCommandLineTest, EveryValueIsOneArgument) {
    // The client starts without a shell: a user or address with blanks or
    // shell syntax stays one argument (and is refused before that anyway).
    logEngine log;
    std::vector<std::string> args =
        SSHConnection(&log, DeviceFamily("NEXA"), SSH).commandArgs("ad min", "1.2.3.4;touch x", 22);
    EXPECT_EQ(args, (std::vector<std::string>{"ssh", "-T", "-o", "StrictHostKeyChecking=no", "-o", "ConnectTimeout=0",
                                              "-o", "UserKnownHostsFile=/dev/null", "-o", "LogLevel=ERROR",
                                              "ad min@1.2.3.4;touch x", "-p", "22"}));
}

TEST(SSHCommandLineTest, SftpPortBeforeTheDestination) {
    // sftp reads options only before the destination.
    logEngine log;
    EXPECT_EQ(SSHConnection(&log, DeviceFamily("NEXA"), SFTP).commandLine("op", "10.1.2.3", 2222),
              "sftp -P2222 -o StrictHostKeyChecking=no -o ConnectTimeout=0 -o UserKnownHostsFile=/dev/null -o "
              "LogLevel=ERROR op@10.1.2.3");
}

}  // namespace
