#pragma once
#include <string>

// DispatchSettings is what the dispatcher reads from the installation's
// settings file: the database settings, found by the same text search the
// job runner uses (so both meet the same database), and the dispatcher's
// own keys below the element `dispatch`, each optional with a default:
//
//   dispatch.maxJobs       jobs running at once on this host (default 8)
//   dispatch.pollInterval  seconds between two looks for due jobs
//                          (default 5; a fraction such as 0.5 is allowed)
//   dispatch.metricsFile   the Prometheus text file ("" writes none)
//
// and the job runner's config.claimLease: how many seconds another
// host's job may go without a heartbeat before it counts as lost (the
// job runner takes over its router after the same time). Without it the
// lease is the job deadline (config.jobdeadline, default 7200), as for
// the job runner: no job outlives its deadline.
//
// load() fills a value completely or reports why not; a dispatcher that
// re-reads its settings keeps the old value when the new file is wrong.
struct DispatchSettings {
    static const unsigned kDefaultMaxJobs = 8;
    static const unsigned kDefaultPollMilliseconds = 5000;
    static const char* const kDefaultMetricsFile;
    static const unsigned kDefaultJobDeadlineSeconds = 7200;

    std::string dbPass, dbUser, dbHost, dbName;
    unsigned maxJobs = kDefaultMaxJobs;
    unsigned pollMilliseconds = kDefaultPollMilliseconds;
    std::string metricsFile = kDefaultMetricsFile;
    unsigned claimLeaseSeconds = kDefaultJobDeadlineSeconds;

    // Reads settingsFile; false with error set (one line, no secret) when
    // the file cannot be read or parsed, lacks the database password, or a
    // key holds a value out of range.
    bool load(const std::string& settingsFile, std::string& error);

    // Whether the database to connect to differs from other's.
    bool sameDatabase(const DispatchSettings& other) const {
        return dbPass == other.dbPass && dbUser == other.dbUser && dbHost == other.dbHost && dbName == other.dbName;
    }
};
