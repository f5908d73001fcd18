#pragma once
#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "dispatch/DispatchMetrics.h"
#include "dispatch/DispatchSettings.h"
#include "dispatch/JobProcess.h"

class Database;
class JobQueue;
class logEngine;

// Dispatcher is the loop of one worker host: it looks for due jobs in the
// shared database, starts one job runner process per job up to the host's
// limit, reaps its children and reports each start and end on standard
// output. It never talks to a device; which process runs a job is decided
// by the job runner's own claim, so several dispatchers (on several hosts)
// may offer the same job and only one process runs it.
//
// Single-threaded. The caller blocks SIGCHLD, SIGTERM, SIGINT and SIGHUP
// before the loop; the loop waits for them with sigtimedwait between its
// looks at the database: SIGCHLD reaps (and fills the freed slot at once),
// SIGHUP re-reads the settings, SIGTERM and SIGINT stop the loop: no job
// is started any more, every running child gets SIGTERM and is waited for.
// At every look (not at the extra looks after a child ended) it also
// records the jobs whose process was lost, on this host or another.
class Dispatcher {
public:
    // jobCommand: the job runner and any leading arguments; the dispatcher
    // appends "-w -j ID" (the log file survives a crash of the job).
    // logFolder: where those log files are (the transfer folder, with its
    // trailing slash); a lost job's history gets its file's lines.
    Dispatcher(std::string settingsFile, std::string logFolder, std::vector<std::string> jobCommand);
    ~Dispatcher();
    Dispatcher(const Dispatcher&) = delete;
    Dispatcher& operator=(const Dispatcher&) = delete;

    // Reads the settings; false (with the reason on standard error) when
    // they cannot be used.
    bool configure();
    // Runs until SIGTERM or SIGINT and every child has ended; the exit code.
    int run();

    // The signals the caller must block before run().
    static void blockedSignals(sigset_t& set);

private:
    using Clock = std::chrono::steady_clock;

    void poll(bool lookForLostJobs);
    // Records the jobs whose process is gone (LostJobs); false when the
    // database did not answer.
    bool reapLostJobs();
    void startDueJobs();
    bool start(const JobProcess::Job& job);
    void reapChildren();
    void reportEnd(const JobProcess& process);
    void reload();
    void shutdown();
    bool openDatabase();
    void databaseFailed();
    void flushDatabaseLog(bool print);
    void writeMetrics();
    std::set<unsigned long> runningJobIds() const;
    // Drops the jobs of ranHere whose row is gone; false when the
    // database did not answer.
    bool forgetFinishedJobs(JobQueue& queue);

    std::string settingsFile, logFolder, hostName;
    std::vector<std::string> jobCommand;
    DispatchSettings settings;
    DispatchMetrics metrics;
    bool metricsChanged = true;
    std::string metricsError;  // the last failure to write the file, to report it once

    // Declared so that the database goes before the log it writes to.
    std::unique_ptr<logEngine> dbLog;
    std::unique_ptr<Database> db;
    int dbLogPrinted = 0;
    bool databaseUp = true;  // last look succeeded; a change is reported once

    std::map<pid_t, std::unique_ptr<JobProcess>> children;
    // Jobs whose process ended here, until their job row is gone: no job
    // is started twice by one dispatcher, not even one whose process
    // failed before it could record anything (held back, said once).
    std::set<unsigned long> ranHere, heldBack;
    bool stopping = false;
};
