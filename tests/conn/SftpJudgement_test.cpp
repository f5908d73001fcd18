// The one judgement of sftp replies, against what the real sftp client
// prints for the simulated device's files: failed transfers, renames and
// removals are failures whichever way the client words them.
#include "main/Tarvo.h"
#include "tests/conn/ConnFixture.h"
#include "util/SSHConnection.h"

namespace {

commandResult replyOf(const std::string& text) {
    commandResult result;
    result.add(text);
    return result;
}

TEST(SftpJudgement, FailureLinesOfOldAndNewClients) {
    struct Case {
        const char* reply;
        bool failed;
    } cases[] = {
        {"sftp> get /DSK/A.CFG /x/1.config\r\nFetching /DSK/A.CFG to /x/1.config\r\n/DSK/A.CFG    100%  27  "
         "1.2KB/s   00:00    \r\nsftp>",
         false},
        {"sftp> rename /MEM/A /DSK/A\r\nsftp>", false},
        {"Couldn't rename file \"/MEM/A\" to \"/DSK/A\": No such file or directory\r\n", true},
        {"Couldn't delete file: Failure\n", true},
        {"sftp> rename /MEM/A /DSK/A\r\nremote rename \"/MEM/A\": No such file or directory\r\nsftp>", true},
        {"sftp> rm /DSK/A\r\nRemoving /DSK/A\r\nremote delete \"/DSK/A\": Permission denied  \r\nsftp>", true},
        {"  remote open(\"/DSK/B\"): Failure\r\n", true},
        {"stat /MEM/x: No such file or directory\n", true},
        {"File \"/DSK/B.CFG\" not found.\r\n", true},
        // A file name that merely contains the words is no failure.
        {"sftp> get /DSK/remote_Failure /x/remote \r\n/DSK/remote_Failure  100%  1  1.0KB/s  00:00\r\nsftp>", false},
    };
    for (const auto& c : cases) EXPECT_EQ(Tarvo::sftpReplyFailed(replyOf(c.reply)), c.failed) << c.reply;
}

class SftpJudgementTest : public conntest::ConnFixture {};

TEST_F(SftpJudgementTest, TheRealClientsRepliesAreJudgedRight) {
    startDevice({"--family", "qxcli"});
    device.writeStateFile("fs/DSK/A.CFG", "qx\n");
    const std::string local = dir.file("got.config");
    testsupport::writeFile(local + ".up", "up\n");
    SSHConnection sftp(&log, DeviceFamily("qx.CLI"), SFTP);
    ASSERT_TRUE(sftp.connect(settingsFor("127.0.0.1"), {{"admin", "admin", "(supplied)"}})) << dump();
    auto send = [&](const std::string& command) {
        commandResult reply = sftp.sendCmd(command, "\nsftp>", "", false);
        EXPECT_TRUE(reply.foundFirst) << command;
        return reply;
    };

    commandResult fetched = send("get /DSK/A.CFG " + local);
    EXPECT_TRUE(fetched.contains("100%")) << fetched.matchedReply;
    EXPECT_FALSE(Tarvo::sftpReplyFailed(fetched)) << fetched.matchedReply;
    EXPECT_EQ(testsupport::readFile(local), "qx\n");
    commandResult put = send("put " + local + ".up /MEM/B.CFG");
    EXPECT_FALSE(Tarvo::sftpReplyFailed(put)) << put.matchedReply;
    commandResult renamed = send("rename /MEM/B.CFG /DSK/B.CFG");
    EXPECT_FALSE(Tarvo::sftpReplyFailed(renamed)) << renamed.matchedReply;
    EXPECT_EQ(device.readStateFile("fs/DSK/B.CFG"), "up\n");

    for (const char* failing : {"get /DSK/NONE.CFG /tmp/never-written", "rename /MEM/NONE /DSK/NONE", "rm /DSK/NONE"}) {
        commandResult reply = send(failing);
        EXPECT_TRUE(Tarvo::sftpReplyFailed(reply)) << failing << ":\n" << reply.matchedReply;
    }
    sftp.disconnect();
}

}  // namespace
