// The end of a job: one history row with the outcome, the configuration
// and the whole log; the job row removed only once the history is stored.
#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "main/Tarvo.h"
#include "tests/e2esupport/JobSetup.h"
#include "util/logEngine.h"

using e2e::JobSetup;
using testsupport::fileExists;
using testsupport::writeFile;

using testsupport::contains;

namespace {
unsigned long routerWithJob(JobSetup& s, const std::string& workmode, unsigned long jobId = 42) {
    s.db.exec("INSERT IGNORE INTO cordal_routertypes (shortname, ifindexoffset, os) VALUES ('NX-1', 0, 'NEXA')");
    unsigned long router = s.addRouter({{"name", "edge-" + std::to_string(jobId)}, {"model", "NX-1"}});
    s.addJob(jobId, router, workmode);
    return router;
}

// Init and Finish in this process; Run and testPing are left out so that
// the outcome is the one the test sets.
bool initAndFinish(JobSetup& s, const std::string& reasonToSet = "", bool writeLogfile = false) {
    Tarvo job(42, false, false, writeLogfile, false, Paths(s.root.path()));
    job.Init();
    EXPECT_EQ(job.reason, "");
    if (!reasonToSet.empty()) job.setError(reasonToSet.c_str(), "%s", "set by the test");
    return job.Finish();
}

std::string certName(unsigned long router, int n = -1) {
    char name[64];
    if (n < 0)
        snprintf(name, sizeof name, "%010lu.pkcs12", router);
    else
        snprintf(name, sizeof name, "%010lu_%d.pkcs12", router, n);
    return name;
}
}  // namespace

TEST(History, SuccessfulJobMovesIntoTheHistoryAndRemovesItsLogFile) {
    JobSetup s;
    s.writeSettings();
    unsigned long router = routerWithJob(s, "Test");
    EXPECT_TRUE(initAndFinish(s, "", true));
    EXPECT_FALSE(fileExists(s.transferDir() + "42.log")) << "the log file goes once the history is stored";
    EXPECT_FALSE(s.jobRowExists(42));
    auto h = s.history(42);
    ASSERT_FALSE(h.empty());
    EXPECT_EQ(h["status"], "success");
    EXPECT_EQ(h["reason"], "");
    EXPECT_EQ(h["routerid"], std::to_string(router));
    EXPECT_EQ(h["jobtime"], "1700000000");
    EXPECT_EQ(h["starttime"], "1700000005");
    EXPECT_EQ(h["workmode"], "Test");
    EXPECT_EQ(h["osrel"], "R7.1");
    EXPECT_EQ(h["uid"], "4711");
    EXPECT_EQ(h["pending"], "1");
    EXPECT_EQ(h["priority"], "1");
    EXPECT_EQ(h["processid"], "0");
    EXPECT_GE(std::stoull(h["endtime"]), static_cast<unsigned long long>(time(nullptr)) - 60);
    EXPECT_TRUE(contains(h["log"], "CTL - Tarvo Version 4.1.1 starting."));
    EXPECT_TRUE(contains(h["log"], "CTL - Tarvo finished."));
    EXPECT_TRUE(contains(h["config"], "No config file generated or uploaded."));
}

TEST(History, CertificateFilesRemovedUpToTheFirstGap) {
    JobSetup s;
    s.writeSettings();
    // A workmode that loads the certificates removes them at its end.
    unsigned long router = routerWithJob(s, "Certs");
    const std::string dir = s.transferDir();
    // Unnumbered, 0 and 1: all three go.
    for (auto name : {certName(router), certName(router, 0), certName(router, 1)}) writeFile(dir + name, "x");
    initAndFinish(s);
    EXPECT_FALSE(fileExists(dir + certName(router)));
    EXPECT_FALSE(fileExists(dir + certName(router, 0)));
    EXPECT_FALSE(fileExists(dir + certName(router, 1)));
    EXPECT_TRUE(contains(s.history(42)["log"], "Removing temporary cert-file '"));

    // Only number 1: nothing is looked for without the unnumbered file.
    s.db.exec("DELETE FROM cordal_jobhistory");
    s.addJob(42, router, "Certs");
    writeFile(dir + certName(router, 1), "x");
    initAndFinish(s);
    EXPECT_TRUE(fileExists(dir + certName(router, 1)));

    // Unnumbered and 1 with 0 missing: only the unnumbered one.
    s.db.exec("DELETE FROM cordal_jobhistory");
    s.addJob(42, router, "Certs");
    writeFile(dir + certName(router), "x");
    initAndFinish(s);
    EXPECT_FALSE(fileExists(dir + certName(router)));
    EXPECT_TRUE(fileExists(dir + certName(router, 1)));
    // Another router's files are not touched.
    writeFile(dir + certName(router + 1), "x");
    s.db.exec("DELETE FROM cordal_jobhistory");
    s.addJob(42, router, "Certs");
    initAndFinish(s);
    EXPECT_TRUE(fileExists(dir + certName(router + 1)));
}

TEST(History, DownloadedConfigurationIsStoredWithTheHistory) {
    JobSetup s;
    e2e::JobSettings settings;
    settings.autoSelectLoaded = "true";
    settings.configsPerRouter = "2";
    s.writeSettings(settings);
    unsigned long router = routerWithJob(s, "GetConf");
    const std::string text = "# it's a \\ config\nTABLE1\n{\n  x 1\n}\n";
    writeFile(s.transferDir() + "42.config", text);
    EXPECT_TRUE(initAndFinish(s));
    auto h = s.history(42);
    EXPECT_EQ(h["status"], "success");
    EXPECT_EQ(h["config"], text) << "the configuration is stored byte for byte";
    EXPECT_EQ(s.db.count("cordal_configs", "routerid=" + std::to_string(router) + " AND workmode='GetConf'"), 1);
    EXPECT_EQ(s.db.value("SELECT jobtime FROM cordal_configs"), "1700000000");
    EXPECT_EQ(s.db.value("SELECT downloadedmaster FROM cordal_router WHERE id=" + std::to_string(router)),
              "1700000000");

    // Without the downloaded file the job fails with "No config".
    s.db.exec("DELETE FROM cordal_jobhistory");
    s.addJob(42, router, "GetconfAll");
    remove((s.transferDir() + "42.config").c_str());
    EXPECT_FALSE(initAndFinish(s));
    h = s.history(42);
    EXPECT_EQ(h["status"], "error");
    EXPECT_EQ(h["reason"], "No config");
    EXPECT_EQ(h["config"], "");
    EXPECT_TRUE(contains(h["log"], "Could not read config."));
    EXPECT_EQ(s.db.count("cordal_configs"), 1);
}

TEST(History, BuildingWorkmodeWithoutConfigurationHasNoConfigEntry) {
    JobSetup s;
    s.writeSettings();
    routerWithJob(s, "LocalConf");
    EXPECT_FALSE(initAndFinish(s, "Cfg-building failed"));
    auto h = s.history(42);
    EXPECT_EQ(h["status"], "error");
    EXPECT_EQ(h["reason"], "Cfg-building failed");
    EXPECT_EQ(h["config"], "");
}

TEST(History, FailedHistoryInsertKeepsTheJobRowAndTheLog) {
    JobSetup s;
    s.writeSettings();
    routerWithJob(s, "SetPass");
    // A column the program does not know and that has no default: the
    // server refuses the history row.
    s.db.exec("ALTER TABLE cordal_jobhistory ADD COLUMN audited INT NOT NULL");
    auto r = s.run(42, {});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(contains(r.err, "Could not store the history of job 42")) << r.err;
    EXPECT_TRUE(s.jobRowExists(42)) << "the job's outcome must not be lost";
    EXPECT_EQ(s.historyRows(42), 0);
    std::string log = testsupport::readFile(s.transferDir() + "42.log");
    EXPECT_TRUE(contains(log, "Refusing router address ''")) << log;
    EXPECT_TRUE(contains(log, "Tarvo finished."));

    // With -w the log file that was written all along stays.
    remove((s.transferDir() + "42.log").c_str());
    r = s.run(42, {"-w"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(fileExists(s.transferDir() + "42.log"));
    EXPECT_TRUE(s.jobRowExists(42));
}

TEST(History, JobsStartedTogetherEachEndWithTheirOwnRow) {
    JobSetup s;
    s.writeSettings();
    const int jobs = 8;
    for (int i = 0; i < jobs; ++i) routerWithJob(s, "SetPass", 100 + i);
    std::vector<std::thread> runners;
    std::vector<int> exitCodes(jobs, -1);
    for (int i = 0; i < jobs; ++i) runners.emplace_back([&, i] { exitCodes[i] = s.run(100 + i, {"-w"}).exitCode; });
    for (auto& t : runners) t.join();
    for (int i = 0; i < jobs; ++i) {
        EXPECT_EQ(exitCodes[i], 2);
        auto h = s.history(100 + i);
        ASSERT_FALSE(h.empty()) << i;
        EXPECT_EQ(h["reason"], "Could not log in") << "no device answers for these routers";
        EXPECT_TRUE(contains(h["log"], "Successfully loaded job '" + std::to_string(100 + i) + "'"));
        EXPECT_TRUE(contains(h["log"], "Successfully loaded router 'edge-" + std::to_string(100 + i) + "'"));
        EXPECT_FALSE(fileExists(s.transferDir() + std::to_string(100 + i) + ".log"));
    }
    EXPECT_EQ(s.db.count("cordal_jobs"), 0);
    EXPECT_EQ(s.db.count("cordal_jobhistory"), jobs);
}

TEST(History, FailedRunSkipsTheTestPing) {
    JobSetup s;
    s.writeSettings();
    // "Config" needs a test ping, but its build fails first: no template.
    routerWithJob(s, "Config");
    auto r = s.run(42, {"-l"});
    EXPECT_EQ(r.exitCode, 2);
    auto h = s.history(42);
    EXPECT_EQ(h["reason"], "Cfg-building failed");
    EXPECT_TRUE(contains(h["log"], "INF - Testping skipped because job already failed."));
    EXPECT_FALSE(contains(h["log"], "-connecting")) << "no device was contacted";
    EXPECT_EQ(h["config"], "") << "a building workmode without a built configuration has no entry";
}

TEST(ConnectionTypes, EachTypeGetsItsConnectionAndOthersNone) {
    Tarvo job(1, true, false, false, false, Paths("/nonexistent"));
    job.log.reset(new logEngine(true));
    for (int type : {0, 1, 2}) {
        std::unique_ptr<ConnectionHandler> handler(job.createConnectionHandler(type));
        ASSERT_TRUE(handler) << type;
        EXPECT_EQ(handler->cTypeStr(), type == 0 ? "Telnet" : type == 1 ? "SSH" : "SFTP");
        EXPECT_FALSE(handler->isConnected());
    }
    EXPECT_EQ(job.createConnectionHandler(3), nullptr);
    EXPECT_EQ(job.createConnectionHandler(-1), nullptr);
    std::string log = job.log->dumpAsString();
    EXPECT_TRUE(contains(log, "DBG - Connection-type is Telnet."));
    EXPECT_TRUE(contains(log, "DBG - Connection-type is SSH."));
    EXPECT_TRUE(contains(log, "DBG - Connection-type is SFTP."));
    EXPECT_TRUE(contains(log, "ERR - Unknown connection-type (3)!"));
}

// A termination request outranks the failures it causes, and a job that
// has armed the device's fallback timer says the device will restart by
// itself.
TEST(History, TerminationRequestBecomesTheReasonAndNamesTheArmedFallbackTimer) {
    JobSetup s;
    s.writeSettings();
    routerWithJob(s, "Reboot");
    Tarvo::installSignalHandlers();
    {
        Tarvo job(42, false, false, false, false, Paths(s.root.path()));
        job.Init();
        ASSERT_EQ(job.reason, "");
        job.fallbackVariable = "fbtimer";
        job.fallbackSeconds = "300";
        raise(SIGHUP);
        EXPECT_EQ(Tarvo::terminationSignal(), SIGHUP);
        job.Run();  // ends before any device contact
        job.setError("Missing prompt", "%s", "a failure the signal caused");
        EXPECT_FALSE(job.Finish());
    }
    auto h = s.history(42);
    EXPECT_EQ(h["reason"], "Terminated");
    EXPECT_EQ(h["status"], "error");
    EXPECT_FALSE(s.jobRowExists(42));
    std::string log = testsupport::unwrappedLog(h["log"]);
    EXPECT_TRUE(contains(log, "ERR - Terminated by signal SIGHUP; no further command is sent to the device.")) << log;
    EXPECT_TRUE(contains(log, "INF - The device will restart by itself within 300 seconds (auto-fallback-reboot)."))
        << log;
    EXPECT_TRUE(contains(log, "ERR - a failure the signal caused")) << "its message is still logged";
    EXPECT_FALSE(contains(log, "*** Starting to work on router.")) << log;
}
