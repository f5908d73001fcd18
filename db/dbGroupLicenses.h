#pragma once
#include <memory>
#include <string>
#include <vector>

class Database;
class dbTableLicenses;

// dbGroupLicenses loads and owns every licence of one router, keyed by the
// router's serial number. The getters answer "nostring" for an index that
// is not below the count.
class dbGroupLicenses {
public:
    dbGroupLicenses(Database* db, std::string key);
    ~dbGroupLicenses();
    dbGroupLicenses(const dbGroupLicenses&) = delete;
    dbGroupLicenses& operator=(const dbGroupLicenses&) = delete;

    unsigned long getNumParams() const { return count; }
    std::string getSerialAt(unsigned long i);  // serialnr
    std::string getKeyAt(unsigned long i);     // lickey

private:
    dbTableLicenses* at(unsigned long i);

    Database* database;
    std::vector<std::unique_ptr<dbTableLicenses>> records;
    unsigned long count = 0;
    dbTableLicenses* current = nullptr;  // the record last returned
};
