// Lost jobs: claim rows whose holder is gone, made by hand against the
// private MariaDB, and two real dispatchers that race to record them. Each
// lost job gets exactly one history row; live holders are left alone.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "db/JobClaim.h"
#include "dispatch/LostJobs.h"
#include "tests/dispatch/DispatcherProcess.h"
#include "tests/e2esupport/JobSetup.h"

using dispatchtest::DispatcherProcess;
using testsupport::contains;

namespace {

// A log file as a job writes it, up to the moment its process was lost.
const char kArmedLog[] =
    "2026-01-01 10:00:00 CTL - Tarvo Version 4.1.1 starting.\n"
    "2026-01-01 10:00:01 INF - *** Scheduling auto-fallback-reboot.\n"
    "2026-01-01 10:00:01 COM - tmibAdmConfigCmd=reboot tmibAdmConfigTimeout=600\n"
    "2026-01-01 10:00:02 INF - *** Updating config.\n";
const char kFlushedLog[] =
    "2026-01-01 10:00:01 INF - *** Scheduling auto-fallback-reboot.\n"
    "2026-01-01 10:00:01 COM - tmibAdmConfigCmd=reboot tmibAdmConfigTimeout=600\n"
    "2026-01-01 10:00:03 INF - *** Flushing auto-fallback-reboot.\n"
    "2026-01-01 10:00:04 INF - *** Telnet-disconnecting.\n";
const char kFlushFailedLog[] =
    "2026-01-01 10:00:01 INF - *** Scheduling auto-fallback-reboot.\n"
    "2026-01-01 10:00:03 INF - *** Flushing auto-fallback-reboot.\n"
    "\n2026-01-01 10:00:13 ERR - Missing '>' prompt.\n\n"
    "2026-01-01 10:00:14 INF - *** Telnet-disconnecting.\n";
const char kRebootedLog[] =
    "2026-01-01 10:00:01 INF - *** Scheduling auto-fallback-reboot.\n"
    "2026-01-01 10:00:05 INF - *** Rebooting.\n"
    "2026-01-01 10:00:05 INF - [ Sleeping 300 seconds. ]";  // cut off mid-line

enum class Holder { DeadHere, AliveHere, PidReusedHere, StaleElsewhere, FreshElsewhere };

struct Case {
    unsigned long job;
    Holder holder;
    bool jobRow;
    const char* logFile;        // nullptr: none on this host
    bool reaped;                // the claim row goes
    const char* logHas;         // the history row's log holds it ("" when no row)
    bool restartLine;           // "The device restarted by itself"
    bool storedBefore = false;  // the holder stored its history, then lost its database
};

const Case kCases[] = {
    {11, Holder::DeadHere, true, kArmedLog, true, "(600 seconds) was armed", true},
    {12, Holder::DeadHere, true, kFlushedLog, true, "Telnet-disconnecting.", false},
    {13, Holder::DeadHere, true, kFlushFailedLog, true, "Missing '>' prompt.", true},
    {14, Holder::DeadHere, true, kRebootedLog, true, "[ Sleeping 300 seconds. ]", false},
    {15, Holder::DeadHere, true, nullptr, true, "(its log file is not on this host)", false},
    {16, Holder::PidReusedHere, true, nullptr, true, "Job process lost: process", false},
    {17, Holder::StaleElsewhere, true, nullptr, true, "on host 'worker-b' ended without recording the job", false},
    // The holder died after its history row was stored: only the claim goes.
    {18, Holder::DeadHere, false, nullptr, true, "", false},
    {19, Holder::StaleElsewhere, false, nullptr, true, "", false},
    // Its history stored, its job row left: cleared, not recorded twice.
    {22, Holder::DeadHere, true, kFlushedLog, true, "", false, true},
    // Live holders keep their jobs, even with a log file beside them.
    {20, Holder::AliveHere, true, kArmedLog, false, "", false},
    {21, Holder::FreshElsewhere, true, nullptr, false, "", false},
};

// The pid and start time of a process that has ended (and been reaped).
std::pair<pid_t, unsigned long long> deadProcess() {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return {0, 0};
    pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[1]);
        char c;
        while (read(pipeFds[0], &c, 1) > 0) {
        }
        _exit(0);
    }
    close(pipeFds[0]);
    unsigned long long start = JobClaim::processStartTime(pid);
    close(pipeFds[1]);
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return {pid, start};
}

TEST(LostJobs, RecordedOnceByRacingDispatchersLiveHoldersKept) {
    e2e::JobSetup setup;
    setup.addRouterType("NX-1", "NEXA");
    const std::string here = JobClaim::hostName();
    const auto dead = deadProcess();
    ASSERT_NE(dead.second, 0u);
    ASSERT_EQ(JobClaim::processStartTime(dead.first), 0u) << "the dead process runs again";
    const unsigned long long myStart = JobClaim::processStartTime(getpid());
    ASSERT_NE(myStart, 0u);
    const long long now = std::stoll(setup.db.value("SELECT UNIX_TIMESTAMP()"));

    size_t recorded = 0, kept = 0;
    for (const Case& c : kCases) {
        unsigned long router = setup.addRouter({{"name", "r" + std::to_string(c.job)}, {"model", "NX-1"}});
        if (c.jobRow) setup.addJob(c.job, router, "Config");
        std::string host = here, pid = std::to_string(dead.first), start = std::to_string(dead.second);
        long long heartbeat = now - 3600;
        switch (c.holder) {
            case Holder::DeadHere:
                break;
            case Holder::AliveHere:
                pid = std::to_string(getpid());
                start = std::to_string(myStart);
                break;
            case Holder::PidReusedHere:
                pid = std::to_string(getpid());
                start = std::to_string(myStart + 1);
                break;
            case Holder::StaleElsewhere:
            case Holder::FreshElsewhere:
                host = "worker-b";
                pid = std::to_string(getpid());
                start = std::to_string(myStart);
                if (c.holder == Holder::FreshElsewhere) heartbeat = now;
                break;
        }
        setup.db.exec("INSERT INTO tarvo_claims(jobid, routerid, host, pid, pidstart, claimtime, heartbeat) VALUES(" +
                      std::to_string(c.job) + ", " + std::to_string(router) + ", '" + host + "', " + pid + ", " +
                      start + ", " + std::to_string(now - 7200) + ", " + std::to_string(heartbeat) + ")");
        if (c.logFile) testsupport::writeFile(setup.transferDir() + std::to_string(c.job) + ".log", c.logFile);
        if (c.storedBefore)
            setup.db.exec("INSERT INTO cordal_jobhistory(id, routerid, workmode, status) VALUES(" +
                          std::to_string(c.job) + ", " + std::to_string(router) + ", 'Config', 'success')");
        recorded += c.reaped && c.jobRow && !c.storedBefore;
        kept += !c.reaped;
    }

    // Two dispatchers on one database; the second has a root of its own
    // (its metrics file) and shares the transfer folder, as hosts that
    // mount one transfer server would.
    const std::string settings = dispatchtest::withClaimLease(setup.settingsXml(e2e::JobSettings()), 60);
    setup.writeSettingsText(
        dispatchtest::withDispatch(settings, dispatchtest::dispatchElement(4, "0.2", setup.root.file("a.prom"))));
    testsupport::TempDir second("second");
    testsupport::makeDirs(second.file("etc"));
    testsupport::writeFile(
        second.file("etc/cordal.xml"),
        dispatchtest::withDispatch(settings, dispatchtest::dispatchElement(4, "0.2", second.file("b.prom"))));
    ASSERT_EQ(symlink(setup.transferDir().c_str(), second.file("tftpboot").c_str()), 0);
    DispatcherProcess a(setup.root.path(), setup.pauseScale, "a"), b(second.path(), setup.pauseScale, "b");
    ASSERT_TRUE(a.start());
    ASSERT_TRUE(b.start());

    // Both have looked (each writes its metrics after a look) and the
    // lost claims are gone.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < deadline &&
           !(setup.db.count("tarvo_claims") == static_cast<long long>(kept) &&
             testsupport::fileExists(setup.root.file("a.prom")) && testsupport::fileExists(second.file("b.prom"))))
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(setup.db.count("tarvo_claims"), static_cast<long long>(kept)) << a.output() << a.errors() << b.errors();
    // A claim row goes in the transaction that records its job, and a
    // dispatcher takes SIGTERM only between its looks: once they have
    // stopped, their lines and metrics are complete.
    a.signal(SIGTERM);
    b.signal(SIGTERM);
    EXPECT_EQ(a.wait(60), 0) << a.errors();
    EXPECT_EQ(b.wait(60), 0) << b.errors();

    for (const Case& c : kCases) {
        SCOPED_TRACE("job " + std::to_string(c.job));
        const std::string id = std::to_string(c.job);
        EXPECT_EQ(setup.db.count("tarvo_claims", "jobid=" + id), c.reaped ? 0 : 1);
        EXPECT_EQ(setup.jobRowExists(c.job), c.jobRow && !c.reaped);
        ASSERT_EQ(setup.historyRows(c.job), (c.reaped && c.jobRow) || c.storedBefore ? 1 : 0);
        const bool fileLeft = testsupport::fileExists(setup.transferDir() + id + ".log");
        EXPECT_EQ(fileLeft, c.logFile != nullptr && !c.reaped) << "a lost job's log file goes, a live job's stays";
        if (c.storedBefore) {
            EXPECT_EQ(setup.history(c.job)["status"], "success");
        }
        if (!(c.reaped && c.jobRow) || c.storedBefore) {
            EXPECT_FALSE(contains(a.output() + b.output(), "job " + id + " lost"));
            continue;
        }
        auto h = setup.history(c.job);
        const std::string log = testsupport::unwrappedLog(h["log"]);
        EXPECT_EQ(h["status"], "error");
        EXPECT_EQ(h["reason"], "Job process lost");
        EXPECT_EQ(h["workmode"], "Config");
        EXPECT_EQ(h["id"], id);
        EXPECT_NE(h["routerid"], "0");
        EXPECT_TRUE(contains(log, c.logHas)) << log;
        if (c.logFile) {
            std::string text = c.logFile;
            if (text.back() == '\n') text.pop_back();
            EXPECT_EQ(h["log"].rfind(text, 0), 0u) << "the file's lines come first, unchanged:\n" << h["log"];
        }
        EXPECT_TRUE(contains(log, "recorded by tarvo-dispatch on host '" + here + "'")) << log;
        EXPECT_EQ(contains(log, "The device restarted by itself"), c.restartLine) << log;
        EXPECT_EQ(dispatchtest::countOf(a.output() + b.output(),
                                        "job " + id + " lost: router " + h["routerid"] + ", workmode Config"),
                  1u)
            << a.output() << b.output();
    }
    auto ma = dispatchtest::readMetrics(setup.root.file("a.prom"));
    auto mb = dispatchtest::readMetrics(second.file("b.prom"));
    EXPECT_EQ(ma["tarvo_dispatch_jobs_reaped_total"] + mb["tarvo_dispatch_jobs_reaped_total"],
              static_cast<long long>(recorded));
    EXPECT_EQ(ma["tarvo_dispatch_jobs_started_total"] + mb["tarvo_dispatch_jobs_started_total"], 0)
        << "claimed jobs are never due";
}

TEST(LostJobs, FallbackArmedReadFromTheLog) {
    struct LogCase {
        const char* log;
        bool armed;
        const char* seconds;
    } cases[] = {
        {"", false, ""},
        {kArmedLog, true, "600"},
        {kFlushedLog, false, ""},
        {kFlushFailedLog, true, ""},
        {kRebootedLog, false, ""},
        // Killed while cancelling: the flush may not have reached the device.
        {"x INF - *** Scheduling auto-fallback-reboot.\nx INF - *** Flushing auto-fallback-reboot.\n", true, ""},
        // A second timer after the first was flushed.
        {"x INF - *** Scheduling auto-fallback-reboot.\nx COM - tmibAdmConfigTimeout=600\n"
         "x INF - *** Flushing auto-fallback-reboot.\nx INF - *** Updating certs.\n"
         "x INF - *** Scheduling auto-fallback-reboot.\nx COM - tmibAdmConfigTimeout=90 (echo)\n",
         true, "90"},
        // A flush without a timer armed first.
        {"x INF - *** Flushing auto-fallback-reboot.\n", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.log);
        std::string seconds = "stale";
        EXPECT_EQ(LostJobs::fallbackArmed(c.log, seconds), c.armed);
        EXPECT_EQ(seconds, c.seconds);
    }
}

}  // namespace
