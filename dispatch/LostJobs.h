#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

class Database;
class Query;

// LostJobs finds the jobs whose process is gone without recording them
// and records each one's outcome exactly once, whichever dispatcher, on
// whichever host and through whichever database node, sees it first.
//
// A claim row is the trace of a running job. Its holder is gone when, on
// this host, its process id no longer runs with the recorded start time
// (a zombie counts as gone), or, held on another host, when its heartbeat
// is older than the lease. Such a job gets a history row with the status
// "error" and the reason "Job process lost", its job row and its claim row
// go. A claim whose job is recorded already (the holder died between
// storing its history and removing the claim, or could not delete its
// job row) is only removed, with the job row and the log file.
//
// Exactly once: the claim row is deleted with every column as it was seen,
// in one short transaction with the history insert and the job row's
// delete. On one server the second reaper's delete waits for the first
// and then changes no row; on a cluster both may change a row on their
// node, and the second commit fails (deadlock, 1213). Either way only one
// commit records the job, and a reaper that dies half-way leaves nothing
// half-done: the claim row is still there for the next look.
//
// The Database is borrowed and must outlive the object.
class LostJobs {
public:
    // A claim as the reaper read it.
    struct Claim {
        unsigned long jobId = 0;
        std::string host;
        unsigned long pid = 0;
        unsigned long long pidStart = 0;
        unsigned long long heartbeat = 0;
        bool jobRowExists = false;
        unsigned long routerId = 0;  // from the job row, 0 without one
        std::string workmode;
    };
    // What one look did with a lost claim.
    struct Reaped {
        Claim claim;
        bool recorded = false;  // a history row was written (else only the claim row went)
        bool usedLogFile = false;
    };

    // hostName: this host's name as job processes record it; logFolder:
    // where job processes started with -w write "<job id>.log" (with its
    // trailing slash); leaseSeconds: how old another host's heartbeat may
    // be before its job counts as lost.
    LostJobs(Database& db, std::string hostName, std::string logFolder, unsigned leaseSeconds);

    // Looks once and records every lost job it finds (appended to done).
    // False when the database did not answer (the query layer logs why);
    // a claim another reaper took first is simply not among done.
    bool reap(std::vector<Reaped>& done);

    // Whether process pid runs on this host with the start time pidStart
    // (JobClaim::processStartTime); a zombie does not run.
    static bool runsHere(unsigned long pid, unsigned long long pidStart);

    // The history row's log of a lost job: the log file's lines when there
    // is one (logFileText, hasLogFile), a line saying where the job ran and
    // who recorded it, and a line saying the device restarted by itself
    // when the log shows an auto-fallback-reboot armed and not cancelled.
    static std::vector<std::string> historyLog(const Claim& claim, bool hasLogFile, const std::string& logFileText,
                                               const std::string& recordedBy);
    // Whether the log shows an armed fallback timer that was never
    // cancelled; seconds receives the armed time when the log names it.
    static bool fallbackArmed(const std::string& logText, std::string& seconds);

private:
    bool record(const Claim& claim, Reaped& reaped);
    void syncReads(Query& q);

    Database& db;
    std::string hostName, logFolder;
    unsigned leaseSeconds;
    int syncWait = -1;  // whether the server has wsrep_sync_wait: -1 not asked yet
};
