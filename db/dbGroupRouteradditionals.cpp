#include "db/dbGroupRouteradditionals.h"

#include "db/Cordal_router_additionals.h"
#include "db/Query.h"

dbGroupRouteradditionals::dbGroupRouteradditionals(Database* db, unsigned long routerid) {
    if (!db) return;
    Query q(db);
    // In the order the variables were created, whatever index the server picks.
    if (!q.get_result("SELECT id FROM cordal_router_additionals WHERE routerid= '" +
                      std::to_string(static_cast<long>(routerid)) + "'" + " ORDER BY id"))
        return;
    while (q.fetch_row()) records.push_back(std::make_unique<Cordal_router_additionals>(*db, q.getuval(0)));
    q.free_result();
}

dbGroupRouteradditionals::~dbGroupRouteradditionals() = default;

std::string dbGroupRouteradditionals::getTagAt(unsigned long i) const {
    return fieldAt(i, &Cordal_router_additionals::varname);
}

std::string dbGroupRouteradditionals::getValueAt(unsigned long i) const {
    return fieldAt(i, &Cordal_router_additionals::data);
}

std::string dbGroupRouteradditionals::getPasswordAt(unsigned long i) const {
    return fieldAt(i, &Cordal_router_additionals::pwd);
}
