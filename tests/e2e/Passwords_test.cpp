// Whole "SetPass" jobs against simulated routers of both families: the
// device takes the new passwords, keeps them across a reboot only when
// they were saved, and no ordinary log line shows them.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/e2e/JobTest.h"

using e2e::JobSetup;
using testsupport::contains;

namespace {
// Pattern and replacement characters are ordinary password characters.
const std::string kNewAdmin = "Adm.1*(x)$1";
const std::string kNewRead = "Rd-\\7.*";
const std::string kNewWrite = "Wr($2)";
// The device's password before the job. (A password that is a common word,
// such as "admin", would be masked wherever the word appears in the log.)
const std::string kOld = "Old-Pw-5";

// The transcript shows a backslash doubled.
std::string inTranscript(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return out;
}

// Starts the device with the old password.
bool startDevice(SimRouter& device, const std::string& family, std::vector<std::string> options = {}) {
    options.insert(options.end(), {"--user", "admin", "--password", kOld});
    return device.start(family, options);
}

class Passwords : public JobTest {
protected:
    void SetUp() override {
        setup.addRouterType("NX-1", "NEXA");
        setup.addRouterType("QX-1", "qx.CLI");
        e2e::JobSettings settings;
        settings.rebootTime = "0";
        setup.writeSettings(settings);
    }

    // Runs job 42 in workmode for the device; the last working password is
    // the device's first one unless columns say otherwise.
    std::map<std::string, std::string> runJob(SimRouter& device, const std::string& model, const std::string& conntype,
                                              const std::string& workmode, std::map<std::string, std::string> columns,
                                              const std::string& security = "",
                                              std::vector<std::string> options = {"-l"}) {
        setup.db.exec("DELETE FROM cordal_jobhistory; DELETE FROM cordal_router; DELETE FROM cordal_customer");
        setup.db.exec("INSERT INTO cordal_customer (id, firma, security) VALUES (7, 'ACME', '" + security + "')");
        columns["customerid"] = "7";
        columns.emplace("oldcommunity", kOld);
        return runJobFor(42, setup.addRouter(device.row(model, conntype, columns)), workmode, options);
    }

    // The admin password the device's next login needs.
    static std::string adminPassword(SimRouter& device) {
        std::istringstream users(device.sim.readStateFile("users"));
        for (std::string line; std::getline(users, line);)
            if (line.rfind("admin ", 0) == 0) return line.substr(6);
        return "";
    }

    // No ordinary line of the history row, standard error (-l) or output
    // shows one of the new passwords.
    void expectNoLeak(const std::map<std::string, std::string>& h) {
        for (const auto& secret : {kNewAdmin, kNewRead, kNewWrite}) {
            EXPECT_FALSE(contains(h.at("log"), secret)) << secret << "\n" << h.at("log");
            EXPECT_FALSE(contains(result.err + result.out, secret)) << secret;
            EXPECT_FALSE(contains(h.at("reason") + h.at("config"), secret)) << secret;
        }
    }
};
}  // namespace

TEST_F(Passwords, NexaDefaultModeSavesAndSurvivesAReboot) {
    SimRouter device("nexa");
    ASSERT_TRUE(startDevice(device, "nexa", {"--reboot-downtime", "0"})) << device.sim.error();
    auto h = runJob(device, "NX-1", "Telnet", "SetPass",
                    {{"tmibadmadmincommunity", kNewAdmin},
                     {"tmibadmreadcommunity", kNewRead},
                     {"tmibadmwritecommunity", kNewWrite}});
    EXPECT_EQ(result.exitCode, 0) << log;
    EXPECT_EQ(h["status"], "success");
    EXPECT_EQ(adminPassword(device), kNewAdmin);
    EXPECT_EQ(device.sim.readStateFile("communities"), "read " + kNewRead + "\nwrite " + kNewWrite + "\n");
    EXPECT_TRUE(contains(device.sim.readStateFile("saved-passwords"), "admin " + kNewAdmin + "\n"));
    const std::string transcript = device.sim.transcript();
    EXPECT_TRUE(contains(transcript, "<<< tmibAdmAdminCommunity=\"" + kNewAdmin + "\"\n")) << transcript;
    EXPECT_TRUE(contains(transcript, inTranscript("<<< tmibAdmReadCommunity=\"" + kNewRead + "\"\n"))) << transcript;
    EXPECT_TRUE(contains(transcript, "<<< configd save all boot\n")) << transcript;
    for (const char* line :
         {"Setting new admin password.", "Setting new read community password.",
          "Setting new write community password.", "Mode is default. -> Save passwords in boot-config."})
        EXPECT_TRUE(contains(log, line)) << line << "\n" << log;
    expectNoLeak(h);

    // The device refuses the old password and takes the new one, and after
    // the reboot it still has it.
    const size_t before = device.sim.transcript().size();
    h = runJob(device, "NX-1", "Telnet", "Reboot", {{"tmibadmadmincommunity", kOld}, {"oldcommunity", kNewAdmin}});
    EXPECT_EQ(result.exitCode, 0) << log;
    const std::string later = device.sim.transcript().substr(before);
    EXPECT_TRUE(contains(later, "login failed for admin")) << later;
    EXPECT_TRUE(contains(later, "logged in as admin")) << later;
    ASSERT_TRUE(device.sim.waitForTranscript("device up again", 10000));
    EXPECT_EQ(adminPassword(device), kNewAdmin);
    EXPECT_TRUE(contains(device.sim.readStateFile("communities"), "read " + kNewRead + "\n"));
}

TEST_F(Passwords, NexaSecureModeKeepsThemInRamOnly) {
    SimRouter device("secure");
    ASSERT_TRUE(startDevice(device, "nexa", {"--reboot-downtime", "0"})) << device.sim.error();
    // Only the admin password, over SSH, with -d: the debug lines show what
    // the ordinary ones hide.
    auto h = runJob(device, "NX-1", "SSH", "SetPass", {{"tmibadmadmincommunity", kNewAdmin}}, "secure", {"-d"});
    EXPECT_EQ(result.exitCode, 0) << log;
    EXPECT_EQ(adminPassword(device), kNewAdmin);
    EXPECT_FALSE(contains(device.sim.transcript(), "configd save")) << device.sim.transcript();
    EXPECT_FALSE(contains(device.sim.transcript(), "ReadCommunity")) << "empty communities are not sent";
    EXPECT_FALSE(contains(device.sim.transcript(), "WriteCommunity"));
    for (const char* line :
         {"Read community password is empty, won't be changed.", "Write community password is empty, won't be changed.",
          "Mode is secure. -> Save password in RAM only."})
        EXPECT_TRUE(contains(log, line)) << line << "\n" << log;
    EXPECT_TRUE(contains(log, "DBG - Sending 'tmibAdmAdminCommunity=\"" + kNewAdmin + "\"'.")) << log;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        if (contains(line, kNewAdmin)) {
            EXPECT_TRUE(contains(line, "DBG - ")) << line;
        }

    // A reboot brings the saved password back.
    h = runJob(device, "NX-1", "Telnet", "Reboot", {{"tmibadmadmincommunity", kNewAdmin}});
    EXPECT_EQ(result.exitCode, 0) << log;
    ASSERT_TRUE(device.sim.waitForTranscript("device up again", 10000));
    EXPECT_EQ(adminPassword(device), kOld);
}

TEST_F(Passwords, QxCliDefaultAndSecureMode) {
    for (const std::string security : {"", "secure"}) {
        SCOPED_TRACE("mode '" + security + "'");
        SimRouter device("qx" + security);
        ASSERT_TRUE(startDevice(device, "qxcli", {"--reboot-downtime", "0"})) << device.sim.error();
        auto h = runJob(device, "QX-1", "SSH", "SetPass", {{"tmibadmadmincommunity", kNewAdmin}}, security);
        EXPECT_EQ(result.exitCode, 0) << log;
        EXPECT_EQ(adminPassword(device), kNewAdmin);
        const std::string transcript = device.sim.transcript();
        EXPECT_TRUE(contains(transcript, "<<< \\x10running-config\n")) << transcript;
        EXPECT_TRUE(contains(transcript, "<<< user admin password \"" + kNewAdmin + "\"\n")) << transcript;
        // Secure mode leaves the static configuration alone.
        EXPECT_EQ(contains(transcript, "<<< \\x10config\n"), security.empty()) << transcript;
        EXPECT_EQ(contains(transcript, "<<< save yes\n"), security.empty()) << transcript;
        expectNoLeak(h);

        h = runJob(device, "QX-1", "Telnet", "Reboot", {{"tmibadmadmincommunity", kNewAdmin}});
        EXPECT_EQ(result.exitCode, 0) << log;
        ASSERT_TRUE(device.sim.waitForTranscript("device up again", 10000));
        EXPECT_EQ(adminPassword(device), security.empty() ? kNewAdmin : kOld);
    }
}

TEST_F(Passwords, EmptyAdminPasswordSendsNothing) {
    SimRouter device("empty");
    ASSERT_TRUE(startDevice(device, "nexa")) << device.sim.error();
    auto h = runJob(device, "NX-1", "Telnet", "SetPass",
                    {{"tmibadmadmincommunity", ""}, {"tmibadmreadcommunity", kNewRead}});
    EXPECT_EQ(result.exitCode, 0) << log;
    EXPECT_TRUE(contains(log, "Admin password is empty, won't be changed.")) << log;
    EXPECT_FALSE(contains(log, "Setting new"));
    const std::string transcript = device.sim.transcript();
    EXPECT_FALSE(contains(transcript, "tmibAdm")) << transcript;
    EXPECT_FALSE(contains(transcript, "configd")) << transcript;
    EXPECT_EQ(adminPassword(device), kOld);
}
