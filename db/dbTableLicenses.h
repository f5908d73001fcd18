#pragma once
#include <string>

#include "db/dbRecord.h"

// dbTableLicenses is one feature licence of cordal_licenses. Its key
// routerid is the router's serial number (seriennr), not its numeric id, and
// is shared by all licences of that router: update(key) and erase() address
// every row of that serial number.
class dbTableLicenses : public dbRecord {
public:
    explicit dbTableLicenses(Database* db);
    dbTableLicenses(Database* db, Query* q);
    dbTableLicenses(Database& db, const std::string& routerid);
    dbTableLicenses(Database* db, const std::string& sql);

    static int num_cols() { return 5; }
    dbTableLicenses* clear();
    void update(const std::string& key);
    void update() override { update(routerid); }

    std::string routerid;
    std::string serialnr;
    std::string pin;
    std::string lickey;
    std::string type;

protected:
    std::vector<Column> columns() override;
};
