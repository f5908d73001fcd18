#include "dispatch/Dispatcher.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "db/Database.h"
#include "db/JobClaim.h"
#include "dispatch/JobQueue.h"
#include "dispatch/LostJobs.h"
#include "dispatch/Printable.h"
#include "util/logEngine.h"

namespace {

// The database log is printed as it grows and started afresh past this.
const int kDatabaseLogLines = 500;

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vfprintf(stdout, format, args);
    va_end(args);
    fputc('\n', stdout);
    fflush(stdout);
}

void complain(const std::string& text) {
    fprintf(stderr, "tarvo-dispatch: ERROR: %s\n", text.c_str());
    fflush(stderr);
}

std::string outcome(const JobProcess& p) {
    if (p.signal() != 0) return "killed by signal " + std::to_string(p.signal());
    switch (p.exitCode()) {
        case 0:
            return "exit 0 (success)";
        case 2:
            return "exit 2 (error)";
        case 3:
            return "exit 3 (claimed by another process)";
        default:
            return "exit " + std::to_string(p.exitCode());
    }
}

}  // namespace

void Dispatcher::blockedSignals(sigset_t& set) {
    sigemptyset(&set);
    for (int s : {SIGCHLD, SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, s);
}

Dispatcher::Dispatcher(std::string file, std::string folder, std::vector<std::string> command)
    : settingsFile(std::move(file)),
      logFolder(std::move(folder)),
      hostName(JobClaim::hostName()),  // the name job processes record in their claims
      jobCommand(std::move(command)) {}

Dispatcher::~Dispatcher() = default;

bool Dispatcher::configure() {
    std::string error;
    if (!settings.load(settingsFile, error)) {
        complain(error);
        return false;
    }
    metrics.maxJobs = settings.maxJobs;
    return true;
}

int Dispatcher::run() {
    say("tarvo-dispatch starting: at most %u jobs at once, looking for due jobs every %.1f s", settings.maxJobs,
        settings.pollMilliseconds / 1000.0);
    sigset_t waitFor;
    blockedSignals(waitFor);
    Clock::time_point nextLook = Clock::now();
    // A freed slot or new settings: look again at once.
    bool lookNow = false;
    while (!stopping) {
        const Clock::time_point now = Clock::now();
        if (now >= nextLook) {
            poll(true);
            nextLook = now + std::chrono::milliseconds(settings.pollMilliseconds);
        } else if (lookNow) {
            poll(false);
        }
        lookNow = false;
        writeMetrics();

        auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(nextLook - Clock::now());
        if (wait.count() < 0) wait = std::chrono::nanoseconds(0);
        timespec timeout{static_cast<time_t>(wait.count() / 1000000000), static_cast<long>(wait.count() % 1000000000)};
        int signal = sigtimedwait(&waitFor, nullptr, &timeout);
        switch (signal) {
            case SIGCHLD: {
                size_t before = children.size();
                reapChildren();
                lookNow = children.size() < before;
                break;
            }
            case SIGHUP:
                reload();
                lookNow = true;
                break;
            case SIGTERM:
            case SIGINT:
                say("tarvo-dispatch: %s received, stopping", signal == SIGTERM ? "SIGTERM" : "SIGINT");
                stopping = true;
                break;
            default:  // the time-out, or EINTR
                break;
        }
    }
    shutdown();
    return 0;
}

void Dispatcher::poll(bool lookForLostJobs) {
    if (!openDatabase()) return;
    if (lookForLostJobs && !reapLostJobs()) {
        databaseFailed();
        return;
    }
    startDueJobs();
    flushDatabaseLog(true);
}

bool Dispatcher::reapLostJobs() {
    LostJobs lost(*db, hostName, logFolder, settings.claimLeaseSeconds);
    std::vector<LostJobs::Reaped> reaped;
    if (!lost.reap(reaped)) return false;
    for (const auto& r : reaped) {
        const LostJobs::Claim& c = r.claim;
        if (r.recorded) {
            say("job %lu lost: router %lu, workmode %s, process %lu on host '%s' is gone; recorded as \"Job process "
                "lost\"%s",
                c.jobId, c.routerId, printable(c.workmode).c_str(), c.pid, printable(c.host).c_str(),
                r.usedLogFile ? " with its log file" : "");
            ++metrics.reaped;
            metricsChanged = true;
        } else {
            say("job %lu: claim of process %lu on host '%s' removed (the process is gone; its job was recorded "
                "already)",
                c.jobId, c.pid, printable(c.host).c_str());
        }
    }
    return true;
}

void Dispatcher::startDueJobs() {
    JobQueue queue(*db);
    bool ok = forgetFinishedJobs(queue);
    size_t free = children.size() < settings.maxJobs ? settings.maxJobs - children.size() : 0;
    if (ok && free > 0) {
        // More rows than free slots: some are held back below (this host
        // runs them, or runs a job of their router already).
        std::vector<JobQueue::DueJob> due;
        ok = queue.due(free + children.size() + ranHere.size() + 16, due);
        std::set<unsigned long> jobs = runningJobIds(), routers;
        for (const auto& child : children) routers.insert(child.second->job().routerId);
        for (const auto& job : due) {
            if (free == 0) break;
            if (jobs.count(job.id) || routers.count(job.routerId)) continue;
            if (ranHere.count(job.id)) {
                if (heldBack.insert(job.id).second)
                    complain("job " + std::to_string(job.id) +
                             " is due again, but its process here ended without recording it; it is left to "
                             "other hosts (or to this dispatcher's next start)");
                continue;
            }
            if (!start({job.id, job.routerId, job.workmode})) break;
            jobs.insert(job.id);
            routers.insert(job.routerId);
            --free;
        }
    }
    JobQueue::Backlog backlog;
    ok = ok && queue.backlog(runningJobIds(), backlog);
    if (!ok) {
        databaseFailed();
        return;
    }
    if (!databaseUp) say("tarvo-dispatch: the database answers again");
    databaseUp = true;
    metrics.databaseUp = true;
    metrics.due = backlog.due;
    metrics.oldestDueAgeSeconds = backlog.oldestAgeSeconds;
    metricsChanged = true;
}

bool Dispatcher::start(const JobProcess::Job& job) {
    std::vector<std::string> argv = jobCommand;
    argv.insert(argv.end(), {"-w", "-j", std::to_string(job.id)});
    auto process = std::make_unique<JobProcess>(job);
    std::string error;
    if (!process->start(argv, error)) {
        complain("job " + std::to_string(job.id) + " not started: " + error);
        return false;
    }
    say("job %lu started: router %lu, workmode %s, pid %d", job.id, job.routerId, printable(job.workmode).c_str(),
        static_cast<int>(process->pid()));
    ++metrics.started;
    metrics.running = static_cast<unsigned>(children.size() + 1);
    metricsChanged = true;
    children[process->pid()] = std::move(process);
    return true;
}

void Dispatcher::reapChildren() {
    while (true) {
        int status = 0;
        pid_t pid = waitpid(-1, &status, WNOHANG);
        if (pid < 0 && errno == EINTR) continue;
        if (pid <= 0) break;
        auto it = children.find(pid);
        if (it == children.end()) continue;
        it->second->ended(status);
        reportEnd(*it->second);
        children.erase(it);
    }
    metrics.running = static_cast<unsigned>(children.size());
    metricsChanged = true;
}

void Dispatcher::reportEnd(const JobProcess& p) {
    const JobProcess::Job& job = p.job();
    say("job %lu ended: router %lu, workmode %s, %s, %.1f s", job.id, job.routerId, printable(job.workmode).c_str(),
        outcome(p).c_str(), p.seconds());
    if (p.signal() == 0 && p.exitCode() == 0) {
        ++metrics.endedSuccess;
    } else if (p.signal() == 0 && p.exitCode() == 2) {
        ++metrics.endedError;
    } else if (p.signal() == 0 && p.exitCode() == 3) {
        ++metrics.lostClaims;
    } else {
        ++metrics.endedOther;
    }
    // Normally the job row is gone by now; if it is not, its process
    // recorded nothing, and this dispatcher does not start it again.
    ranHere.insert(job.id);
}

void Dispatcher::reload() {
    DispatchSettings fresh;
    std::string error;
    if (!fresh.load(settingsFile, error)) {
        complain(error + "; keeping the settings in use");
        return;
    }
    if (!fresh.sameDatabase(settings)) {
        db.reset();
        dbLog.reset();
    }
    settings = fresh;
    metrics.maxJobs = settings.maxJobs;
    metricsChanged = true;
    metricsError.clear();
    say("tarvo-dispatch: settings re-read: at most %u jobs at once, looking for due jobs every %.1f s",
        settings.maxJobs, settings.pollMilliseconds / 1000.0);
}

void Dispatcher::shutdown() {
    reapChildren();
    if (!children.empty()) say("tarvo-dispatch: ending %zu running jobs", children.size());
    for (const auto& child : children) child.second->terminate();
    sigset_t waitFor;
    blockedSignals(waitFor);
    while (!children.empty()) {
        writeMetrics();
        int signal = sigwaitinfo(&waitFor, nullptr);
        if (signal == SIGCHLD) {
            reapChildren();
        } else if (signal == SIGTERM || signal == SIGINT) {
            // Asked again: the jobs are told again; each ends through its
            // own Finish, so none is killed without its history row.
            for (const auto& child : children) child.second->terminate();
        }
    }
    writeMetrics();
    say("tarvo-dispatch stopped");
}

bool Dispatcher::openDatabase() {
    if (db) return true;
    dbLog.reset(new logEngine(false));
    dbLog->addSecret(settings.dbPass);
    dbLogPrinted = 0;
    db.reset(new Database(settings.dbHost, settings.dbUser, settings.dbPass, settings.dbName, dbLog.get()));
    return true;
}

void Dispatcher::databaseFailed() {
    // Why it failed is told once; the same failure at every look is not.
    flushDatabaseLog(databaseUp);
    if (databaseUp) complain("the database does not answer; trying again at the next look");
    databaseUp = false;
    metrics.databaseUp = false;
    metricsChanged = true;
}

void Dispatcher::flushDatabaseLog(bool print) {
    if (!dbLog) return;
    std::vector<std::string> lines;
    dbLog->fillVector(lines);
    for (size_t i = static_cast<size_t>(dbLogPrinted); print && i < lines.size(); ++i)
        complain("database: " + lines[i]);
    dbLogPrinted = static_cast<int>(lines.size());
    if (dbLogPrinted > kDatabaseLogLines) {
        db.reset();
        dbLog.reset();
    }
}

void Dispatcher::writeMetrics() {
    if (!metricsChanged || settings.metricsFile.empty()) return;
    std::string error;
    if (metrics.write(settings.metricsFile, error)) {
        if (!metricsError.empty()) say("tarvo-dispatch: metrics file written again");
        metricsError.clear();
        metricsChanged = false;
    } else if (error != metricsError) {
        complain(error);
        metricsError = error;
    }
}

bool Dispatcher::forgetFinishedJobs(JobQueue& queue) {
    if (ranHere.empty()) return true;
    std::set<unsigned long> queued;
    if (!queue.stillQueued(ranHere, queued)) return false;
    for (auto it = ranHere.begin(); it != ranHere.end();) {
        if (queued.count(*it)) {
            ++it;
        } else {
            heldBack.erase(*it);
            it = ranHere.erase(it);
        }
    }
    return true;
}

std::set<unsigned long> Dispatcher::runningJobIds() const {
    std::set<unsigned long> ids;
    for (const auto& child : children) ids.insert(child.second->job().id);
    return ids;
}
