#include "db/dbTableLicenses.h"

#include "db/Query.h"

namespace {
const dbRecord::TableInfo kTable = {"cordal_licenses",
                                    "routerid",
                                    "INSERT INTO cordal_licenses(",
                                    " VALUES(",
                                    "UPDATE cordal_licenses SET ",
                                    " WHERE ",
                                    true,
                                    false,
                                    nullptr};
}

dbTableLicenses::dbTableLicenses(Database* db) : dbRecord(db, kTable) {}

dbTableLicenses::dbTableLicenses(Database* db, Query* q) : dbRecord(db, kTable) {
    spawn(q);
}

dbTableLicenses::dbTableLicenses(Database& db, const std::string& key) : dbRecord(&db, kTable) {
    spawn("select * from cordal_licenses where routerid='" + Query::safestr(key) + "'");
}

dbTableLicenses::dbTableLicenses(Database* db, const std::string& sql) : dbRecord(db, kTable) {
    spawn(sql);
}

dbTableLicenses* dbTableLicenses::clear() {
    clearValues();
    return this;
}

void dbTableLicenses::update(const std::string& key) {
    updateWhere(keyIs(key));
}

std::vector<dbRecord::Column> dbTableLicenses::columns() {
    return {col("routerid", routerid), col("serialnr", serialnr), col("pin", pin), col("lickey", lickey),
            col("type", type)};
}
