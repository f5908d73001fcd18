#pragma once
#include <string>

#include "db/dbRecord.h"

// Cordal_contacts is one contact person of a customer (table
// cordal_contacts, key id). Loading by customer id gives the customer's
// first contact (lowest id).
class Cordal_contacts : public dbRecord {
public:
    explicit Cordal_contacts(Database* db);
    Cordal_contacts(Database* db, Query* q);
    Cordal_contacts(Database& db, unsigned long customerid);
    Cordal_contacts(Database* db, const std::string& sql);

    static int num_cols() { return 15; }
    Cordal_contacts* clear();
    void update(unsigned long key);
    void update() override { update(id); }

    unsigned long id = 0;
    unsigned long customerid = 0;
    std::string anrede, vorname, nachname, firma, gebdat, email, phone1, phone2, fax, strasse, ort, plz, bemerkung;

protected:
    std::vector<Column> columns() override;
};
