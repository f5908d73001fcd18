#pragma once
#include <string>

#include "db/dbRecord.h"

// Cordal_routertypes is one router type of cordal_routertypes, keyed by its
// shortname (the router's model). os names the device family (read by
// util/DeviceFamily). A load found its row when shortname equals the name asked for.
class Cordal_routertypes : public dbRecord {
public:
    explicit Cordal_routertypes(Database* db);
    Cordal_routertypes(Database* db, Query* q);
    Cordal_routertypes(Database& db, const std::string& shortname);
    Cordal_routertypes(Database* db, const std::string& sql);

    static int num_cols() { return 3; }
    Cordal_routertypes* clear();
    void update(const std::string& key);
    void update() override { update(shortname); }

    std::string shortname;
    unsigned long ifindexoffset = 0;
    std::string os;

protected:
    std::vector<Column> columns() override;
};
