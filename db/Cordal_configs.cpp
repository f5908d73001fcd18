#include "db/Cordal_configs.h"

#include "db/Database.h"
#include "db/Query.h"
#include "util/logEngine.h"

namespace {
const dbRecord::TableInfo kTable = {"cordal_configs",
                                    "id",
                                    "INSERT INTO cordal_configs(",
                                    " values(",
                                    "UPDATE cordal_configs SET ",
                                    " WHERE ",
                                    false,
                                    false,
                                    "id"};

const char kAutoFetch[] = "AutoFetch";
}  // namespace

Cordal_configs::Cordal_configs(Database* db, int keepCount) : dbRecord(db, kTable), keep(keepCount) {}

Cordal_configs::Cordal_configs(Database* db, int keepCount, Query* q) : dbRecord(db, kTable), keep(keepCount) {
    spawn(q);
}

Cordal_configs::Cordal_configs(Database& db, int keepCount, unsigned long key)
    : dbRecord(&db, kTable), keep(keepCount) {
    spawn("SELECT * FROM cordal_configs WHERE id='" + std::to_string(key) + "'");
}

Cordal_configs::Cordal_configs(Database* db, int keepCount, const std::string& sql)
    : dbRecord(db, kTable), keep(keepCount) {
    spawn(sql);
}

void Cordal_configs::clearValues() {
    dbRecord::clearValues();
    workmode.clear();
    osrel.clear();
    config.clear();
}

Cordal_configs* Cordal_configs::clear() {
    clearValues();
    return this;
}

void Cordal_configs::update(unsigned long key) {
    updateWhere(keyIs(key));
}

unsigned long long Cordal_configs::insert() {
    unsigned long long newId = dbRecord::insert();
    // Without the new row nothing is pruned: the old ones are all there is.
    if (lastOk()) prune();
    return newId;
}

// The surplus ids: all but the newest `keep` time stamps of the family.
// MIN(id) with ORDER BY keeps the statement valid under ONLY_FULL_GROUP_BY
// (and on servers that no longer accept GROUP BY ... DESC), picking one
// row of each time stamp as before.
void Cordal_configs::prune() {
    bool autoFetch = workmode == kAutoFetch;
    int keepCount = autoFetch ? 1 : keep;
    std::string sql = "SELECT MIN(id) FROM cordal_configs WHERE (routerid=" + std::to_string(routerid) + " AND " +
                      (autoFetch ? "" : "NOT ") + "workmode='AutoFetch') GROUP BY jobtime ORDER BY jobtime DESC" +
                      " LIMIT 2147483647 OFFSET " + std::to_string(keepCount);
    Query q(database);
    bool pruned = false;
    if (q.get_result(sql)) {
        std::string ids;
        while (q.fetch_row()) ids += (ids.empty() ? "" : ",") + std::to_string(q.getuval(0));
        q.free_result();
        pruned = ids.empty() || q.execute("DELETE FROM cordal_configs WHERE id IN (" + ids + ")");
    }
    if (!pruned && database && database->GetLog())
        database->GetLog()->addLine(logEngine::DB, "pruning the stored configurations of router %lu failed", routerid);
}

std::vector<dbRecord::Column> Cordal_configs::columns() {
    return {col("id", id),       col("routerid", routerid), col("jobtime", jobtime), col("workmode", workmode),
            col("osrel", osrel), col("config", config)};
}
