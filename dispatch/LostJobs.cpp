#include "dispatch/LostJobs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "db/JobClaim.h"
#include "db/Query.h"
#include "dispatch/Printable.h"
#include "util/TextLines.h"
#include "util/logEngine.h"

namespace {

const char* const kReason = "Job process lost";

std::string quoted(const std::string& text) {
    return "'" + Query::safestr(text) + "'";
}

// The whole of a small file; false when it cannot be read.
bool readAll(const std::string& path, std::string& text) {
    int fd;
    do fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    text.clear();
    char buffer[65536];
    bool ok = true;
    while (true) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return ok;
}

bool has(const std::string& line, const char* part) {
    return line.find(part) != std::string::npos;
}

}  // namespace

LostJobs::LostJobs(Database& database, std::string host, std::string folder, unsigned lease)
    : db(database), hostName(std::move(host)), logFolder(std::move(folder)), leaseSeconds(lease) {}

bool LostJobs::runsHere(unsigned long pid, unsigned long long pidStart) {
    const unsigned long long started = JobClaim::processStartTime(pid);
    return started != 0 && started == pidStart;
}

bool LostJobs::fallbackArmed(const std::string& logText, std::string& seconds) {
    // The job's status lines tell the timer's story: armed by scheduling,
    // cancelled by a flush that the job got past without an error, gone
    // with a reboot. A flush the process did not finish may not have
    // reached the device.
    enum { Off, Armed, Cancelling } state = Off;
    seconds.clear();
    for (const std::string& line : TextLines::split(logText)) {
        if (has(line, "*** Scheduling auto-fallback-reboot.")) {
            state = Armed;
            seconds.clear();
        } else if (has(line, "*** Flushing auto-fallback-reboot.")) {
            if (state != Off) state = Cancelling;
        } else if (has(line, "*** Rebooting.")) {
            state = Off;
        } else if (state == Armed && seconds.empty() && has(line, "tmibAdmConfigTimeout=")) {
            const size_t at = line.find("tmibAdmConfigTimeout=") + strlen("tmibAdmConfigTimeout=");
            const size_t end = line.find_first_not_of("0123456789", at);
            seconds = line.substr(at, end == std::string::npos ? std::string::npos : end - at);
        } else if (state == Cancelling && has(line, "ERR - ")) {
            state = Armed;  // the flush failed: the device still counts down
        } else if (state == Cancelling && has(line, "*** ")) {
            state = Off;  // the job went on to its next step
        }
    }
    if (state == Off) seconds.clear();
    return state != Off;
}

std::vector<std::string> LostJobs::historyLog(const Claim& claim, bool hasLogFile, const std::string& logFileText,
                                              const std::string& recordedBy) {
    logEngine log(false, "nofile");
    if (hasLogFile)
        for (const std::string& line : TextLines::split(logFileText)) log.add(logEngine::RAW, line);
    log.add(logEngine::INF, "");
    log.addLine(logEngine::ERR,
                "%s: process %lu on host '%s' ended without recording the job%s; recorded by tarvo-dispatch on host "
                "'%s'.",
                kReason, claim.pid, printable(claim.host).c_str(),
                hasLogFile ? "" : " (its log file is not on this host)", printable(recordedBy).c_str());
    std::string seconds;
    if (hasLogFile && fallbackArmed(logFileText, seconds)) {
        if (seconds.empty())
            log.add(logEngine::INF,
                    "The device restarted by itself: its auto-fallback-reboot was armed and never cancelled.");
        else
            log.addLine(logEngine::INF,
                        "The device restarted by itself: its auto-fallback-reboot (%s seconds) was armed and never "
                        "cancelled.",
                        seconds.c_str());
    }
    std::vector<std::string> lines;
    log.fillVector(lines);
    return lines;
}

void LostJobs::syncReads(Query& q) {
    // A read on one cluster node may not yet show a heartbeat written
    // through another: the claims are read after the node has caught up.
    // A server without the variable (no cluster support) needs nothing.
    if (syncWait < 0) {
        if (!q.get_result("SHOW VARIABLES LIKE 'wsrep_sync_wait'")) return;
        syncWait = q.num_rows() > 0 ? 1 : 0;
        q.free_result();
    }
    if (syncWait == 1) q.execute("SET SESSION wsrep_sync_wait = 1");
}

bool LostJobs::reap(std::vector<Reaped>& done) {
    std::vector<Claim> lost;
    {
        Query q(db);
        syncReads(q);
        // This host's claims are judged by their process; another host's
        // by the age of their heartbeat, by the database server's clock.
        if (!q.get_result("SELECT c.jobid, c.host, c.pid, c.pidstart, c.heartbeat, j.id IS NOT NULL,"
                          " COALESCE(j.routerid, 0), COALESCE(j.workmode, '')"
                          " FROM tarvo_claims c LEFT JOIN cordal_jobs j ON j.id = c.jobid"
                          " WHERE c.host = " +
                          quoted(hostName) + " OR c.heartbeat + " + std::to_string(leaseSeconds) +
                          " < UNIX_TIMESTAMP() ORDER BY c.jobid"))
            return false;
        while (q.fetch_row()) {
            Claim claim;
            claim.jobId = q.getuval(0);
            claim.host = q.getstring(1);
            claim.pid = q.getuval(2);
            claim.pidStart = q.getubigint(3);
            claim.heartbeat = q.getubigint(4);
            claim.jobRowExists = q.getval(5) != 0;
            claim.routerId = q.getuval(6);
            claim.workmode = q.getstring(7);
            if (claim.host == hostName && runsHere(claim.pid, claim.pidStart)) continue;
            lost.push_back(claim);
        }
        q.free_result();
    }
    // A claim that another reaper took first, or a statement the server
    // refused (the query layer logs it), is looked at again next time.
    for (const Claim& claim : lost) {
        Reaped reaped;
        reaped.claim = claim;
        if (record(claim, reaped)) done.push_back(reaped);
    }
    return true;
}

bool LostJobs::record(const Claim& claim, Reaped& reaped) {
    const std::string id = std::to_string(claim.jobId);
    const std::string logFile = logFolder + id + ".log";
    std::string logText;
    reaped.usedLogFile = readAll(logFile, logText);
    std::string logColumn;
    for (const std::string& line : historyLog(claim, reaped.usedLogFile, logText, hostName)) {
        if (!logColumn.empty()) logColumn += "\n";
        logColumn += Query::safestr(line);
    }

    Query q(db);
    const auto rollback = [&q] {
        q.execute("ROLLBACK");
        return false;
    };
    if (!q.execute("START TRANSACTION")) return false;
    // The claim as it was seen: a holder that showed it is alive since then
    // (a newer heartbeat) or another reaper that came first leaves no row
    // to delete, and this reaper records nothing.
    if (!q.execute("DELETE FROM tarvo_claims WHERE jobid = " + id + " AND host = " + quoted(claim.host) +
                   " AND pid = " + std::to_string(claim.pid) + " AND pidstart = " + std::to_string(claim.pidStart) +
                   " AND heartbeat = " + std::to_string(claim.heartbeat)))
        return rollback();
    if (q.affected_rows() != 1) return rollback();
    if (!q.execute("INSERT INTO cordal_jobhistory(id, routerid, jobtime, starttime, endtime, watchdog, processid,"
                   " workmode, status, pending, priority, reasoncode, reason, retrycount, osrel, config, log, uid)"
                   " SELECT id, routerid, jobtime, starttime, " +
                   std::to_string(static_cast<unsigned long long>(time(nullptr))) +
                   ", 0, 0, workmode, 'error', 1, 1, 0, " + quoted(kReason) + ", 0, osrel, '', '" + logColumn +
                   "', uid FROM cordal_jobs WHERE id = " + id +
                   // A job whose process stored its outcome and then lost its
                   // database before the job row went is not recorded twice.
                   " AND NOT EXISTS (SELECT 1 FROM cordal_jobhistory WHERE id = " + id + ")"))
        return rollback();
    reaped.recorded = q.affected_rows() == 1;
    if (!q.execute("DELETE FROM cordal_jobs WHERE id = " + id)) return rollback();
    // On a cluster the commit decides: the second of two reapers fails here
    // (deadlock, 1213), which is no fault; the claim is gone by then.
    if (!q.executeExpecting("COMMIT", {1213})) return rollback();
    // The log is in the history row now, as a job's own end leaves it.
    // Either way the job is over: a file left by a process that stored its
    // own history (and was lost before removing it) goes too.
    if (reaped.usedLogFile) unlink(logFile.c_str());
    return true;
}
