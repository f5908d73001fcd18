#include "db/Cordal_customer.h"

#include "db/Query.h"

namespace {
const dbRecord::TableInfo kTable = {"cordal_customer",
                                    "id",
                                    "INSERT INTO cordal_customer(",
                                    " VALUES(",
                                    "UPDATE cordal_customer SET ",
                                    " WHERE ",
                                    true,
                                    false,
                                    "id"};
}

Cordal_customer::Cordal_customer(Database* db) : dbRecord(db, kTable) {}

Cordal_customer::Cordal_customer(Database* db, Query* q) : dbRecord(db, kTable) {
    spawn(q);
}

Cordal_customer::Cordal_customer(Database& db, unsigned long key) : dbRecord(&db, kTable) {
    spawn("select * from cordal_customer where " + keyIs(key));
}

Cordal_customer::Cordal_customer(Database& db, unsigned long key, const std::string& company) : dbRecord(&db, kTable) {
    spawn("select * from cordal_customer where " + keyIs(key) + " and firma='" + Query::safestr(company) + "'");
}

Cordal_customer::Cordal_customer(Database* db, const std::string& sql) : dbRecord(db, kTable) {
    spawn(sql);
}

Cordal_customer* Cordal_customer::clear() {
    clearValues();
    return this;
}

void Cordal_customer::update(unsigned long key) {
    updateWhere(keyIs(key));
}

std::vector<dbRecord::Column> Cordal_customer::columns() {
    return {col("id", id), col("firma", firma), col("kurzname", kurzname), col("description", description),
            col("security", security)};
}
