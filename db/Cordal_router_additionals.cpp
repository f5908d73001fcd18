#include "db/Cordal_router_additionals.h"

#include "db/Query.h"

namespace {
const dbRecord::TableInfo kTable = {"cordal_router_additionals",
                                    "id",
                                    "INSERT INTO cordal_router_additionals(",
                                    " VALUES(",
                                    "UPDATE cordal_router_additionals SET ",
                                    " WHERE ",
                                    true,
                                    false,
                                    "id"};
}

Cordal_router_additionals::Cordal_router_additionals(Database* db) : dbRecord(db, kTable) {}

Cordal_router_additionals::Cordal_router_additionals(Database* db, Query* q) : dbRecord(db, kTable) {
    spawn(q);
}

Cordal_router_additionals::Cordal_router_additionals(Database& db, unsigned long key) : dbRecord(&db, kTable) {
    spawn("select * from cordal_router_additionals where " + keyIs(key));
}

Cordal_router_additionals::Cordal_router_additionals(Database& db, unsigned long router, const std::string& name)
    : dbRecord(&db, kTable) {
    spawn("select * from cordal_router_additionals where routerid='" + std::to_string(router) + "'" + " and varname='" +
          Query::safestr(name) + "'");
}

Cordal_router_additionals::Cordal_router_additionals(Database* db, const std::string& sql) : dbRecord(db, kTable) {
    spawn(sql);
}

Cordal_router_additionals* Cordal_router_additionals::clear() {
    clearValues();
    return this;
}

void Cordal_router_additionals::update(unsigned long key) {
    updateWhere(keyIs(key));
}

std::vector<dbRecord::Column> Cordal_router_additionals::columns() {
    return {col("id", id), col("routerid", routerid), col("varname", varname), col("data", data),
            col("pwd", pwd, NotWritten | NoXml)};
}
