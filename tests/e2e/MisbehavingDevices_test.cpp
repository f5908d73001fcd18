// Whole jobs against devices that behave the way real servers and odd
// devices do: banners, refusal texts, Telnet option negotiation, changed
// host keys, full disks. Each case proves by the device's transcript and
// state what the job did to it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/e2e/JobTest.h"

using testsupport::contains;
using testsupport::makeDirs;
using testsupport::writeFile;

namespace {

class MisbehavingDevices : public JobTest {
protected:
    void SetUp() override {
        setup.addRouterType("NX-1", "NEXA");
        setup.addRouterType("QX-1", "qx.CLI");
        e2e::JobSettings settings;
        settings.connectTimeout = "3";
        settings.rebootTime = "40";
        setup.writeSettings(settings);
    }

    void writeImage(const std::string& model, const std::string& name, const std::string& bytes) {
        makeDirs(setup.transferDir() + "images/" + model);
        writeFile(setup.transferDir() + "images/" + model + "/" + name, bytes);
    }
};

}  // namespace

// A full disk keeps the part of the image that fitted; the job removes it,
// so it cannot fill the next attempt too.
TEST_F(MisbehavingDevices, FailedSftpUploadLeavesNoPartialFile) {
    SimRouter device("qxcli");
    ASSERT_TRUE(device.start("qxcli", {"--reboot-downtime", "0", "--disk-full", "4000"})) << device.sim.error();
    writeImage("QX-1", "sys.img", "QXCLI-IMAGE 10.3.1\n" + std::string(90000, 's'));
    setup.db.exec("INSERT INTO cordal_swrelease (name, routertype, nexa) VALUES ('R1', 'QX-1', 'sys.img')");
    auto h = runJob(device.row("QX-1", "SSH", {{"softwareimage", "R1"}}), "Image");
    EXPECT_EQ(result.exitCode, 2) << log;
    EXPECT_EQ(h["reason"], "Bad file-transfer");
    const std::string transcript = device.sim.transcript();
    ASSERT_TRUE(contains(transcript, "--- fault: disk full, /MEM/SYS.IMG stops at 4000 bytes")) << transcript;
    EXPECT_TRUE(contains(transcript, "<<< remove /MEM/SYS.IMG")) << transcript;
    EXPECT_FALSE(testsupport::fileExists(device.sim.statePath("fs/MEM/SYS.IMG")));
    EXPECT_FALSE(contains(transcript, "rename /MEM/SYS.IMG"));
    EXPECT_TRUE(contains(log, "INF - Removed the partial file '/MEM/SYS.IMG' of the failed transfer.")) << log;
}

namespace {
// Counts the occurrences of part in text.
size_t occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

// A device case of the login dialogues: the family, the router type, the
// transport and what makes the device odd.
struct OddDevice {
    const char* family;
    const char* model;
    const char* conntype;
    std::vector<std::string> options;
};
}  // namespace

// A refused login whose text holds the family's prompt character is no
// login: the job tries its other candidates, never sends the reboot to a
// device it did not enter and fails "Could not log in".
TEST_F(MisbehavingDevices, RefusedLoginWithThePromptCharacterInItsTextIsNoLogin) {
    const OddDevice cases[] = {
        {"nexa", "NX-1", "Telnet", {"--refuse-login", "Access denied -> contact your administrator"}},
        {"qxcli", "QX-1", "Telnet", {"--refuse-login", "Access denied *** contact your administrator"}},
    };
    for (const OddDevice& c : cases) {
        SCOPED_TRACE(std::string(c.family) + " over " + c.conntype);
        setup.db.exec("DELETE FROM cordal_jobhistory; DELETE FROM cordal_router");
        SimRouter device(std::string("refusal-") + c.family);
        std::vector<std::string> options = c.options;
        options.insert(options.end(), {"--user", "admin", "--password", "Hq4-device-pw"});
        ASSERT_TRUE(device.start(c.family, options)) << device.sim.error();
        auto h = runJob(device.row(c.model, c.conntype, {{"pass", "Wr0-not-this"}}), "Reboot");
        EXPECT_EQ(result.exitCode, 2) << log;
        EXPECT_EQ(h["reason"], "Could not log in") << log;
        const std::string transcript = device.sim.transcript();
        EXPECT_FALSE(contains(transcript, "logged in as")) << transcript;
        // Every candidate was refused by the device itself, not taken for a
        // login after the first refusal.
        EXPECT_GE(occurrences(transcript, "login failed for admin"), 2u) << transcript;
        EXPECT_FALSE(contains(transcript, "<<< cmd=reboot")) << transcript;
        EXPECT_FALSE(contains(transcript, "restart yes")) << transcript;
        EXPECT_TRUE(contains(device.sim.readStateFile("boot"), "count 0"));
        EXPECT_FALSE(contains(log, "Successfully logged into router.")) << log;
    }
}

// A banner with "*" and ">" before the first prompt (a server's message of
// the day) is no prompt: the login uses the right password once, the qx.CLI
// prompt prefix comes from the prompt itself, and the reboot goes to the
// shell.
TEST_F(MisbehavingDevices, BannerWithPromptCharactersBeforeTheFirstPrompt) {
    const std::string banner =
        "*** authorised access only ***\n"
        "individual files in /usr/share/doc/*/copyright.\n"
        "Notice:> all sessions are recorded";
    const OddDevice cases[] = {
        {"qxcli", "QX-1", "SSH", {"--banner", banner}},
        {"nexa", "NX-1", "SSH", {"--banner", banner}},
    };
    for (const OddDevice& c : cases) {
        SCOPED_TRACE(std::string(c.family) + " over " + c.conntype);
        setup.db.exec("DELETE FROM cordal_jobhistory; DELETE FROM cordal_router");
        SimRouter device(std::string("banner-") + c.family);
        std::vector<std::string> options = c.options;
        options.insert(options.end(), {"--reboot-downtime", "0"});
        ASSERT_TRUE(device.start(c.family, options)) << device.sim.error();
        // The device's login is admin/admin, the job's first candidate.
        auto h = runJob(device.row(c.model, c.conntype), "Reboot");
        EXPECT_EQ(result.exitCode, 0) << log;
        EXPECT_EQ(h["status"], "success") << log;
        const std::string transcript = device.sim.transcript();
        // One session, entered with the first password, and the reboot
        // received by the shell.
        EXPECT_EQ(occurrences(transcript, "session started for admin"), 1u) << transcript;
        EXPECT_EQ(occurrences(transcript, "ssh password '"), 1u) << transcript;
        EXPECT_TRUE(contains(transcript, c.family == std::string("qxcli") ? "<<< \\x10restart yes" : "<<< cmd=reboot"))
            << transcript;
        EXPECT_TRUE(contains(device.sim.readStateFile("boot"), "count 1"));
    }
}

// A device that withholds its login prompt until every option it offered
// has an answer, as BSD-derived telnetds do: the job refuses what it does
// not use, accepts the device's echo and go-ahead suppression, answers
// nothing twice, and logs in.
TEST_F(MisbehavingDevices, StrictTelnetOptionsAreAnsweredOnce) {
    const OddDevice cases[] = {
        {"nexa", "NX-1", "Telnet", {"--telnet-options=strict"}},
        {"qxcli", "QX-1", "Telnet", {"--telnet-options=strict"}},
    };
    for (const OddDevice& c : cases) {
        SCOPED_TRACE(std::string(c.family) + " over " + c.conntype);
        setup.db.exec("DELETE FROM cordal_jobhistory; DELETE FROM cordal_router");
        SimRouter device(std::string("options-") + c.family);
        std::vector<std::string> options = c.options;
        options.insert(options.end(), {"--reboot-downtime", "0"});
        ASSERT_TRUE(device.start(c.family, options)) << device.sim.error();
        // The device's login is admin/admin, the job's first candidate.
        auto h = runJob(device.row(c.model, c.conntype), "Reboot");
        EXPECT_EQ(result.exitCode, 0) << log;
        EXPECT_EQ(h["status"], "success") << log;
        const std::string transcript = device.sim.transcript();
        EXPECT_TRUE(contains(transcript, "telnet options all answered")) << transcript;
        for (const char* answer : {"DO ECHO", "DO SGA", "DONT ENCRYPT", "WONT TTYPE", "WONT TSPEED", "WONT NAWS",
                                   "WONT NEW-ENVIRON"})
            EXPECT_EQ(occurrences(transcript, std::string("telnet option from the client: ") + answer + "\n"), 1u)
                << answer << "\n"
                << transcript;
        EXPECT_FALSE(contains(transcript, "answered twice")) << transcript;
        EXPECT_TRUE(contains(transcript, "logged in as admin")) << transcript;
        EXPECT_TRUE(contains(device.sim.readStateFile("boot"), "count 1"));
        // The negotiation bytes stay out of the log.
        EXPECT_EQ(log.find('\xff'), std::string::npos) << log;
    }
}

namespace {
// The ssh client on PATH that the job runs: it looks like the system's, but
// also reads global known hosts from file, as a host whose key is recorded
// in /etc/ssh/ssh_known_hosts would.
std::string sshWithKnownHosts(const std::string& dir, const std::string& file) {
    std::string real;
    const char* path = getenv("PATH");
    std::string entries = path ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= entries.size();) {
        size_t colon = entries.find(':', start);
        std::string entry = entries.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (!entry.empty() && access((entry + "/ssh").c_str(), X_OK) == 0) {
            real = entry + "/ssh";
            break;
        }
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    makeDirs(dir);
    writeFile(dir + "/ssh", "#!/bin/sh\nexec " + real + " -o GlobalKnownHostsFile=" + file + " \"$@\"\n");
    chmod((dir + "/ssh").c_str(), 0755);
    return real;
}
}  // namespace

// ssh refuses before any password prompt: the device's host key is not
// the one recorded for it (ssh then switches password authentication off),
// or the server takes public keys only. The job says why in one line and
// neither tries the other passwords nor logs in over Telnet to switch SSH
// on.
TEST_F(MisbehavingDevices, SshRefusalWithoutPasswordPromptIsNamedAndNotRetried) {
    struct Refusal {
        const char* what;
        bool changedHostKey;
        std::vector<std::string> options;
        const char* line;
    };
    const Refusal cases[] = {
        {"changed host key", true, {}, "ERR - The router's SSH host key has changed"},
        {"public keys only", false, {"--publickey-only"}, "ERR - The router's SSH server accepts public-key"},
    };
    const std::string savedPath = getenv("PATH") ? getenv("PATH") : "";
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.what);
        setup.db.exec("DELETE FROM cordal_jobhistory; DELETE FROM cordal_router");
        SimRouter device("sshrefusal");
        ASSERT_TRUE(device.start("nexa", c.options)) << device.sim.error();
        testsupport::TempDir keys("hostkey-known");
        if (c.changedHostKey) {
            const std::string wrongKey = keys.file("wrong");
            ASSERT_EQ(testsupport::runProcess({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", wrongKey}).exitCode,
                      0);
            std::string publicKey = testsupport::readFile(wrongKey + ".pub");
            publicKey = publicKey.substr(0, publicKey.find(' ', publicKey.find(' ') + 1));
            writeFile(keys.file("known_hosts"),
                      "[127.0.0.1]:" + std::to_string(device.sim.sshPort()) + " " + publicKey + "\n");
            ASSERT_FALSE(sshWithKnownHosts(keys.file("bin"), keys.file("known_hosts")).empty());
            setenv("PATH", (keys.file("bin") + ":" + savedPath).c_str(), 1);
        }
        auto h = runJob(device.row("NX-1", "SSH"), "Reboot");
        setenv("PATH", savedPath.c_str(), 1);
        EXPECT_EQ(result.exitCode, 2) << log;
        EXPECT_EQ(h["reason"], "Could not log in") << log;
        EXPECT_EQ(occurrences(log, c.line), 1u) << log;
        EXPECT_FALSE(contains(log, "No more passwords allowed")) << log;
        const std::string transcript = device.sim.transcript();
        EXPECT_FALSE(contains(transcript, "telnet#")) << "no Telnet login to switch SSH on\n" << transcript;
        EXPECT_FALSE(contains(transcript, "ssh password")) << "no password was sent\n" << transcript;
        EXPECT_TRUE(contains(device.sim.readStateFile("boot"), "count 0"));
    }
}

// A line that answers everything with random bytes (with ">" and "*" in
// them) is no device that could be logged into: nothing after the user and
// password reaches it.
TEST_F(MisbehavingDevices, RandomBytesAreNoLogin) {
    const OddDevice cases[] = {
        {"nexa", "NX-1", "Telnet", {"--noise", "27"}},
        {"qxcli", "QX-1", "Telnet", {"--noise", "27"}},
    };
    for (const OddDevice& c : cases) {
        SCOPED_TRACE(std::string(c.family) + " over " + c.conntype);
        setup.db.exec("DELETE FROM cordal_jobhistory; DELETE FROM cordal_router");
        SimRouter device(std::string("noise-") + c.family);
        ASSERT_TRUE(device.start(c.family, c.options)) << device.sim.error();
        auto h = runJob(device.row(c.model, c.conntype, {{"pass", "Wr0-not-this"}}), "Reboot");
        EXPECT_EQ(result.exitCode, 2) << log;
        EXPECT_EQ(h["reason"], "Could not log in") << log;
        const std::string transcript = device.sim.transcript();
        ASSERT_TRUE(contains(transcript, "noise: random bytes")) << transcript;
        // The login waits for its prompt, which never comes: at most the
        // user name was sent, never a shell command.
        for (const char* command : {"<<< t 0", "<<< cmd=reboot", "<<< running-config", "restart yes"})
            EXPECT_FALSE(contains(transcript, command)) << command << "\n" << transcript;
        EXPECT_FALSE(contains(log, "Successfully logged into router.")) << log;
    }
}
