#pragma once
#include <string>

// DispatchMetrics are the dispatcher's counters and gauges, written as a
// Prometheus text file the way the node exporter's textfile collector
// wants it: the whole text into a temporary file in the same folder, then
// renamed over the file, so a reader never sees half of it. Counters
// start at 0 with each dispatcher process. Every started job ends up in
// exactly one of ended (by status), lost claims or running:
//   started = success + error + other + lostClaims + running
class DispatchMetrics {
public:
    unsigned long long started = 0;
    unsigned long long endedSuccess = 0;  // exit 0
    unsigned long long endedError = 0;    // exit 2: the job failed and says why in its history
    unsigned long long endedOther = 0;    // any other end (a signal, a start-up error)
    unsigned long long lostClaims = 0;    // exit 3: another process had claimed the job
    unsigned long long reaped = 0;        // lost jobs whose outcome this dispatcher recorded
    unsigned running = 0;
    unsigned maxJobs = 0;
    long long due = 0;
    long long oldestDueAgeSeconds = 0;
    bool databaseUp = false;

    std::string text() const;
    // Writes text() to path; false with error set when it cannot.
    bool write(const std::string& path, std::string& error) const;
};
