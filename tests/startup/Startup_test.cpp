// Job start-up from a real installation root and database: every way a
// job can fail to load, and what a loaded job knows about its router.
#include <gtest/gtest.h>

#include "main/Tarvo.h"
#include "tests/e2esupport/JobSetup.h"
#include "util/logEngine.h"

using e2e::JobSetup;
using testsupport::contains;

namespace {
// A router of type NX-1 (NEXA) with job 42 in the given workmode.
unsigned long nexaRouterWithJob(JobSetup& s, const std::string& workmode = "SetPass") {
    s.addRouterType("NX-1", "NEXA");
    unsigned long router = s.addRouter({{"name", "edge-1"},
                                        {"model", "NX-1"},
                                        {"ipnumber", "127.0.0.1"},
                                        {"tmibadmadmincommunity", "s3cret-supplied"},
                                        {"oldcommunity", "0ld-pw"}});
    s.addJob(42, router, workmode);
    return router;
}
}  // namespace

TEST(Startup, NoSettingsFileFailsWithoutTouchingTheDatabase) {
    JobSetup s;
    nexaRouterWithJob(s);
    auto r = s.run(42);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(contains(r.err, "Could not get database-settings from config.")) << r.err;
    EXPECT_TRUE(s.jobRowExists(42));
    EXPECT_EQ(s.historyRows(42), 0);
    EXPECT_EQ(s.db.value("SELECT status FROM cordal_jobs WHERE id=42"), "queued");
}

TEST(Startup, DatabaseUnreachableOrPasswordWrong) {
    JobSetup s;
    nexaRouterWithJob(s);
    std::string good = s.settingsXml(e2e::JobSettings());

    std::string wrongPassword = good;
    wrongPassword.replace(wrongPassword.find("<dbpass>") + 8, s.db.password().size(), "not-the-password");
    s.writeSettingsText(wrongPassword);
    auto r = s.run(42);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(contains(r.err, "Could not connect to database.")) << r.err;
    EXPECT_FALSE(contains(r.err, "not-the-password")) << "the database password is only in debug lines";

    // A port nobody listens on: the server is not running.
    std::string noServer = good;
    noServer.replace(noServer.find(s.db.host()), s.db.host().size(), "127.0.0.1:1");
    s.writeSettingsText(noServer);
    r = s.run(42);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(contains(r.err, "Could not connect to database.")) << r.err;

    EXPECT_TRUE(s.jobRowExists(42));
    EXPECT_EQ(s.historyRows(42), 0);
}

TEST(Startup, MissingJobLeavesNoTrace) {
    JobSetup s;
    s.writeSettings();
    nexaRouterWithJob(s);
    auto r = s.run(7);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(contains(r.err, "Job 7 not found in database.")) << r.err;
    EXPECT_TRUE(contains(r.err, "Testping not required in this workmode."));
    EXPECT_EQ(s.db.count("cordal_jobhistory"), 0);
    EXPECT_TRUE(s.jobRowExists(42));
}

namespace {
// Runs job 42 and expects a history row with status "error" and reason.
void expectHistoryReason(JobSetup& s, const std::string& reason, const std::string& message) {
    auto r = s.run(42);
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_TRUE(contains(r.err, message)) << r.err;
    auto h = s.history(42);
    ASSERT_FALSE(h.empty()) << r.err;
    EXPECT_EQ(h["status"], "error");
    EXPECT_EQ(h["reason"], reason);
    EXPECT_EQ(h["config"], "No config file generated or uploaded.");
    EXPECT_TRUE(contains(h["log"], message));
    EXPECT_FALSE(s.jobRowExists(42)) << "the job row moves into the history";
}
}  // namespace

TEST(Startup, MissingRouter) {
    JobSetup s;
    s.writeSettings();
    s.addJob(42, 999, "Reboot");
    expectHistoryReason(s, "No router in DB", "Could not find router in database.");
    EXPECT_EQ(s.history(42)["routerid"], "0");
}

TEST(Startup, RouterTableMissingAColumnFailsCleanly) {
    JobSetup s;
    s.writeSettings();
    nexaRouterWithJob(s);
    s.db.exec("ALTER TABLE cordal_router DROP COLUMN locked");
    expectHistoryReason(s, "No router in DB", "lacks a column");
}

TEST(Startup, RouterTypeComparedExactly) {
    JobSetup s;
    s.writeSettings();
    s.addRouterType("nx-1", "NEXA");
    unsigned long router = s.addRouter({{"name", "edge-1"}, {"model", "NX-1"}});
    s.addJob(42, router, "Reboot");
    expectHistoryReason(s, "No routertype in DB", "Could not find routertype 'NX-1' in database.");
}

TEST(Startup, BadSettings) {
    JobSetup s;
    nexaRouterWithJob(s);
    // The database settings are there, a required job setting is not.
    std::string text = s.settingsXml(e2e::JobSettings());
    size_t at = text.find("    <autoSelectLoaded>");
    text.erase(at, text.find('\n', at) + 1 - at);
    s.writeSettingsText(text);
    expectHistoryReason(s, "Bad XML-settings", "Could not read settings from cordal.xml.");
}

TEST(Startup, UnknownWorkmodeAndImageWithoutRelease) {
    JobSetup s;
    s.writeSettings();
    unsigned long router = nexaRouterWithJob(s, "reboot");
    expectHistoryReason(s, "Unknown workmode", "Requested workmode is unknown.");

    s.db.exec("DELETE FROM cordal_jobhistory");
    s.addJob(42, router, "Image");
    expectHistoryReason(s, "No swrelease in DB", "Could not find swrelease in database.");

    // A release whose image cannot be read has no version: fatal for "Image".
    s.db.exec("INSERT INTO cordal_swrelease (id, name, routertype, nexa) VALUES (3, 'R7', 'NX-1', 'missing.bin')");
    s.db.exec("UPDATE cordal_router SET softwareimage='R7'");
    s.db.exec("DELETE FROM cordal_jobhistory");
    s.addJob(42, router, "Image");
    expectHistoryReason(s, "Bad NEXA-version", "Could not read NEXA-version.");
    EXPECT_TRUE(contains(testsupport::unwrappedLog(s.history(42)["log"]),
                         s.transferDir() + "images/NX-1/missing.bin': stat() failed"));
}

namespace {
// Loads job 42 in this process and returns the job object after Init.
std::unique_ptr<Tarvo> initInProcess(JobSetup& s, bool debug = false) {
    auto job = std::make_unique<Tarvo>(42, debug, false, false, false, Paths(s.root.path()));
    job->Init();
    return job;
}
}  // namespace

TEST(Startup, FamiliesGetTheirPromptsAndLoginLists) {
    JobSetup s;
    s.writeSettings();
    s.addRouterType("QX-9", "qx.CLI");
    s.addRouterType("ODD-1", "Other");
    unsigned long qx = s.addRouter({{"name", "qx"},
                                    {"model", "QX-9"},
                                    {"ipnumber", "10.1.1.1"},
                                    {"ipfallbacknumber", "10.1.1.2"},
                                    {"startwithfallback", "1"},
                                    {"sshport", "2222"},
                                    {"telnetport", "2323"},
                                    {"conntype_ip", "ssh"},
                                    {"tmibadmadmincommunity", "sup"},
                                    {"oldcommunity", "last"}});
    s.addJob(42, qx, "Reboot");
    auto job = initInProcess(s);
    ASSERT_EQ(job->reason, "");
    EXPECT_EQ(job->family.promptMain, "*");
    EXPECT_EQ(job->family.promptPlus, "+");
    EXPECT_EQ(job->family.promptConfig, "Config>");
    EXPECT_EQ(job->family.promptConfigEnd, "Config$");
    EXPECT_EQ(job->family.promptFtpConfig, "FTP config$");
    EXPECT_EQ(job->family.promptSftp, "\nsftp>");
    EXPECT_EQ(job->family.promptAdmin, "");
    EXPECT_EQ(job->connType, SSH) << "conntype_ip compared ignoring case";
    const LoginSettings& qxLogins = *job->loginSettings;
    ASSERT_EQ(qxLogins.size(), 6u);
    const char* qxPasswords[] = {"sup", "last", "tovik", "verant", "verantio", ""};
    const char* labels[] = {"(supplied)", "(lastworking)", "(default-1)", "(default-2)", "(default-3)", "(default-4)"};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(qxLogins[i].user, "admin");
        EXPECT_EQ(qxLogins[i].password, qxPasswords[i]);
        EXPECT_EQ(qxLogins[i].label, labels[i]);
    }
    EXPECT_EQ(job->connectSettings->address, "10.1.1.1");
    EXPECT_EQ(job->connectSettings->fallbackAddress, "10.1.1.2");
    EXPECT_TRUE(job->connectSettings->startWithFallback);
    EXPECT_EQ(job->connectSettings->sshPort, 2222);
    EXPECT_EQ(job->connectSettings->telnetPort, 2323);
    EXPECT_EQ(job->connectSettings->connectTimeout, 5);
    EXPECT_EQ(job->connectSettings->commandTimeout, 10);
    EXPECT_TRUE(job->buildsConfig == false && job->needsTestPing == false);
    job.reset();

    // A family that is neither gets the NEXA set; Telnet by default.
    s.db.exec("DELETE FROM cordal_jobs");
    unsigned long odd = s.addRouter({{"name", "odd"}, {"model", "ODD-1"}, {"conntype_ip", "Telnet"}});
    s.addJob(42, odd, "Config");
    job = initInProcess(s);
    ASSERT_EQ(job->reason, "");
    EXPECT_EQ(job->family.promptMain, ">");
    EXPECT_EQ(job->family.promptAdmin, ":admin>");
    EXPECT_EQ(job->family.promptYesNo, "(y or n)");
    EXPECT_EQ(job->family.promptPlus, "");
    EXPECT_EQ(job->connType, Telnet);
    const char* nexaPasswords[] = {"", "", "quillfox", "tovik", "marlow", "verant"};
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ((*job->loginSettings)[i].password, nexaPasswords[i]);
    EXPECT_TRUE(job->buildsConfig && job->needsTestPing);
    EXPECT_EQ(s.db.value("SELECT processid FROM cordal_jobs WHERE id=42"), std::to_string(getpid()));
}

TEST(Startup, PerModelSettingsAndTheDatabasePasswordOnlyInDebug) {
    JobSetup s;
    e2e::JobSettings settings;
    settings.connectTimeoutPerModel["NX-1"] = "17";
    settings.rebootTimePerModel["NX-1"] = "3";
    s.writeSettings(settings);
    nexaRouterWithJob(s);
    auto job = initInProcess(s, false);
    ASSERT_EQ(job->reason, "");
    EXPECT_EQ(job->connectSettings->connectTimeout, 17);
    EXPECT_EQ(job->rebootSleepSeconds, 3u);
    EXPECT_FALSE(contains(job->log->dumpAsString(), s.db.password()));
    job.reset();

    auto quiet = s.run(42, {"-l"});
    // Job 42 is gone into the history now; a second job shows -d.
    EXPECT_FALSE(contains(s.history(42)["log"], s.db.password()));
    EXPECT_FALSE(contains(quiet.err, s.db.password()));
    s.db.exec("DELETE FROM cordal_jobhistory");
    s.addJob(42, 1, "SetPass");
    auto loud = s.run(42, {"-l", "-d"});
    EXPECT_TRUE(contains(s.history(42)["log"], "Got DB-password '" + s.db.password() + "' from configfile."));
    EXPECT_TRUE(contains(loud.err, "DBG - Got DB-password"));
}

TEST(Startup, EverySecretOfTheJobIsMaskedInOrdinaryLines) {
    JobSetup s;
    e2e::JobSettings settings;
    settings.fileTransferMethod = "https";
    settings.fileTransferUsr = "xfer-user";
    settings.fileTransferPwd = "Xf3r.pw";
    s.writeSettings(settings);
    s.addRouterType("NX-1", "NEXA");
    unsigned long router = s.addRouter({{"name", "edge-1"},
                                        {"model", "NX-1"},
                                        {"pass", "r0uter-pass"},
                                        {"ipsec", "ipsec-psk"},
                                        {"tmibadmadmincommunity", "adm-1"},
                                        {"oldcommunity", "old-2"},
                                        {"tmibadmreadcommunity", "rd-3"},
                                        {"tmibadmwritecommunity", "wr-4"},
                                        {"tmibadmhttppassword", "http-5"},
                                        {"var_01", "hidden-var"},
                                        {"pwd_var_01", "yes"},
                                        {"var_02", "shown-var"},
                                        {"pwd_var_02", "YES"}});
    s.db.exec("INSERT INTO cordal_router_additionals (routerid, varname, data, pwd) VALUES (" + std::to_string(router) +
              ", 'a', 'hidden-add', 'yes'), (" + std::to_string(router) + ", 'b', 'shown-add', 'no')");
    s.addJob(42, router, "Reboot");
    auto job = initInProcess(s, true);
    ASSERT_EQ(job->reason, "");
    const std::vector<std::string> secrets = {s.db.password(), "Xf3r.pw",    "r0uter-pass", "ipsec-psk",
                                              "adm-1",         "old-2",      "rd-3",        "wr-4",
                                              "http-5",        "hidden-var", "hidden-add"};
    for (const auto& secret : secrets) {
        job->log->add(logEngine::INF, "value [" + secret + "]");
        job->log->add(logEngine::DBG, "value [" + secret + "]");
    }
    job->log->add(logEngine::INF, "value [shown-var] [shown-add] [xfer-user]");
    std::vector<std::string> lines;
    job->log->fillVector(lines);
    ASSERT_GE(lines.size(), 2 * secrets.size() + 1);
    const size_t first = lines.size() - 2 * secrets.size() - 1;
    for (size_t i = 0; i < secrets.size(); ++i) {
        EXPECT_TRUE(contains(lines[first + 2 * i], "INF - value [******]"))
            << secrets[i] << ": " << lines[first + 2 * i];
        EXPECT_TRUE(contains(lines[first + 2 * i + 1], "DBG - value [" + secrets[i] + "]"));
    }
    // Only the flag "yes" makes a variable a secret; a user name is none.
    EXPECT_TRUE(contains(lines.back(), "value [shown-var] [shown-add] [xfer-user]")) << lines.back();
}
