#include "dispatch/JobQueue.h"

#include "db/Query.h"

namespace {

// Due by the server's clock; unclaimed; its router neither held by a
// running job nor wanted by a claimed job that waits for it.
const char* const kDueCondition =
    " FROM cordal_jobs j"
    " WHERE j.jobtime <= UNIX_TIMESTAMP() AND j.processid = 0"
    " AND NOT EXISTS (SELECT 1 FROM tarvo_claims c WHERE c.jobid = j.id)"
    " AND NOT EXISTS (SELECT 1 FROM tarvo_claims c WHERE c.routerid = j.routerid)"
    " AND NOT EXISTS (SELECT 1 FROM tarvo_claims c JOIN cordal_jobs w ON w.id = c.jobid"
    " WHERE w.routerid = j.routerid)";

}  // namespace

bool JobQueue::due(size_t limit, std::vector<DueJob>& jobs) {
    jobs.clear();
    Query q(db);
    if (!q.get_result(std::string("SELECT j.id, j.routerid, j.workmode") + kDueCondition +
                      " ORDER BY j.priority DESC, j.jobtime ASC, j.id ASC LIMIT " + std::to_string(limit)))
        return false;
    while (q.fetch_row()) {
        DueJob job;
        job.id = q.getuval(0);
        job.routerId = q.getuval(1);
        job.workmode = q.getstring(2);
        jobs.push_back(job);
    }
    q.free_result();
    return true;
}

namespace {
std::string idList(const std::set<unsigned long>& ids) {
    std::string list;
    for (unsigned long id : ids) list += (list.empty() ? "" : ",") + std::to_string(id);
    return list;
}
}  // namespace

bool JobQueue::stillQueued(const std::set<unsigned long>& ids, std::set<unsigned long>& queued) {
    queued.clear();
    if (ids.empty()) return true;
    Query q(db);
    if (!q.get_result("SELECT id FROM cordal_jobs WHERE id IN (" + idList(ids) + ")")) return false;
    while (q.fetch_row()) queued.insert(q.getuval(0));
    q.free_result();
    return true;
}

bool JobQueue::backlog(const std::set<unsigned long>& ids, Backlog& backlog) {
    const std::string excluded = idList(ids);
    Query q(db);
    if (!q.get_result(std::string("SELECT COUNT(*), COALESCE(UNIX_TIMESTAMP() - MIN(j.jobtime), 0)") + kDueCondition +
                      (excluded.empty() ? "" : " AND j.id NOT IN (" + excluded + ")")) ||
        !q.fetch_row()) {
        q.free_result();
        return false;
    }
    backlog.due = q.getbigint(0);
    backlog.oldestAgeSeconds = q.getbigint(1);
    q.free_result();
    return true;
}
