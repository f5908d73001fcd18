#pragma once
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class Database;
class logEngine;

// JobClaim is this process's hold on one job and on the job's router, kept
// in the claim table tarvo_claims (described in db/schema.sql). Processes
// on any number of hosts, talking to any node of a database cluster,
// coordinate only through it:
//   claim        the job's row (its job id is the key), then the job row's
//                processid where it is still 0; one process wins
//   leaseRouter  the router id in that row (unique: one running job per
//                router); a holder whose process is gone loses its router
//   heartbeat    the row shows the holder is alive
//   release      the row goes (after the history row is stored)
// Every statement stands alone (autocommit), so its success means it has
// committed; on a cluster a write that lost to another node's commit is
// refused with a deadlock (1213) and tried once more, then taken as lost
// to the other. Reads that decide a takeover wait until the node has
// applied what the cluster committed before (wsrep_sync_wait, where the
// server has it). No statement relies on locks another node would share.
//
// While the row is held, a thread of its own (with a connection of its
// own, and every signal blocked) refreshes its heartbeat every
// kHeartbeatSeconds, so a job in a long device step (a firmware image on a
// slow line) still shows it is alive; heartbeat() refreshes it at once.
//
// The database must outlive the JobClaim. The destructor gives a job still
// held back (giveBack), so only a process that was killed leaves its row.
class JobClaim {
public:
    // How often the heartbeat thread refreshes the row: a lease
    // (config.claimLease) of a few of them is safe, whatever the job does.
    static const unsigned kHeartbeatSeconds = 30;

    enum Outcome {
        kTaken,          // this process holds it now
        kHeldByAnother,  // another process does; holder says which
        kFailed,         // a statement failed for another reason; error() says why
    };

    // Who holds a claim or a router, as its row says.
    struct Holder {
        bool known = false;  // false when the row was gone when it was read
        unsigned long jobId = 0;
        std::string host;
        unsigned long pid = 0;
        unsigned long long pidStart = 0;
        unsigned long long heartbeat = 0;  // seconds since 1970, by the database's clock
        long long silentSeconds = 0;       // since the heartbeat, by the same clock
        // "pid 123 on host 'worker-2'", or "unknown" when not known.
        std::string describe() const;
    };

    // The identity of this process: the host name, getpid() and its start
    // time. log is not owned and may be null. heartbeatSeconds is the
    // heartbeat thread's interval.
    JobClaim(Database& db, unsigned long jobId, logEngine* log, unsigned heartbeatSeconds = kHeartbeatSeconds);
    ~JobClaim();
    JobClaim(const JobClaim&) = delete;
    JobClaim& operator=(const JobClaim&) = delete;

    // Takes the job: inserts the row, then writes this process's id into
    // the job row where its processid is still 0. Held by another: holder
    // names the row's holder (or, without one, the job row's processid).
    Outcome claim(Holder& holder);
    // One try for routerId (REQUIRES: claim() was kTaken). A holder whose
    // process is gone is taken over first (and the log says so): on this
    // host when its pid no longer runs with its start time, from another
    // host when its heartbeat is more than leaseSeconds old.
    Outcome leaseRouter(unsigned long routerId, unsigned leaseSeconds, Holder& holder);
    // Refreshes the row's heartbeat; false when it failed.
    bool heartbeat();
    // Deletes the row; false when it failed (the row then stays). Nothing
    // to do when not held.
    bool release();
    // For a job that ends without its outcome stored: the job row's
    // processid back to 0 (where it is still this process's), then
    // release, so that the job can be run again.
    bool giveBack();
    // For a job whose outcome is stored but whose job row could not be
    // deleted: the row is left as a gone process's, for the dispatcher
    // that clears lost jobs (it finds the history row and records nothing
    // more); the job must not run again.
    void abandon();

    bool held() const { return held_; }
    const std::string& error() const { return error_; }
    const std::string& host() const { return host_; }
    unsigned long pid() const { return pid_; }

    // Field 22 of /proc/PID/stat (clock ticks after boot); 0 when no such
    // process runs.
    static unsigned long long processStartTime(unsigned long pid);
    // gethostname(); "localhost" when it fails.
    static std::string hostName();
    // Whether a holder has surely ended: on this host by its pid and start
    // time, elsewhere by a heartbeat older than leaseSeconds.
    bool holderGone(const Holder& holder, unsigned leaseSeconds) const;

private:
    // Runs a write that races with other processes; a deadlock refusal is
    // tried once more. Returns the server's error number (0 on success).
    unsigned racingWrite(const std::string& sql, unsigned long long& changedRows);
    // Reads the holder of the row matching where; false on a failed read.
    bool readHolder(const std::string& where, Holder& holder);
    bool takeOver(unsigned long routerId, const Holder& holder, unsigned leaseSeconds);
    // The conditions naming this process's own row.
    std::string ownRow() const;
    void fail(const std::string& what);
    void startBeating();
    void stopBeating();
    void beatUntilStopped(Database* own, std::string sql);

    Database& db_;
    logEngine* log_;
    unsigned long jobId_;
    std::string host_;
    unsigned long pid_;
    unsigned long long pidStart_;
    unsigned heartbeatSeconds_;
    bool held_ = false;
    int syncWait_ = -1;  // whether the server has wsrep_sync_wait; -1 until asked
    std::string error_;

    std::thread beater_;
    std::mutex beatMutex_;
    std::condition_variable beatWake_;
    bool stopBeating_ = false;
    std::unique_ptr<Database> beatDb_;  // the heartbeat thread's own connection
};
