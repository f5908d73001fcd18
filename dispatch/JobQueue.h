#pragma once
#include <set>
#include <string>
#include <vector>

class Database;

// JobQueue is the dispatcher's view of the job table: which jobs are due
// and how long the oldest has waited. A job is due when its time has come
// (by the database server's clock, the one every host shares), no process
// has claimed it (no claim row, process id still 0) and no claimed job
// holds or waits for its router. Jobs come highest priority first, then
// oldest. The Database is borrowed and must outlive the queue.
class JobQueue {
public:
    struct DueJob {
        unsigned long id = 0;
        unsigned long routerId = 0;
        std::string workmode;
    };
    struct Backlog {
        long long due = 0;               // due jobs waiting
        long long oldestAgeSeconds = 0;  // how long the oldest of them has been due; 0 when none
    };

    explicit JobQueue(Database& db) : db(db) {}

    // Up to limit due jobs in the order they should start. False when the
    // database did not answer (the query layer logs why).
    bool due(size_t limit, std::vector<DueJob>& jobs);
    // The due jobs but those of ids, which this host has just started and
    // whose claim may not be written yet.
    bool backlog(const std::set<unsigned long>& ids, Backlog& backlog);
    // Which of ids still have a job row.
    bool stillQueued(const std::set<unsigned long>& ids, std::set<unsigned long>& queued);

private:
    Database& db;
};
