#include "dispatch/DispatchMetrics.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

void metric(std::string& out, const char* name, const char* type, const char* help) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

void sample(std::string& out, const char* name, const std::string& labels, long long value) {
    out += name + labels + " " + std::to_string(value) + "\n";
}

bool writeAll(int fd, const std::string& text) {
    const char* data = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string DispatchMetrics::text() const {
    std::string out;
    const auto n = [](unsigned long long v) { return static_cast<long long>(v); };
    metric(out, "tarvo_dispatch_jobs_started_total", "counter", "Job processes started by this dispatcher.");
    sample(out, "tarvo_dispatch_jobs_started_total", "", n(started));
    metric(out, "tarvo_dispatch_jobs_ended_total", "counter",
           "Job processes that ended, by outcome (success: exit 0, error: exit 2, other: any other end).");
    sample(out, "tarvo_dispatch_jobs_ended_total", "{status=\"success\"}", n(endedSuccess));
    sample(out, "tarvo_dispatch_jobs_ended_total", "{status=\"error\"}", n(endedError));
    sample(out, "tarvo_dispatch_jobs_ended_total", "{status=\"other\"}", n(endedOther));
    metric(out, "tarvo_dispatch_lost_claims_total", "counter",
           "Job processes that found their job claimed by another process (exit 3).");
    sample(out, "tarvo_dispatch_lost_claims_total", "", n(lostClaims));
    metric(out, "tarvo_dispatch_jobs_reaped_total", "counter",
           "Jobs whose process was lost, recorded as \"Job process lost\" by this dispatcher.");
    sample(out, "tarvo_dispatch_jobs_reaped_total", "", n(reaped));
    metric(out, "tarvo_dispatch_jobs_running", "gauge", "Job processes of this dispatcher running now.");
    sample(out, "tarvo_dispatch_jobs_running", "", running);
    metric(out, "tarvo_dispatch_max_jobs", "gauge", "Job processes this dispatcher runs at most at once.");
    sample(out, "tarvo_dispatch_max_jobs", "", maxJobs);
    metric(out, "tarvo_dispatch_jobs_due", "gauge", "Due jobs that no process has claimed yet.");
    sample(out, "tarvo_dispatch_jobs_due", "", due);
    metric(out, "tarvo_dispatch_oldest_due_job_age_seconds", "gauge",
           "How long the oldest due job has been waiting (0 when none waits).");
    sample(out, "tarvo_dispatch_oldest_due_job_age_seconds", "", oldestDueAgeSeconds);
    metric(out, "tarvo_dispatch_database_up", "gauge", "Whether the last look at the database succeeded.");
    sample(out, "tarvo_dispatch_database_up", "", databaseUp ? 1 : 0);
    return out;
}

bool DispatchMetrics::write(const std::string& path, std::string& error) const {
    // The collector reads only names ending in ".prom": the temporary name
    // does not, so it is never read half-written.
    const std::string temporary = path + "." + std::to_string(getpid()) + ".tmp";
    int fd;
    do fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = "cannot write '" + temporary + "': " + strerror(errno);
        return false;
    }
    bool ok = writeAll(fd, text());
    int saved = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        unlink(temporary.c_str());
        error = "cannot write '" + path + "': " + strerror(saved);
    }
    return ok;
}
