// Per-family dialogues of the job against devsim, on bare connections and
// without a database: the job object gets only the log, the family, the
// prompts and the records a dialogue reads.
#include <memory>

#include "db/Cordal_customer.h"
#include "db/Cordal_router.h"
#include "main/Tarvo.h"
#include "tests/conn/ConnFixture.h"
#include "util/SSHConnection.h"
#include "util/connection.h"

using conntest::ConnFixture;
using conntest::parseLog;

namespace {

class DialogueTest : public ConnFixture {
protected:
    // A job for a router of family os, logging into job.log.
    void makeJob(const std::string& os) {
        job.log.reset(new logEngine(true));
        job.routerOs = os;
        job.family = DeviceFamily(os);
        job.router.reset(new Cordal_router(static_cast<Database*>(nullptr)));
        job.customer.reset(new Cordal_customer(static_cast<Database*>(nullptr)));
        job.connectSettings.reset(new ConnectSettings(settingsFor("127.0.0.1")));
        job.loginSettings.reset(new LoginSettings{{"admin", "admin", "(supplied)"}});
    }

    std::string jobLog() const { return job.log->dumpAsString(); }
    bool jobHasLine(const std::string& facility, const std::string& text) const {
        for (const auto& entry : parseLog(*job.log))
            if (entry.facility == facility && entry.text == text) return true;
        return false;
    }
    // Every non-debug line of the job's log that shows secret.
    std::string jobLeaks(const std::string& secret) const {
        std::string leaks;
        for (const auto& entry : parseLog(*job.log))
            if (entry.facility != "DBG" && entry.text.find(secret) != std::string::npos)
                leaks += entry.facility + " - " + entry.text + "\n";
        return leaks;
    }
    // Whether the device takes this admin password for a new login.
    bool logsInWith(const std::string& password) {
        logEngine probeLog(true);
        connection probe(&probeLog, job.family);
        bool in = probe.connect(settingsFor("127.0.0.1"), {{"admin", password, "(probe)"}});
        probe.disconnect();
        return in;
    }
    // The lines appear in the transcript in this order.
    void expectInOrder(const std::vector<std::string>& sequence) {
        std::string transcript = device.transcript();
        size_t at = 0;
        for (const auto& line : sequence) {
            at = transcript.find(line, at);
            ASSERT_NE(at, std::string::npos) << line << " missing or out of order in\n" << transcript;
            ++at;
        }
    }

    Tarvo job{0, true, false, false, false, Paths(dir.path())};
};

TEST_F(DialogueTest, StepSendsWaitsAndFailsWithMissingPrompt) {
    device.writeStateFile("variables", "tmibAdmSystemId=SN-4711\ntmibAdmSWVersion=V.10.1.5.101\n");
    startDevice({"--family", "nexa", "--listen", "127.0.0.1"});
    makeJob("NEXA");
    connection link(job.log.get(), job.family);
    ASSERT_TRUE(job.connect(link)) << jobLog();

    commandResult reply;
    EXPECT_TRUE(job.step(link, "tmibAdmSystemId", job.family.promptMain, &reply));
    EXPECT_EQ(reply.fetch("\"([^\"]*)\""), "SN-4711");
    EXPECT_TRUE(job.reason.empty());

    // The quiet flag keeps the reply out of the ordinary log.
    EXPECT_TRUE(job.step(link, "tmibAdmSWVersion", job.family.promptAdmin, nullptr, true));
    EXPECT_EQ(jobLeaks("V.10.1.5.101"), "");
    EXPECT_NE(jobLog().find("DBG - tmibAdmSWVersion.0(\"V.10.1.5.101\")"), std::string::npos) << jobLog();

    // A prompt that never comes: the reply is still handed back.
    EXPECT_FALSE(job.step(link, "tmibAdmSystemId", "never-shown>", &reply));
    EXPECT_EQ(job.reason, "Missing prompt");
    EXPECT_TRUE(jobHasLine("ERR", "Missing 'never-shown>' prompt.")) << jobLog();
    EXPECT_TRUE(reply.contains("SN-4711"));
    EXPECT_FALSE(reply.foundFirst);

    // A command the channel refuses fails its step with a reason of its own.
    EXPECT_FALSE(job.step(link, "tmibAdmSystemId\nconfigd delete boot_fac", job.family.promptMain));
    EXPECT_EQ(job.reason, "Command refused");
    job.reason.clear();
    EXPECT_FALSE(job.secretStep(link, "cert get -PAdm\rconfigd delete x", job.family.promptMain, "Adm\rconfigd"));
    EXPECT_EQ(job.reason, "Command refused");
    EXPECT_TRUE(jobHasLine("ERR", "A command held a control character and was not sent to the device.")) << jobLog();
    job.disconnect(link);
    expectInOrder({"<<< tmibAdmSystemId\n", "<<< tmibAdmSWVersion\n", "<<< tmibAdmSystemId\n"});
    EXPECT_EQ(device.transcript().find("configd"), std::string::npos) << device.transcript();
}

TEST_F(DialogueTest, QxCliPasswordsOverTelnetKeepTheEchoedPasswordOutOfTheLog) {
    startDevice({"--family", "qxcli", "--listen", "127.0.0.1", "--hostname", "qx7"});
    makeJob("qx.CLI");
    const std::string password = "N3w.Pa$$(x)*";
    job.router->tmibadmadmincommunity = password;
    {
        connection link(job.log.get(), job.family);
        ASSERT_TRUE(job.connect(link)) << jobLog();
        job.setPasswords(link);
        job.disconnect(link);
    }
    EXPECT_TRUE(job.reason.empty()) << jobLog();
    expectInOrder({"<<< \\x10running-config\n", "<<< user admin password \"" + password + "\"\n", "<<< \\x10config\n",
                   "<<< user admin password \"" + password + "\"\n", "<<< save yes\n"});
    // The device echoes every command over Telnet; the log shows stars.
    EXPECT_EQ(jobLeaks(password), "") << jobLog();
    EXPECT_TRUE(jobHasLine("COM", "qx7Config$user admin password \"******\" ")) << jobLog();
    EXPECT_TRUE(jobHasLine("INF", "Mode is default. -> Save passwords in boot-config."));
    EXPECT_NE(device.readStateFile("saved-passwords").find("admin " + password + "\n"), std::string::npos);
    EXPECT_TRUE(logsInWith(password));
    EXPECT_FALSE(logsInWith("admin"));
}

TEST_F(DialogueTest, NexaPasswordsAreSentQuietlyAndSaved) {
    startDevice({"--family", "nexa", "--listen", "127.0.0.1"});
    makeJob("NEXA");
    job.router->tmibadmadmincommunity = "Adm(1)";
    job.router->tmibadmwritecommunity = "Wr.2*";
    {
        connection link(job.log.get(), job.family);
        ASSERT_TRUE(job.connect(link)) << jobLog();
        job.setPasswords(link);
        job.disconnect(link);
    }
    EXPECT_TRUE(job.reason.empty()) << jobLog();
    expectInOrder({"<<< tmibAdmAdminCommunity=\"Adm(1)\"\n", "<<< tmibAdmWriteCommunity=\"Wr.2*\"\n",
                   "<<< configd save all boot\n"});
    EXPECT_EQ(device.transcript().find("ReadCommunity"), std::string::npos);
    EXPECT_TRUE(jobHasLine("INF", "Read community password is empty, won't be changed."));
    // The device echoes the assignments over Telnet and answers with the
    // values: both only in debug lines.
    EXPECT_EQ(jobLeaks("Adm(1)"), "") << jobLog();
    EXPECT_EQ(jobLeaks("Wr.2*"), "") << jobLog();
    EXPECT_NE(jobLog().find("DBG - tmibAdmWriteCommunity.0(\"Wr.2*\")"), std::string::npos) << jobLog();
    EXPECT_EQ(device.readStateFile("communities"), "read public\nwrite Wr.2*\n");
    EXPECT_TRUE(logsInWith("Adm(1)"));
    EXPECT_FALSE(logsInWith("admin"));
}

TEST_F(DialogueTest, PasswordsThatWouldBreakTheCommandAreNotSent) {
    startDevice({"--family", "nexa", "--listen", "127.0.0.1"});
    makeJob("NEXA");
    job.router->tmibadmadmincommunity = "Fine-1";
    // A quote would end the value early; a line end would start a command.
    for (const std::string bad : {"half\"quoted", "two\rlines", "cmd\nreboot"}) {
        SCOPED_TRACE(bad);
        job.reason.clear();
        job.router->tmibadmwritecommunity = bad;
        connection link(job.log.get(), job.family);
        ASSERT_TRUE(job.connect(link)) << jobLog();
        job.setPasswords(link);
        job.disconnect(link);
        EXPECT_EQ(job.reason, "Bad password");
    }
    EXPECT_TRUE(jobHasLine("ERR", "A new password holds a double quote or a control character; nothing was sent."));
    EXPECT_EQ(device.transcript().find("Community"), std::string::npos) << device.transcript();
    EXPECT_EQ(device.readStateFile("saved-passwords"), "admin admin\nread public\nwrite private\n");
    EXPECT_TRUE(logsInWith("admin"));
}

TEST_F(DialogueTest, QxCliInventoryReadersOverSsh) {
    device.writeStateFile("version",
                          "qx.CLI edge QX Router, QX-2200/B\n S/N: 0815-4711\nSoftware release: 10.2.7 (Build 3)\n");
    startDevice({"--family", "qxcli", "--listen", "127.0.0.1", "--hostname", "edge"});
    makeJob("qx.CLI");
    SSHConnection link(job.log.get(), job.family, SSH);
    ASSERT_TRUE(job.connect(link)) << jobLog();
    commandResult report;
    ASSERT_TRUE(job.inventoryPrepQxCli(link, report)) << jobLog();
    EXPECT_TRUE(job.inventorySerialQxCli(report));
    EXPECT_TRUE(job.inventoryPartNoQxCli(report));
    EXPECT_TRUE(job.inventorySwVerQxCli(report));
    job.disconnect(link);
    EXPECT_EQ(job.router->seriennr, "0815-4711");
    EXPECT_EQ(job.router->partno, "QX-2200/B");
    EXPECT_EQ(job.router->swversion, "10.2.7");
    expectInOrder({"<<< \\x10monitor\n", "<<< version\n"});

    // A report without the part number line: the others are still read.
    commandResult partial;
    partial.add("x\n S/N: 1\nSoftware release: 2\n");
    partial.matchedReply = partial.replies[0];
    EXPECT_FALSE(job.inventoryPartNoQxCli(partial));
    EXPECT_TRUE(job.inventorySerialQxCli(partial));
    EXPECT_EQ(job.router->seriennr, "1");
    EXPECT_EQ(job.router->partno, "QX-2200/B") << "a missing fact leaves the stored one";

    // A marker without a value is no fact either.
    commandResult empty;
    empty.add("x\n S/N: \r\n");
    empty.matchedReply = empty.replies[0];
    EXPECT_FALSE(job.inventorySerialQxCli(empty));
    EXPECT_EQ(job.router->seriennr, "1");
}

}  // namespace
