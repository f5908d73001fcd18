#pragma once
#include <string>

#include "db/dbGroup.h"

class Database;
class dbTableLicenses;

// dbGroupLicenses loads and owns every licence of one router, keyed by the
// router's serial number. The getters answer "nostring" for an index that
// is not below the count.
class dbGroupLicenses : public dbGroup<dbTableLicenses> {
public:
    dbGroupLicenses(Database* db, std::string key);
    ~dbGroupLicenses();

    std::string getSerialAt(unsigned long i) const;  // serialnr
    std::string getKeyAt(unsigned long i) const;     // lickey
};
