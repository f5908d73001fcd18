#include "db/Cordal_contacts.h"

namespace {
const dbRecord::TableInfo kTable = {"cordal_contacts",
                                    "id",
                                    "INSERT INTO cordal_contacts(",
                                    " VALUES(",
                                    "UPDATE cordal_contacts SET ",
                                    " WHERE ",
                                    true,
                                    false,
                                    "id"};
}

Cordal_contacts::Cordal_contacts(Database* db) : dbRecord(db, kTable) {}

Cordal_contacts::Cordal_contacts(Database* db, Query* q) : dbRecord(db, kTable) {
    spawn(q);
}

Cordal_contacts::Cordal_contacts(Database& db, unsigned long customer) : dbRecord(&db, kTable) {
    spawn("select * from cordal_contacts where customerid='" + std::to_string(customer) + "'" + " order by id asc");
}

Cordal_contacts::Cordal_contacts(Database* db, const std::string& sql) : dbRecord(db, kTable) {
    spawn(sql);
}

Cordal_contacts* Cordal_contacts::clear() {
    clearValues();
    return this;
}

void Cordal_contacts::update(unsigned long key) {
    updateWhere(keyIs(key));
}

std::vector<dbRecord::Column> Cordal_contacts::columns() {
    return {col("id", id),
            col("customerid", customerid),
            col("anrede", anrede),
            col("vorname", vorname),
            col("nachname", nachname),
            col("firma", firma),
            col("gebdat", gebdat),
            col("email", email),
            col("phone1", phone1),
            col("phone2", phone2),
            col("fax", fax),
            col("strasse", strasse),
            col("ort", ort),
            col("plz", plz),
            col("bemerkung", bemerkung)};
}
