#pragma once
#include <string>

#include "db/dbGroup.h"

class Database;
class Cordal_router_additionals;

// dbGroupRouteradditionals loads and owns every additional variable of one
// router. The getters answer "nostring" for an index that is not below the
// count.
class dbGroupRouteradditionals : public dbGroup<Cordal_router_additionals> {
public:
    dbGroupRouteradditionals(Database* db, unsigned long routerid);
    ~dbGroupRouteradditionals();

    std::string getTagAt(unsigned long i) const;       // varname
    std::string getValueAt(unsigned long i) const;     // data
    std::string getPasswordAt(unsigned long i) const;  // pwd
};
