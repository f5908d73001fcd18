#pragma once
#include <map>
#include <string>

#include "db/dbRecord.h"
#include "db/enum_t.h"

// Cordal_key is one key of cordal_key (key id): key material with its
// algorithm ("RSA" 1, "DSA" 2), length, passphrase and certificate names.
class Cordal_key : public dbRecord {
public:
    explicit Cordal_key(Database* db);
    Cordal_key(Database* db, Query* q);
    Cordal_key(Database& db, unsigned long id);
    Cordal_key(Database* db, const std::string& sql);

    static int num_cols() { return 11; }
    // Rebuilds the algorithm table and sets the four numbers to 0.
    Cordal_key* clear();
    void update(unsigned long key);
    void update() override { update(id); }

    std::map<std::string, unsigned long long> algorithms;  // before algorithm, which refers to it

    unsigned long id = 0;
    std::string description;
    enum_t algorithm;
    long length = 0;
    std::string passphrase;
    std::string data;
    unsigned long routerid = 0;
    std::string subjectname;
    std::string authorityname;
    unsigned long rsaexponent = 0;
    std::string altnames;

protected:
    std::vector<Column> columns() override;
    void clearValues() override;
};
