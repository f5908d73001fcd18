#include "db/Cordal_jobs.h"

namespace {
const dbRecord::TableInfo kTable = {
    "cordal_jobs", "id", "INSERT INTO cordal_jobs(", " VALUES(", "UPDATE cordal_jobs SET ", " WHERE ", true,
    false,         "id"};
}

Cordal_jobs::Cordal_jobs(Database* db) : dbRecord(db, kTable) {}

Cordal_jobs::Cordal_jobs(Database* db, Query* q) : dbRecord(db, kTable) {
    spawn(q);
}

Cordal_jobs::Cordal_jobs(Database& db, unsigned long key) : dbRecord(&db, kTable) {
    spawn("SELECT * FROM cordal_jobs WHERE " + keyIs(key));
}

Cordal_jobs::Cordal_jobs(Database* db, const std::string& sql) : dbRecord(db, kTable) {
    spawn(sql);
}

Cordal_jobs* Cordal_jobs::clear() {
    clearValues();
    return this;
}

void Cordal_jobs::update(unsigned long key) {
    updateWhere(keyIs(key));
}

std::vector<dbRecord::Column> Cordal_jobs::columns() {
    return {col("id", id),
            col("routerid", routerid),
            col("jobtime", jobtime),
            col("starttime", starttime),
            col("endtime", endtime),
            col("watchdog", watchdog),
            col("processid", processid),
            col("workmode", workmode),
            col("status", status),
            col("pending", pending),
            col("priority", priority),
            col("reasoncode", reasoncode),
            col("reason", reason),
            col("retrycount", retrycount),
            col("osrel", osrel),
            col("uid", uid)};
}
