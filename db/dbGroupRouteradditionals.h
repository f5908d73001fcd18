#pragma once
#include <memory>
#include <string>
#include <vector>

class Database;
class Cordal_router_additionals;

// dbGroupRouteradditionals loads and owns every additional variable of one
// router. The getters answer "nostring" for an index that is not below the
// count.
class dbGroupRouteradditionals {
public:
    dbGroupRouteradditionals(Database* db, unsigned long routerid);
    ~dbGroupRouteradditionals();
    dbGroupRouteradditionals(const dbGroupRouteradditionals&) = delete;
    dbGroupRouteradditionals& operator=(const dbGroupRouteradditionals&) = delete;

    unsigned long getNumParams() const { return count; }
    std::string getTagAt(unsigned long i);       // varname
    std::string getValueAt(unsigned long i);     // data
    std::string getPasswordAt(unsigned long i);  // pwd

private:
    Cordal_router_additionals* at(unsigned long i);

    Database* database;
    std::vector<std::unique_ptr<Cordal_router_additionals>> records;
    unsigned long count = 0;
    Cordal_router_additionals* current = nullptr;  // the record last returned
};
