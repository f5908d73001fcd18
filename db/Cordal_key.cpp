#include "db/Cordal_key.h"

namespace {
const dbRecord::TableInfo kTable = {
    "cordal_key", "id", "INSERT INTO cordal_key(", " VALUES(", "UPDATE cordal_key SET ", " WHERE ", true, false, "id"};
}

Cordal_key::Cordal_key(Database* db) : dbRecord(db, kTable), algorithm(algorithms) {
    clearValues();
}

Cordal_key::Cordal_key(Database* db, Query* q) : Cordal_key(db) {
    spawn(q);
}

Cordal_key::Cordal_key(Database& db, unsigned long key) : Cordal_key(&db) {
    spawn("select * from cordal_key where " + keyIs(key));
}

Cordal_key::Cordal_key(Database* db, const std::string& sql) : Cordal_key(db) {
    spawn(sql);
}

void Cordal_key::clearValues() {
    algorithms = {{"RSA", 1}, {"DSA", 2}};
    dbRecord::clearValues();
}

Cordal_key* Cordal_key::clear() {
    clearValues();
    return this;
}

void Cordal_key::update(unsigned long key) {
    updateWhere(keyIs(key));
}

std::vector<dbRecord::Column> Cordal_key::columns() {
    return {col("id", id),
            col("description", description),
            col("algorithm", algorithm),
            col("length", length),
            col("passphrase", passphrase),
            col("data", data),
            col("routerid", routerid),
            col("subjectname", subjectname),
            col("authorityname", authorityname),
            col("rsaexponent", rsaexponent),
            col("altnames", altnames)};
}
