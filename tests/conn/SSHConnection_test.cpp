// SSHConnection driving the real OpenSSH ssh and sftp clients against
// devsim on loopback.
#include "util/SSHConnection.h"
#include "tests/conn/ConnFixture.h"

using conntest::ConnFixture;

namespace {

class SSHConnectionTest : public ConnFixture {
protected:
    std::string sshLine(const std::string& user, const std::string& address) const {
        return "ssh -T -o StrictHostKeyChecking=no -o ConnectTimeout=3 -o UserKnownHostsFile=/dev/null -o "
               "LogLevel=ERROR " +
               user + "@" + address + " -p " + std::to_string(device.sshPort());
    }

    // Clients the connection has running: each is a child of this process
    // (the shell that runs ssh or sftp).
    size_t runningClients() const { return childCount(); }

    // Every entry of the transcript that contains text.
    size_t inTranscript(const std::string& text) const { return count(device.transcript(), text); }
};

// Three rows, two for one user: the first client gets both of that user's
// passwords and the second one is accepted.
TEST_F(SSHConnectionTest, SecondPasswordOfTheFirstUserAccepted) {
    startDevice({"--family", "nexa", "--user", "admin", "--password", "Pw-right-2", "--user", "oper", "--password",
                 "Pw-oper-3"});
    LoginSettings logins = {{"admin", "Pw-old-1", "(lastworking)"},
                            {"admin", "Pw-right-2", "(supplied)"},
                            {"oper", "Pw-oper-3", "(default-1)"}};
    {
        SSHConnection ssh(&log, DeviceFamily("NEXA"), SSH);
        ASSERT_TRUE(ssh.connect(settingsFor("127.0.0.1"), logins)) << dump();
        EXPECT_TRUE(ssh.isConnected());
        EXPECT_EQ(ssh.cTypeStr(), "SSH");
        EXPECT_EQ(runningClients(), 1u) << clientProcesses();

        commandResult ping = ssh.sendCmd("ping -c 2 127.0.0.1", ":admin>", "packets received", false);
        EXPECT_TRUE(ping.foundFirst);
        EXPECT_TRUE(ping.foundSecond);
        EXPECT_EQ(ping.fetch("(\\d+) \\s packets \\s received"), "2");
        EXPECT_TRUE(ssh.checkSSHEnabled());
        ssh.disconnect();
        EXPECT_FALSE(ssh.isConnected());
        EXPECT_EQ(runningClients(), 0u) << clientProcesses();
    }
    EXPECT_EQ(find("DBG", "Running SSHConnection::connect(SSH)."), 0u);
    EXPECT_EQ(countLines("DBG", "Starting SSH by '" + sshLine("admin", "127.0.0.1") + "'."), 1u) << dump();
    EXPECT_EQ(countLines("INF", "SSH-connecting to host 'admin@127.0.0.1'."), 1u);
    size_t first = find("DBG", "Trying user 'admin' with password 'Pw-old-1'.");
    size_t second = find("DBG", "Trying user 'admin' with password 'Pw-right-2'.", first);
    size_t success = find("DBG", "Success: User 'admin' with password 'Pw-right-2'.", second);
    size_t loggedIn = find("INF", "Successfully logged into router.", success);
    EXPECT_NE(find("INF", "*** Deactivating shell-timeout.", loggedIn), std::string::npos) << dump();
    EXPECT_TRUE(hasLine("DBG", "Setting timeout to 8."));
    EXPECT_TRUE(hasLine("INF", "No need for SSH-enable-check as SSH-login was successful."));
    EXPECT_TRUE(hasLine("DBG", "Running SSHConnection::checkSSHEnabled()."));
    EXPECT_FALSE(hasLine("INF", "SSH-connecting to host 'oper@127.0.0.1'."));
    EXPECT_TRUE(lines("ERR").empty()) << dump();

    EXPECT_EQ(inTranscript("connection from"), 1u);
    EXPECT_EQ(inTranscript("ssh#1 --- ssh password 'Pw-old-1' for admin refused (attempt 1 of 3)"), 1u);
    EXPECT_EQ(inTranscript("ssh#1 --- ssh password 'Pw-right-2' for admin accepted"), 1u);
    EXPECT_EQ(inTranscript("ssh#1 <<< t 0\n"), 1u);
    EXPECT_EQ(inTranscript("ssh#1 <<< exit\n"), 1u);

    std::string traffic;
    for (const auto& line : lines("COM")) traffic += line + "\n";
    EXPECT_NE(traffic.find("password: (lastworking)"), std::string::npos) << traffic;
    EXPECT_NE(traffic.find("password: (supplied)"), std::string::npos) << traffic;
    EXPECT_EQ(leakedSecrets({"Pw-old-1", "Pw-right-2", "Pw-oper-3"}), "");
}

// All wrong, the client asking three times: the first user's two passwords
// go to the first client, its third prompt ends the attempt, and a new
// client gets the other user's row.
TEST_F(SSHConnectionTest, AllPasswordsWrongMovesToTheNextUser) {
    startDevice({"--family", "nexa", "--user", "admin", "--password", "Pw-right-1", "--user", "oper", "--password",
                 "Pw-oper-9"});
    LoginSettings logins = {{"admin", "Pw-wrong-1", "(lastworking)"},
                            {"admin", "Pw-wrong-2", "(supplied)"},
                            {"oper", "Pw-wrong-3", "(default-1)"}};
    {
        SSHConnection ssh(&log, DeviceFamily("NEXA"), SSH);
        EXPECT_FALSE(ssh.connect(settingsFor("127.0.0.1"), logins));
        EXPECT_FALSE(ssh.isConnected());
        EXPECT_EQ(runningClients(), 0u) << clientProcesses();
    }
    size_t tried1 = find("DBG", "Trying user 'admin' with password 'Pw-wrong-1'.");
    size_t tried2 = find("DBG", "Trying user 'admin' with password 'Pw-wrong-2'.", tried1);
    size_t allForUser = find("DBG", "Tried all passwords for current user.", tried2);
    size_t nextClient = find("DBG", "Starting SSH by '" + sshLine("oper", "127.0.0.1") + "'.", allForUser);
    size_t tried3 = find("DBG", "Trying user 'oper' with password 'Pw-wrong-3'.", nextClient);
    size_t allKnown = find("DBG", "Tried all known user/password-combinations.", tried3);
    EXPECT_NE(find("ERR", "Login to router failed!", allKnown), std::string::npos) << dump();
    EXPECT_EQ(countLines("DBG", "Tried all passwords for current user."), 1u);
    EXPECT_FALSE(hasLine("INF", "No more passwords allowed. Re-try SSH-connection.")) << dump();
    EXPECT_FALSE(hasLine("INF", "*** Checking if SSH enabled."));

    EXPECT_EQ(inTranscript("connection from"), 2u) << device.transcript();
    EXPECT_EQ(inTranscript("ssh#1 --- ssh password 'Pw-wrong-2' for admin refused (attempt 2 of 3)"), 1u);
    EXPECT_EQ(inTranscript("ssh#2 --- ssh password 'Pw-wrong-3' for oper refused (attempt 1 of 3)"), 1u);
    EXPECT_EQ(leakedSecrets({"Pw-wrong-1", "Pw-wrong-2", "Pw-wrong-3"}), "");
}

// The server refuses every password beyond its limit, right or wrong; when
// the client gives up, a new client starts with the next untried row.
TEST_F(SSHConnectionTest, ServerAttemptLimitStartsANewClient) {
    startDevice({"--family", "nexa", "--max-auth-tries", "2", "--user", "admin", "--password", "Pw-right-5", "--user",
                 "oper", "--password", "Pw-oper-6"});
    LoginSettings logins = {{"admin", "Pw-wrong-1", "(lastworking)"},
                            {"admin", "Pw-wrong-2", "(supplied)"},
                            {"admin", "Pw-right-5", "(default-1)"},
                            {"oper", "Pw-oper-6", "(default-2)"}};
    {
        SSHConnection ssh(&log, DeviceFamily("NEXA"), SSH);
        ASSERT_TRUE(ssh.connect(settingsFor("127.0.0.1"), logins)) << dump();
        EXPECT_EQ(runningClients(), 1u) << "the refused client is gone:\n" << clientProcesses();
    }
    size_t third = find("DBG", "Trying user 'admin' with password 'Pw-right-5'.");
    size_t refused = find("INF", "No more passwords allowed. Re-try SSH-connection.", third);
    size_t next = find("INF", "SSH-connecting to host 'oper@127.0.0.1'.", refused);
    EXPECT_NE(find("DBG", "Success: User 'oper' with password 'Pw-oper-6'.", next), std::string::npos) << dump();
    EXPECT_EQ(inTranscript("ssh#1 --- ssh password 'Pw-right-5' for admin refused: no more attempts allowed"), 1u)
        << device.transcript();
    EXPECT_EQ(inTranscript("ssh#2 --- ssh password 'Pw-oper-6' for oper accepted"), 1u) << device.transcript();
    EXPECT_EQ(leakedSecrets({"Pw-wrong-1", "Pw-wrong-2", "Pw-right-5", "Pw-oper-6"}), "");
}

TEST_F(SSHConnectionTest, NoSshServiceEnabledOverTelnetThenRetried) {
    startDevice({"--family", "nexa", "--no-ssh", "--user", "admin", "--password", "Pw-enable-4"});
    {
        SSHConnection ssh(&log, DeviceFamily("NEXA"), SSH);
        ASSERT_TRUE(ssh.connect(settingsFor("127.0.0.1"), {{"admin", "Pw-enable-4", "(supplied)"}})) << dump();
        EXPECT_EQ(runningClients(), 1u) << clientProcesses();
    }
    size_t first = find("INF", "SSH-connecting to host 'admin@127.0.0.1'.");
    size_t noService = find("INF", "Timeout or unexpected reply in login-procedure!", first);
    size_t checking = find("INF", "*** Checking if SSH enabled.", noService);
    size_t telnet = find("INF", "Telnet-connecting to host '127.0.0.1'.", checking);
    size_t keygen = find("INF", "Found no SSH-keys. Try to build them.", telnet);
    size_t keys = find("INF", "Found SSH-keys. Make sure that SSH-daemon is running.", keygen);
    size_t retrying = find("INF", "*** Retrying SSH-connection.", keys);
    size_t again = find("INF", "SSH-connecting to host 'admin@127.0.0.1'.", retrying);
    EXPECT_NE(find("INF", "Successfully logged into router.", again), std::string::npos) << dump();
    EXPECT_EQ(entries().at(checking - 1).text, "");
    EXPECT_EQ(entries().at(retrying - 1).text, "");
    EXPECT_EQ(countLines("INF", "*** Checking if SSH enabled."), 1u);
    EXPECT_FALSE(hasLine("ERR", "SSH-enabled-check failed!"));

    std::string transcript = device.transcript();
    EXPECT_NE(transcript.find("telnet#1 <<< ssh-keygen -q -t rsa -b 1024 -f sshd_host_rsa_key -N ''"),
              std::string::npos)
        << transcript;
    EXPECT_NE(transcript.find("telnet#1 <<< sshd\n"), std::string::npos);
    std::string ssh = device.readStateFile("ssh");
    EXPECT_NE(ssh.find("keys yes"), std::string::npos) << ssh;
    EXPECT_NE(ssh.find("service enabled"), std::string::npos) << ssh;
    // Neither the Telnet login of the check nor the SSH login shows it.
    EXPECT_EQ(leakedSecrets({"Pw-enable-4"}), "");
}

// Two devices stand for the router's two addresses, on the same ports.
class SSHFallbackTest : public SSHConnectionTest {
protected:
    void startFallback(const std::vector<std::string>& extra) {
        std::vector<std::string> options = {"--family",      "nexa",
                                            "--listen",      "127.0.0.2",
                                            "--telnet-port", std::to_string(device.telnetPort()),
                                            "--ssh-port",    std::to_string(device.sshPort())};
        options.insert(options.end(), extra.begin(), extra.end());
        ASSERT_TRUE(fallback.start(options)) << fallback.error() << fallback.log();
    }

    testsim::DevSim fallback{dir.file("fallback")};
};

// The check over Telnet fails on the first address (the device drops the
// line in the update shell); the next address has SSH and logs in.
TEST_F(SSHFallbackTest, FailedEnableCheckMovesToTheNextAddress) {
    startDevice({"--family", "nexa", "--listen", "127.0.0.1", "--no-ssh", "--close-mid-reply", "update"});
    startFallback({});
    {
        SSHConnection ssh(&log, DeviceFamily("NEXA"), SSH);
        ASSERT_TRUE(ssh.connect(settingsFor("127.0.0.1", "127.0.0.2"), {{"admin", "admin", "(supplied)"}})) << dump();
    }
    size_t checking = find("INF", "*** Checking if SSH enabled.");
    size_t failed = find("ERR", "SSH-enabled-check failed!", checking);
    size_t switching = find("INF", "Switching to next router-address.", failed);
    size_t next = find("INF", "SSH-connecting to host 'admin@127.0.0.2'.", switching);
    EXPECT_NE(find("INF", "Successfully logged into router.", next), std::string::npos) << dump();
    EXPECT_EQ(countLines("INF", "*** Checking if SSH enabled."), 1u);
    EXPECT_FALSE(hasLine("INF", "*** Retrying SSH-connection."));
    EXPECT_NE(fallback.transcript().find("ssh password 'admin' for admin accepted"), std::string::npos);
}

// Neither address has SSH and the check fails each time: it runs again for
// the second address, and then there is nothing left to try.
TEST_F(SSHFallbackTest, EnableCheckRunsAgainForTheNextAddress) {
    startDevice({"--family", "nexa", "--listen", "127.0.0.1", "--no-ssh", "--close-mid-reply", "update"});
    startFallback({"--no-ssh"});
    {
        SSHConnection ssh(&log, DeviceFamily("NEXA"), SSH);
        EXPECT_FALSE(ssh.connect(settingsFor("127.0.0.1", "127.0.0.2"), {{"admin", "admin", "(supplied)"}}));
    }
    EXPECT_EQ(countLines("INF", "*** Checking if SSH enabled."), 2u) << dump();
    EXPECT_EQ(countLines("ERR", "SSH-enabled-check failed!"), 2u);
    size_t second = find("INF", "SSH-connecting to host 'admin@127.0.0.2'.");
    size_t none = find("DBG", "No alternative addresses available.", second);
    EXPECT_NE(find("ERR", "Login to router failed!", none), std::string::npos) << dump();
}

// SFTP on a port other than 22: the port option stands before the
// destination, no shell command follows the login, and a reboot request
// sends nothing but still ends the client.
TEST_F(SSHConnectionTest, SftpLogsInWithoutShellCommands) {
    startDevice({"--family", "qxcli"});
    const std::string expectedLine = "sftp -P" + std::to_string(device.sshPort()) +
                                     " -o StrictHostKeyChecking=no -o ConnectTimeout=3 -o "
                                     "UserKnownHostsFile=/dev/null -o LogLevel=ERROR admin@127.0.0.1";
    {
        SSHConnection sftp(&log, DeviceFamily("qx.CLI"), SFTP);
        ASSERT_TRUE(sftp.connect(settingsFor("127.0.0.1"), {{"admin", "admin", "(supplied)"}})) << dump();
        EXPECT_EQ(sftp.cTypeStr(), "SFTP");
        EXPECT_EQ(sftp.promptPrefix, "\n");
        commandResult listing = sftp.sendCmd("ls /", "\nsftp>", "", false);
        EXPECT_TRUE(listing.foundFirst);
        EXPECT_TRUE(listing.contains("DSK")) << listing.matchedReply;
        EXPECT_TRUE(sftp.checkSSHEnabled());
        sftp.triggerReboot();
        EXPECT_FALSE(sftp.isConnected());
        EXPECT_EQ(runningClients(), 0u) << clientProcesses();
    }
    {
        SSHConnection sftp(&log, DeviceFamily("NEXA"), SFTP);
        ASSERT_TRUE(sftp.connect(settingsFor("127.0.0.1"), {{"admin", "admin", "(supplied)"}})) << dump();
        EXPECT_EQ(sftp.promptPrefix, "");
        sftp.disconnect();
    }
    EXPECT_EQ(countLines("DBG", "Starting SFTP by '" + expectedLine + "'."), 2u) << dump();
    EXPECT_EQ(countLines("DBG", "Running SSHConnection::connect(SFTP)."), 2u);
    EXPECT_TRUE(hasLine("INF", "No need for SSH-enable-check as SFTP-login was successful."));
    EXPECT_FALSE(hasLine("INF", "*** Deactivating shell-timeout."));
    EXPECT_TRUE(lines("ERR").empty()) << "the exit echo arrived:\n" << dump();
    std::string transcript = device.transcript();
    EXPECT_EQ(transcript.find("running-config"), std::string::npos) << transcript;
    EXPECT_EQ(transcript.find("restart"), std::string::npos) << transcript;
    EXPECT_EQ(transcript.find("reboot"), std::string::npos) << transcript;
}

// The device goes away under an SFTP session.
TEST_F(SSHConnectionTest, DeviceGoneUnderSftp) {
    startDevice({"--family", "qxcli"});
    {
        SSHConnection sftp(&log, DeviceFamily("qx.CLI"), SFTP);
        ASSERT_TRUE(sftp.connect(settingsFor("127.0.0.1"), {{"admin", "admin", "(supplied)"}})) << dump();
        device.stop();
        commandResult listing = sftp.sendCmd("ls /", "\nsftp>", "", false);
        EXPECT_FALSE(listing.foundFirst);
        commandResult after = sftp.sendCmd("ls /", "\nsftp>", "", false);
        EXPECT_FALSE(after.foundFirst);
    }
    std::vector<std::string> errors = lines("ERR");
    ASSERT_FALSE(errors.empty());
    bool writeFailed = false;
    for (const auto& error : errors) writeFailed |= error == "SFTP-write failed: Calling send on a closed pipe!!";
    EXPECT_TRUE(writeFailed) << dump();
}

}  // namespace
