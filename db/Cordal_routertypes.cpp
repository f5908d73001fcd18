#include "db/Cordal_routertypes.h"

#include "db/Query.h"

namespace {
const dbRecord::TableInfo kTable = {"cordal_routertypes",
                                    "shortname",
                                    "INSERT INTO cordal_routertypes(",
                                    " VALUES(",
                                    "UPDATE cordal_routertypes SET ",
                                    " WHERE ",
                                    true,
                                    false,
                                    nullptr};
}

Cordal_routertypes::Cordal_routertypes(Database* db) : dbRecord(db, kTable) {}

Cordal_routertypes::Cordal_routertypes(Database* db, Query* q) : dbRecord(db, kTable) {
    spawn(q);
}

Cordal_routertypes::Cordal_routertypes(Database& db, const std::string& name) : dbRecord(&db, kTable) {
    spawn("SELECT * FROM cordal_routertypes WHERE shortname='" + Query::safestr(name) + "'");
}

Cordal_routertypes::Cordal_routertypes(Database* db, const std::string& sql) : dbRecord(db, kTable) {
    spawn(sql);
}

Cordal_routertypes* Cordal_routertypes::clear() {
    clearValues();
    return this;
}

void Cordal_routertypes::update(const std::string& key) {
    updateWhere(keyIs(key));
}

std::vector<dbRecord::Column> Cordal_routertypes::columns() {
    return {col("shortname", shortname), col("ifindexoffset", ifindexoffset), col("os", os)};
}
