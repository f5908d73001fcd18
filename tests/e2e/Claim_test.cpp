// Jobs that cannot collide, on one database server: a job started twice
// runs once, a router works for one job at a time, and the claim of a
// process that is gone is taken over.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "db/JobClaim.h"
#include "main/Tarvo.h"
#include "tests/e2e/ClaimSupport.h"
#include "tests/e2e/JobTest.h"

using claimtest::lostLine;
using claimtest::sessions;
using testsupport::contains;

namespace {

class Claims : public JobTest {
protected:
    void SetUp() override {
        setup.addRouterType("NX-1", "NEXA");
        settings.connectTimeout = "3";
        settings.rebootTime = "1";
        setup.writeSettings(settings);
    }

    // A claim row as another process would hold it.
    void addClaimRow(unsigned long jobId, const std::string& routerId, const std::string& host, unsigned long pid,
                     unsigned long long pidStart, const std::string& heartbeat = "UNIX_TIMESTAMP()") {
        setup.db.exec("INSERT INTO tarvo_claims VALUES (" + std::to_string(jobId) + ", " + routerId + ", " +
                      testdb::TestDatabase::quote(host) + ", " + std::to_string(pid) + ", " + std::to_string(pidStart) +
                      ", UNIX_TIMESTAMP(), " + heartbeat + ")");
    }

    // Runs the given jobs at the same moment, one thread each.
    std::vector<testsupport::ProcessResult> runTogether(const std::vector<unsigned long>& jobIds) {
        std::vector<testsupport::ProcessResult> results(jobIds.size());
        std::vector<std::thread> threads;
        for (size_t i = 0; i < jobIds.size(); ++i) threads.emplace_back([&, i] { results[i] = setup.run(jobIds[i]); });
        for (auto& t : threads) t.join();
        return results;
    }

    e2e::JobSettings settings;
    const std::string host = JobClaim::hostName();
    const unsigned long self = static_cast<unsigned long>(getpid());
};

// Started twice at the same instant (a dispatcher and an operator, two
// dispatchers): one process runs the job, the other runs nothing.
TEST_F(Claims, TheSameJobStartedTwiceRunsOnce) {
    SimRouter device("nexa");
    // A slow device keeps the first job busy while the second starts.
    ASSERT_TRUE(device.start("nexa", {"--slow-reply", "300"})) << device.sim.error();
    setup.addJob(42, setup.addRouter(device.row("NX-1", "Telnet")), "Test");
    auto results = runTogether({42, 42});
    std::sort(results.begin(), results.end(), [](const auto& a, const auto& b) { return a.exitCode < b.exitCode; });
    EXPECT_EQ(results[0].exitCode, 0) << results[0].err;
    EXPECT_EQ(results[1].exitCode, 3) << results[1].err;
    EXPECT_TRUE(contains(results[1].err, lostLine(42) + "pid ")) << results[1].err;
    EXPECT_TRUE(contains(results[1].err, "this process ran nothing.")) << results[1].err;
    EXPECT_EQ(setup.historyRows(42), 1);
    EXPECT_EQ(setup.history(42)["status"], "success");
    EXPECT_EQ(sessions(device.sim.transcript()).size(), 1u) << device.sim.transcript();
    EXPECT_FALSE(setup.jobRowExists(42));
    EXPECT_EQ(setup.db.count("tarvo_claims"), 0) << "the claim row goes with the job";
}

// Whoever holds the job, the process that finds it held touches nothing:
// no device, no history row, the job row as it was.
TEST_F(Claims, AProcessThatFindsItsJobHeldChangesNothing) {
    SimRouter device("nexa");
    ASSERT_TRUE(device.start("nexa")) << device.sim.error();
    unsigned long router = setup.addRouter(device.row("NX-1", "Telnet"));
    struct Case {
        const char* holder;
        std::string setUp;    // SQL that makes the holder
        std::string named;    // how the line names it
        long long claimRows;  // rows of the claim table afterwards
    } cases[] = {
        {"a claim row of a running process",
         "INSERT INTO tarvo_claims VALUES (42, NULL, " + testdb::TestDatabase::quote(host) + ", " +
             std::to_string(self) + ", " + std::to_string(JobClaim::processStartTime(self)) +
             ", UNIX_TIMESTAMP(), UNIX_TIMESTAMP())",
         "pid " + std::to_string(self) + " on host '" + host + "')", 1},
        {"a process id in the job row only", "UPDATE cordal_jobs SET processid = 4242 WHERE id = 42", "pid 4242)", 0},
        // The start-up fails before the claim step: the outcome is still
        // only the holder's to write.
        {"a claim row, and a job whose router is missing",
         "UPDATE cordal_jobs SET routerid = 999; INSERT INTO tarvo_claims VALUES (42, NULL, " +
             testdb::TestDatabase::quote(host) + ", " + std::to_string(self) + ", " +
             std::to_string(JobClaim::processStartTime(self)) + ", UNIX_TIMESTAMP(), UNIX_TIMESTAMP())",
         "pid " + std::to_string(self) + " on host '" + host + "')", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.holder);
        setup.db.exec("DELETE FROM cordal_jobs; DELETE FROM tarvo_claims");
        setup.addJob(42, router, "Reboot");
        setup.db.exec(c.setUp);
        const std::string before = setup.db.value("SELECT CONCAT(processid, '/', status) FROM cordal_jobs");
        // The log file of that name is the holder's: it is neither written
        // to nor left behind (the holder removes it at its end).
        const std::string logFile = setup.transferDir() + "42.log";
        remove(logFile.c_str());
        if (c.claimRows) testsupport::writeFile(logFile, "the holder's line\n");
        auto r = setup.run(42, {"-w"});
        if (c.claimRows)
            EXPECT_EQ(testsupport::readFile(logFile), "the holder's line\n");
        else
            EXPECT_FALSE(testsupport::fileExists(logFile));
        EXPECT_EQ(r.exitCode, 3) << r.err;
        EXPECT_TRUE(contains(r.err, lostLine(42) + c.named)) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(setup.historyRows(42), 0);
        EXPECT_EQ(setup.db.value("SELECT CONCAT(processid, '/', status) FROM cordal_jobs"), before);
        EXPECT_EQ(setup.db.count("tarvo_claims"), c.claimRows);
    }
    EXPECT_TRUE(sessions(device.sim.transcript()).empty()) << device.sim.transcript();
}

// The row while the job runs, its heartbeat, and its end without Finish.
TEST_F(Claims, TheClaimRowNamesTheProcessAndItsHeartbeatMoves) {
    unsigned long router = setup.addRouter({{"name", "edge-1"}, {"model", "NX-1"}, {"ipnumber", "127.0.0.1"}});
    setup.addJob(42, router, "Reboot");
    {
        Tarvo job(42, false, false, false, false, Paths(setup.root.path()));
        job.Init();
        ASSERT_EQ(job.reason, "") << job.errorMessage;
        auto rows = setup.db.rows("SELECT jobid, routerid, host, pid, pidstart, claimtime > 0 FROM tarvo_claims");
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0][0].value_or(""), "42");
        EXPECT_EQ(rows[0][1].value_or("NULL"), std::to_string(router));
        EXPECT_EQ(rows[0][2].value_or(""), host);
        EXPECT_EQ(rows[0][3].value_or(""), std::to_string(self));
        EXPECT_EQ(rows[0][4].value_or(""), std::to_string(JobClaim::processStartTime(self)));
        EXPECT_EQ(rows[0][5].value_or(""), "1");
        EXPECT_EQ(setup.db.value("SELECT processid FROM cordal_jobs WHERE id = 42"), std::to_string(self));

        setup.db.exec("UPDATE tarvo_claims SET heartbeat = 7");
        job.updateJob("Rebooting");
        EXPECT_GT(std::stoll(setup.db.value("SELECT heartbeat FROM tarvo_claims")), 7);
    }
    EXPECT_EQ(setup.db.count("tarvo_claims"), 0) << "a job object that goes without its end gives the job back";
    EXPECT_EQ(setup.db.value("SELECT processid FROM cordal_jobs WHERE id = 42"), "0");
}

// A database without the claim table (not migrated): the job is not run
// and its row is left for the next try; the migration makes it work.
TEST_F(Claims, WithoutTheClaimTableNoJobRunsUntilTheMigration) {
    SimRouter device("nexa");
    ASSERT_TRUE(device.start("nexa")) << device.sim.error();
    setup.addJob(42, setup.addRouter(device.row("NX-1", "Telnet")), "Test");
    setup.db.exec("DROP TABLE tarvo_claims");
    auto r = setup.run(42, {});
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_TRUE(contains(r.err, "No claim: Could not claim job 42: ")) << r.err;
    EXPECT_TRUE(setup.jobRowExists(42));
    EXPECT_EQ(setup.historyRows(42), 0);
    EXPECT_TRUE(sessions(device.sim.transcript()).empty()) << device.sim.transcript();

    setup.db.exec(testsupport::readFile(std::string(TARVO_SOURCE_DIR) + "/db/migrate-tarvo-claims.sql"));
    r = setup.run(42, {});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(setup.history(42)["status"], "success");
}

// Two jobs for one router started together: the second waits for the
// first, and their sessions on the device never overlap.
TEST_F(Claims, TwoJobsForOneRouterTakeTurns) {
    SimRouter device("nexa");
    ASSERT_TRUE(device.start("nexa", {"--slow-reply", "200"})) << device.sim.error();
    unsigned long router = setup.addRouter(device.row("NX-1", "Telnet"));
    setup.addJob(42, router, "Test");
    setup.addJob(43, router, "Test");
    auto results = runTogether({42, 43});
    for (const auto& r : results) EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(setup.history(42)["status"], "success");
    EXPECT_EQ(setup.history(43)["status"], "success");
    const std::string waited = "Router " + std::to_string(router) + " is held by job ";
    EXPECT_TRUE(contains(setup.history(42)["log"], waited) || contains(setup.history(43)["log"], waited));
    auto all = sessions(device.sim.transcript());
    EXPECT_EQ(all.size(), 2u) << device.sim.transcript();
    EXPECT_FALSE(claimtest::overlap(all)) << device.sim.transcript();
    EXPECT_EQ(setup.db.count("tarvo_claims"), 0);
}

// A router held by a running job for longer than routerLockWait: the job
// ends "Router busy", naming the holder, and the device is not contacted.
TEST_F(Claims, ARouterHeldLongerThanTheWaitIsBusy) {
    SimRouter device("nexa");
    ASSERT_TRUE(device.start("nexa")) << device.sim.error();
    unsigned long router = setup.addRouter(device.row("NX-1", "Telnet"));
    settings.routerLockWait = "1";
    setup.writeSettings(settings);
    addClaimRow(99, std::to_string(router), host, self, JobClaim::processStartTime(self));
    setup.addJob(42, router, "Test");
    auto start = std::chrono::steady_clock::now();
    result = setup.run(42, {});
    auto h = setup.history(42);
    EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
    EXPECT_EQ(result.exitCode, 2) << result.err;
    EXPECT_EQ(h["reason"], "Router busy");
    EXPECT_TRUE(contains(h["log"], "Router " + std::to_string(router) + " is held by job 99 (pid " +
                                       std::to_string(self) + " on host '" + host + "'); gave up after "))
        << h["log"];
    EXPECT_TRUE(sessions(device.sim.transcript()).empty()) << device.sim.transcript();
    EXPECT_EQ(setup.db.value("SELECT GROUP_CONCAT(jobid) FROM tarvo_claims"), "99");
    EXPECT_FALSE(setup.jobRowExists(42));
}

// A holder that is gone loses its router to the next job, which says so;
// a holder elsewhere that still beats keeps it.
TEST_F(Claims, TheRouterOfAGoneHolderIsTakenOver) {
    SimRouter device("nexa");
    ASSERT_TRUE(device.start("nexa")) << device.sim.error();
    unsigned long router = setup.addRouter(device.row("NX-1", "Telnet"));
    settings.claimLease = "10";
    settings.routerLockWait = "0";
    setup.writeSettings(settings);
    const unsigned long long selfStart = JobClaim::processStartTime(self);
    struct Case {
        const char* holder;
        std::string host;
        unsigned long pid;
        unsigned long long pidStart;
        const char* heartbeat;
        const char* logged;  // "" when the router stays the holder's
    } cases[] = {
        {"its pid runs another process now", host, self, selfStart + 1, "UNIX_TIMESTAMP()", ", whose process is gone."},
        {"another host, silent for 100 s", "elsewhere", 1234, 5, "UNIX_TIMESTAMP() - 100", ", whose heartbeat is 10"},
        {"another host, beating", "elsewhere", 1234, 5, "UNIX_TIMESTAMP()", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.holder);
        setup.db.exec("DELETE FROM tarvo_claims; DELETE FROM cordal_jobhistory");
        addClaimRow(99, std::to_string(router), c.host, c.pid, c.pidStart, c.heartbeat);
        auto h = runJobFor(42, router, "Test", {});
        const std::string takeover = "Taking over router " + std::to_string(router) + " from job 99 (pid " +
                                     std::to_string(c.pid) + " on host '" + c.host + "')" + c.logged;
        if (*c.logged) {
            EXPECT_EQ(result.exitCode, 0) << log;
            EXPECT_TRUE(contains(log, takeover)) << log;
            EXPECT_EQ(setup.db.value("SELECT COALESCE(routerid, 'none') FROM tarvo_claims WHERE jobid = 99"), "none")
                << "the gone holder's row stays, without its router";
        } else {
            EXPECT_EQ(h["reason"], "Router busy") << log;
            EXPECT_FALSE(contains(log, "Taking over")) << log;
        }
    }
}

// The claim of a job process killed while it waited for its device: the
// next job for the router takes it over; the lost job's rows stay for the
// dispatcher to record.
TEST_F(Claims, AKilledJobsRouterIsTakenOverByTheNextJob) {
    SimRouter silent("silent"), device("nexa");
    ASSERT_TRUE(silent.start("nexa", {"--silent-after", "ping"})) << silent.sim.error();
    ASSERT_TRUE(device.start("nexa")) << device.sim.error();
    unsigned long router = setup.addRouter(silent.row("NX-1", "Telnet"));
    setup.addJob(42, router, "Test");
    std::atomic<int> pid{0};
    testsupport::ProcessResult killed;
    std::thread first([&] { killed = setup.run(42, {}, 180, &pid); });
    const bool reached = silent.sim.waitForTranscript("<<< ping", 60000);
    if (pid > 0) kill(pid, SIGKILL);
    first.join();
    ASSERT_TRUE(reached) << silent.sim.transcript();
    EXPECT_EQ(killed.exitCode, 128 + SIGKILL);

    setup.db.exec("UPDATE cordal_router SET telnetport = " + std::to_string(device.sim.telnetPort()));
    auto h = runJobFor(43, router, "Test", {});
    EXPECT_EQ(result.exitCode, 0) << log;
    EXPECT_TRUE(contains(log, "Taking over router " + std::to_string(router) + " from job 42 (pid " +
                                  std::to_string(pid) + " on host '" + host + "'), whose process is gone."))
        << log;
    EXPECT_EQ(setup.db.value("SELECT COALESCE(routerid, 'none') FROM tarvo_claims"), "none");
    EXPECT_TRUE(setup.jobRowExists(42));
}

}  // namespace
