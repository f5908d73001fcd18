#pragma once
#include <string>

#include "db/dbRecord.h"

// Cordal_router_additionals is one additional template variable of a router
// (table cordal_router_additionals, key id): tag varname, value data, and
// pwd marking a password value. pwd is read but never written and left out
// of the XML rendering.
class Cordal_router_additionals : public dbRecord {
public:
    explicit Cordal_router_additionals(Database* db);
    Cordal_router_additionals(Database* db, Query* q);
    Cordal_router_additionals(Database& db, unsigned long id);
    Cordal_router_additionals(Database& db, unsigned long routerid, const std::string& varname);
    Cordal_router_additionals(Database* db, const std::string& sql);

    static int num_cols() { return 5; }
    Cordal_router_additionals* clear();
    void update(unsigned long key);
    void update() override { update(id); }

    unsigned long id = 0;
    unsigned long routerid = 0;
    std::string varname;
    std::string data;
    std::string pwd;

protected:
    std::vector<Column> columns() override;
};
