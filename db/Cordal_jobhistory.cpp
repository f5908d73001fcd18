#include "db/Cordal_jobhistory.h"

namespace {
const dbRecord::TableInfo kTable = {"cordal_jobhistory",
                                    "histid",
                                    "INSERT INTO cordal_jobhistory(",
                                    " VALUES(",
                                    "UPDATE cordal_jobhistory SET ",
                                    " WHERE ",
                                    true,
                                    false,
                                    "histid"};
}

Cordal_jobhistory::Cordal_jobhistory(Database* db) : dbRecord(db, kTable) {}

Cordal_jobhistory::Cordal_jobhistory(Database* db, Query* q) : dbRecord(db, kTable) {
    spawn(q);
}

Cordal_jobhistory::Cordal_jobhistory(Database& db, unsigned long key) : dbRecord(&db, kTable) {
    spawn("SELECT * FROM cordal_jobhistory WHERE " + keyIs(key));
}

Cordal_jobhistory::Cordal_jobhistory(Database* db, const std::string& sql) : dbRecord(db, kTable) {
    spawn(sql);
}

Cordal_jobhistory* Cordal_jobhistory::clear() {
    clearValues();
    return this;
}

void Cordal_jobhistory::update(unsigned long key) {
    updateWhere(keyIs(key));
}

std::vector<dbRecord::Column> Cordal_jobhistory::columns() {
    return {col("histid", histid),
            col("id", id),
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
            col("config", config),
            col("log", log),
            col("uid", uid)};
}
