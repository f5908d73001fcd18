#include "db/dbGroupLicenses.h"

#include "db/Query.h"
#include "db/dbTableLicenses.h"

dbGroupLicenses::dbGroupLicenses(Database* db, std::string key) {
    Query q(db);
    // Serial numbers come from the devices: every value is escaped, the key
    // as well as those read back from the table.
    if (!q.get_result("SELECT routerid, serialnr FROM cordal_licenses WHERE routerid= '" + Query::safestr(key) + "'"))
        return;
    while (q.fetch_row()) {
        std::string sql = "SELECT * FROM cordal_licenses WHERE routerid='" + Query::safestr(q.getstring(0)) +
                          "' AND serialnr='" + Query::safestr(q.getstring(1)) + "'";
        records.push_back(std::make_unique<dbTableLicenses>(db, sql));
    }
    q.free_result();
}

dbGroupLicenses::~dbGroupLicenses() = default;

std::string dbGroupLicenses::getSerialAt(unsigned long i) const {
    return fieldAt(i, &dbTableLicenses::serialnr);
}

std::string dbGroupLicenses::getKeyAt(unsigned long i) const {
    return fieldAt(i, &dbTableLicenses::lickey);
}
