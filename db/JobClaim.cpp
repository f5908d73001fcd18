#include "db/JobClaim.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <system_error>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "db/Database.h"
#include "db/Query.h"
#include "util/logEngine.h"

namespace {
const unsigned kDuplicateKey = 1062;  // ER_DUP_ENTRY
const unsigned kDeadlock = 1213;      // ER_LOCK_DEADLOCK: on a cluster, another node's commit came first
const unsigned kNoConnection = 2006;  // CR_SERVER_GONE_ERROR

std::string number(unsigned long long value) {
    return std::to_string(value);
}
}  // namespace

std::string JobClaim::Holder::describe() const {
    if (!known) return "unknown";
    std::string text = "pid " + number(pid);
    if (!host.empty()) text += " on host '" + host + "'";
    return text;
}

JobClaim::JobClaim(Database& db, unsigned long jobId, logEngine* log, unsigned heartbeatSeconds)
    : db_(db),
      log_(log),
      jobId_(jobId),
      host_(hostName()),
      pid_(static_cast<unsigned long>(getpid())),
      pidStart_(processStartTime(static_cast<unsigned long>(getpid()))),
      heartbeatSeconds_(heartbeatSeconds) {}

JobClaim::~JobClaim() {
    giveBack();
}

std::string JobClaim::hostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

unsigned long long JobClaim::processStartTime(unsigned long pid) {
    const std::string path = "/proc/" + number(pid) + "/stat";
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char buffer[1024];
    size_t length = 0;
    for (;;) {
        ssize_t n = read(fd, buffer + length, sizeof buffer - 1 - length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        length += static_cast<size_t>(n);
        if (length == sizeof buffer - 1) break;
    }
    close(fd);
    buffer[length] = '\0';
    // The command name (field 2) stands in parentheses and may hold blanks
    // and parentheses itself: the fields that follow start after the last
    // ")". Field 3 is the state, field 22 the start time.
    const char* p = strrchr(buffer, ')');
    if (!p) return 0;
    ++p;
    for (int field = 3; field <= 22; ++field) {
        while (*p == ' ') ++p;
        if (*p == '\0') return 0;
        // A process that has ended but is not reaped yet runs no more.
        if (field == 3 && (*p == 'Z' || *p == 'X')) return 0;
        if (field == 22) return strtoull(p, nullptr, 10);
        while (*p && *p != ' ') ++p;
    }
    return 0;
}

std::string JobClaim::ownRow() const {
    return "jobid = " + number(jobId_) + " AND host = '" + Query::safestr(host_) + "' AND pid = " + number(pid_) +
           " AND pidstart = " + number(pidStart_);
}

void JobClaim::fail(const std::string& what) {
    error_ = error_.empty() ? what : what + ": " + error_;
    if (log_) log_->add(logEngine::DB, error_);
}

unsigned JobClaim::racingWrite(const std::string& sql, unsigned long long& changedRows) {
    changedRows = 0;
    error_.clear();
    for (int attempt = 0; attempt < 2; ++attempt) {
        Query q(db_);
        if (q.executeExpecting(sql, {kDuplicateKey, kDeadlock})) {
            changedRows = q.affected_rows();
            return 0;
        }
        const unsigned error = q.GetErrno();
        if (error == 0) {
            error_ = "no database connection";
            return kNoConnection;
        }
        if (error != kDeadlock) {
            if (error != kDuplicateKey) error_ = q.GetError();
            return error;
        }
    }
    return kDeadlock;
}

bool JobClaim::readHolder(const std::string& where, Holder& holder) {
    holder = Holder();
    Query q(db_);
    if (syncWait_ < 0) {
        // MariaDB with wsrep (even where it is off) has the variable; a
        // server without it reads what it has, which is all there is.
        syncWait_ = q.get_result("SHOW VARIABLES LIKE 'wsrep_sync_wait'") && q.num_rows() > 0 ? 1 : 0;
        q.free_result();
    }
    // The read first waits until this node has applied every commit the
    // cluster made before it: a holder that another node has just released
    // or refreshed is seen as it is.
    if (syncWait_ == 1) q.execute("SET SESSION wsrep_sync_wait = 1");
    bool ok = q.get_result(
                  "SELECT jobid, host, pid, pidstart, heartbeat,"
                  " CAST(UNIX_TIMESTAMP() AS SIGNED) - CAST(heartbeat AS SIGNED) FROM tarvo_claims WHERE " +
                  where) != nullptr;
    if (ok && q.fetch_row()) {
        holder.known = true;
        holder.jobId = q.getuval(0);
        holder.host = q.getstring(1);
        holder.pid = q.getuval(2);
        holder.pidStart = q.getubigint(3);
        holder.heartbeat = q.getubigint(4);
        holder.silentSeconds = q.getbigint(5);
    }
    if (!ok) error_ = q.GetError();
    q.free_result();
    if (syncWait_ == 1) q.execute("SET SESSION wsrep_sync_wait = DEFAULT");
    return ok;
}

JobClaim::Outcome JobClaim::claim(Holder& holder) {
    holder = Holder();
    unsigned long long changed = 0;
    unsigned error =
        racingWrite("INSERT INTO tarvo_claims (jobid, routerid, host, pid, pidstart, claimtime, heartbeat) VALUES (" +
                        number(jobId_) + ", NULL, '" + Query::safestr(host_) + "', " + number(pid_) + ", " +
                        number(pidStart_) + ", UNIX_TIMESTAMP(), UNIX_TIMESTAMP())",
                    changed);
    if (error == kDuplicateKey || error == kDeadlock) {
        readHolder("jobid = " + number(jobId_), holder);
        return kHeldByAnother;
    }
    if (error != 0) {
        fail("could not insert the claim row of job " + number(jobId_));
        return kFailed;
    }
    held_ = true;
    // The job row's processid is the claim the management system sees; a
    // process id there already belongs to a process that took the job
    // before (one without a claim row, or one that was lost).
    error = racingWrite(
        "UPDATE cordal_jobs SET processid = " + number(pid_) + " WHERE id = " + number(jobId_) + " AND processid = 0",
        changed);
    if (error == 0 && changed == 1) {
        startBeating();
        return kTaken;
    }
    const std::string why = error_;
    release();
    if (error == 0 || error == kDeadlock) {
        Query q(db_);
        holder.pid =
            static_cast<unsigned long>(q.get_count("SELECT processid FROM cordal_jobs WHERE id = " + number(jobId_)));
        holder.known = holder.pid != 0;
        holder.jobId = jobId_;
        return kHeldByAnother;
    }
    error_ = why;
    fail("could not write the process id into job " + number(jobId_));
    return kFailed;
}

bool JobClaim::holderGone(const Holder& holder, unsigned leaseSeconds) const {
    if (!holder.known) return false;
    if (holder.host == host_) {
        const unsigned long long start = processStartTime(holder.pid);
        // Without a recorded start time only the pid can tell.
        return holder.pidStart == 0 ? start == 0 : start != holder.pidStart;
    }
    return holder.silentSeconds > static_cast<long long>(leaseSeconds);
}

bool JobClaim::takeOver(unsigned long routerId, const Holder& holder, unsigned leaseSeconds) {
    // Only the row as it was read: a holder that has shown a heartbeat
    // since keeps its router.
    unsigned long long changed = 0;
    unsigned error =
        racingWrite("UPDATE tarvo_claims SET routerid = NULL WHERE jobid = " + number(holder.jobId) +
                        " AND routerid = " + number(routerId) + " AND host = '" + Query::safestr(holder.host) +
                        "' AND pid = " + number(holder.pid) + " AND pidstart = " + number(holder.pidStart) +
                        " AND heartbeat = " + number(holder.heartbeat),
                    changed);
    if (error != 0 || changed != 1) return false;
    if (log_) {
        if (holder.host == host_)
            log_->addLine(logEngine::INF, "Taking over router %lu from job %lu (%s), whose process is gone.", routerId,
                          holder.jobId, holder.describe().c_str());
        else
            log_->addLine(logEngine::INF,
                          "Taking over router %lu from job %lu (%s), whose heartbeat is %lld seconds old (claimLease "
                          "%u).",
                          routerId, holder.jobId, holder.describe().c_str(), holder.silentSeconds, leaseSeconds);
    }
    return true;
}

JobClaim::Outcome JobClaim::leaseRouter(unsigned long routerId, unsigned leaseSeconds, Holder& holder) {
    holder = Holder();
    for (int pass = 0; pass < 2; ++pass) {
        unsigned long long changed = 0;
        unsigned error = racingWrite("UPDATE tarvo_claims SET routerid = " + number(routerId) +
                                         ", heartbeat = UNIX_TIMESTAMP() WHERE " + ownRow(),
                                     changed);
        if (error == 0) {
            if (changed == 1) return kTaken;
            fail("the claim row of job " + number(jobId_) + " is gone");
            return kFailed;
        }
        if (error != kDuplicateKey && error != kDeadlock) {
            fail("could not lease router " + number(routerId));
            return kFailed;
        }
        if (!readHolder("routerid = " + number(routerId), holder)) {
            fail("could not read the holder of router " + number(routerId));
            return kFailed;
        }
        // Released in between, or gone and now taken over: try again.
        if (!holder.known) continue;
        if (!holderGone(holder, leaseSeconds) || !takeOver(routerId, holder, leaseSeconds)) break;
    }
    return kHeldByAnother;
}

bool JobClaim::heartbeat() {
    if (!held_) return true;
    Query q(db_);
    return q.execute("UPDATE tarvo_claims SET heartbeat = UNIX_TIMESTAMP() WHERE " + ownRow());
}

void JobClaim::startBeating() {
    beatDb_ = db_.sibling(nullptr);
    stopBeating_ = false;
    // The thread takes no signal: the job's own thread must see every
    // termination request and alarm, which end its device waits.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    try {
        beater_ = std::thread(&JobClaim::beatUntilStopped, this, beatDb_.get(),
                              "UPDATE tarvo_claims SET heartbeat = UNIX_TIMESTAMP() WHERE " + ownRow());
    } catch (const std::system_error&) {
        // Without a thread the job's steps still beat.
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void JobClaim::stopBeating() {
    if (!beater_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(beatMutex_);
        stopBeating_ = true;
    }
    beatWake_.notify_all();
    beater_.join();
    beatDb_.reset();
}

void JobClaim::beatUntilStopped(Database* own, std::string sql) {
    std::unique_lock<std::mutex> lock(beatMutex_);
    while (!beatWake_.wait_for(lock, std::chrono::seconds(heartbeatSeconds_), [this] { return stopBeating_; })) {
        lock.unlock();
        // A failed beat is tried again at the next one; the reconnect of
        // the pool goes through the list of servers.
        Query(own).execute(sql);
        lock.lock();
    }
}

bool JobClaim::giveBack() {
    if (!held_) return true;
    stopBeating();
    Query q(db_);
    q.execute("UPDATE cordal_jobs SET processid = 0 WHERE id = " + number(jobId_) + " AND processid = " + number(pid_));
    return release();
}

void JobClaim::abandon() {
    stopBeating();
    held_ = false;
}

bool JobClaim::release() {
    stopBeating();
    if (!held_) return true;
    Query q(db_);
    if (!q.execute("DELETE FROM tarvo_claims WHERE " + ownRow())) return false;
    held_ = false;
    return true;
}
