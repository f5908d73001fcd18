#pragma once
#include <string>

#include "db/dbRecord.h"

// Cordal_customer is one customer (project) of cordal_customer, key id.
class Cordal_customer : public dbRecord {
public:
    explicit Cordal_customer(Database* db);
    Cordal_customer(Database* db, Query* q);
    Cordal_customer(Database& db, unsigned long id);
    Cordal_customer(Database& db, unsigned long id, const std::string& firma);  // both must match
    Cordal_customer(Database* db, const std::string& sql);

    static int num_cols() { return 5; }
    Cordal_customer* clear();
    void update(unsigned long key);
    void update() override { update(id); }

    unsigned long id = 0;
    std::string firma;
    std::string kurzname;
    std::string description;
    std::string security;

protected:
    std::vector<Column> columns() override;
};
