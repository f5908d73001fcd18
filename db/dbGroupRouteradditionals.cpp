#include "db/dbGroupRouteradditionals.h"

#include "db/Cordal_router_additionals.h"
#include "db/Query.h"

dbGroupRouteradditionals::dbGroupRouteradditionals(Database* db, unsigned long routerid) : database(db) {
    if (!database) return;
    Query q(database);
    // In the order the variables were created, whatever index the server picks.
    if (!q.get_result("SELECT id FROM cordal_router_additionals WHERE routerid= '" +
                      std::to_string(static_cast<long>(routerid)) + "'" + " ORDER BY id"))
        return;
    while (q.fetch_row()) {
        records.push_back(std::make_unique<Cordal_router_additionals>(*database, q.getuval(0)));
        ++count;
    }
    q.free_result();
}

dbGroupRouteradditionals::~dbGroupRouteradditionals() = default;

Cordal_router_additionals* dbGroupRouteradditionals::at(unsigned long i) {
    if (i >= count) return nullptr;
    current = records[i].get();
    return current;
}

std::string dbGroupRouteradditionals::getTagAt(unsigned long i) {
    Cordal_router_additionals* record = at(i);
    return record ? record->varname : "nostring";
}

std::string dbGroupRouteradditionals::getValueAt(unsigned long i) {
    Cordal_router_additionals* record = at(i);
    return record ? record->data : "nostring";
}

std::string dbGroupRouteradditionals::getPasswordAt(unsigned long i) {
    Cordal_router_additionals* record = at(i);
    return record ? record->pwd : "nostring";
}
