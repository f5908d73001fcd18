// Router types, releases, additional variables, contacts, customers, keys,
// licences and the two groups, against the private server.
#include <gtest/gtest.h>

#include <string>

#include "db/Cordal_contacts.h"
#include "db/Cordal_customer.h"
#include "db/Cordal_key.h"
#include "db/Cordal_router_additionals.h"
#include "db/Cordal_routertypes.h"
#include "db/Cordal_swrelease.h"
#include "db/Database.h"
#include "db/dbGroupLicenses.h"
#include "db/dbGroupRouteradditionals.h"
#include "db/dbTableLicenses.h"
#include "tests/db/DbTestHelpers.h"
#include "tests/dbsupport/TestDatabase.h"
#include "util/logEngine.h"

using dbtest::hasLine;
using dbtest::hostileText;
using testdb::TestDatabase;

namespace {
class RefRecords : public ::testing::Test {
protected:
    TestDatabase tdb;
    logEngine log{true};
    Database db{tdb.host(), tdb.user(), tdb.password(), tdb.name(), &log};
    void TearDown() override { dbtest::printLogIfFailed(log); }
};
}  // namespace

TEST_F(RefRecords, RouterTypeByShortname) {
    Cordal_routertypes fresh(&db);
    fresh.shortname = "NX-4'00";
    fresh.ifindexoffset = 4000000000ul;
    fresh.os = "NEXA";
    EXPECT_EQ(fresh.insert(), 0u);  // no insert id for a text key
    EXPECT_TRUE(fresh.lastOk());

    Cordal_routertypes type(db, "NX-4'00");
    EXPECT_EQ(type.shortname, "NX-4'00");
    EXPECT_EQ(type.ifindexoffset, 4000000000ul);
    EXPECT_EQ(type.os, "NEXA");
    EXPECT_EQ(type.newRecord, 0);
    EXPECT_EQ(type.xml(),
              "<CORDAL_ROUTERTYPES><SHORTNAME>NX-4&apos;00</SHORTNAME><IFINDEXOFFSET>4000000000</IFINDEXOFFSET>"
              "<OS>NEXA</OS></CORDAL_ROUTERTYPES>");
    // Names are byte strings: another letter case or a trailing blank is another type.
    EXPECT_EQ(Cordal_routertypes(db, "nx-4'00").shortname, "");
    EXPECT_EQ(Cordal_routertypes(db, "NX-4'00 ").shortname, "");

    type.os = "qx.CLI";
    type.save();
    EXPECT_EQ(tdb.value("SELECT os FROM cordal_routertypes"), "qx.CLI");
    type.shortname = "NX-500";
    type.update("NX-4'00");  // renames the row
    EXPECT_EQ(tdb.value("SELECT shortname FROM cordal_routertypes"), "NX-500");
    type.erase();
    EXPECT_EQ(tdb.count("cordal_routertypes"), 0);
}

TEST_F(RefRecords, SoftwareReleaseQuotesEveryValue) {
    Cordal_swrelease fresh(&log, false, "/nonexistent/", &db);
    fresh.name = "rel 'one'";
    fresh.routertype = "NX-400";
    fresh.customerid = 12;
    fresh.logic = "logic.bin";
    fresh.bootmonitor = "boot.bin";
    fresh.nexa = "nexa.img";
    fresh.globalmaster = "master.cfg";
    fresh.dsllogic = "dsl.bin";
    fresh.module2 = "m2";
    fresh.module3 = "m3";
    fresh.module4 = dbtest::hostileShortText();
    unsigned long long id = fresh.insert();
    ASSERT_TRUE(fresh.lastOk());
    ASSERT_NE(id, 0u);
    EXPECT_EQ(fresh.id, id);

    Cordal_swrelease byName(&log, false, "/nonexistent/", db, std::string("rel 'one'"));
    EXPECT_EQ(byName.id, id);
    EXPECT_EQ(byName.customerid, 12u);
    EXPECT_EQ(byName.module4, dbtest::hostileShortText());
    EXPECT_EQ(byName.nexaVersion, "");
    Cordal_swrelease byId(&log, false, "/nonexistent/", db, static_cast<unsigned long>(id));
    EXPECT_EQ(byId.name, "rel 'one'");
    EXPECT_EQ(byId.nexa, "nexa.img");
    Cordal_swrelease missing(&log, true, "/nonexistent", db, std::string("no such release"));
    EXPECT_EQ(missing.id, 0u);
    EXPECT_EQ(missing.transferDir, "/nonexistent/");

    byName.customerid = 13;
    byName.update();  // addressed by name
    EXPECT_EQ(tdb.value("SELECT customerid FROM cordal_swrelease"), "13");
    EXPECT_NE(byName.xml().find("<CUSTOMERID>13</CUSTOMERID>"), std::string::npos);

    // Numbers travel between apostrophes, as the log of a refused statement shows.
    tdb.exec("DROP TABLE cordal_swrelease");
    byName.insert();
    EXPECT_FALSE(byName.lastOk());
    EXPECT_TRUE(hasLine(log,
                        "DBG - query failed: INSERT INTO cordal_swrelease (id,name,routertype,customerid,logic,"
                        "bootmonitor,nexa,globalmaster,dsllogic,module2,module3,module4) VALUES ('" +
                            std::to_string(id) + "', 'rel \\'one\\'', 'NX-400', '13', 'logic.bin'"));
    byName.update();
    EXPECT_TRUE(hasLine(log,
                        "DBG - query failed: UPDATE cordal_swrelease SET id='0', name='rel \\'one\\'', "
                        "routertype='NX-400', customerid='13', logic="));
    EXPECT_TRUE(hasLine(log, "WHERE name='rel \\'one\\''"));
    byName.erase();
    EXPECT_TRUE(hasLine(log, "DBG - query failed: DELETE FROM cordal_swrelease WHERE name='rel \\'one\\''"));
}

TEST_F(RefRecords, AdditionalsNeverWriteTheirPasswordMark) {
    tdb.exec(
        "INSERT INTO cordal_router_additionals (routerid, varname, data, pwd) VALUES "
        "(7, 'snmp''s', 'v1', '1'), (7, 'other', 'v2', ''), (8, 'snmp''s', 'elsewhere', '')");
    Cordal_router_additionals byName(db, 7, "snmp's");
    ASSERT_NE(byName.id, 0u);
    EXPECT_EQ(byName.data, "v1");
    EXPECT_EQ(byName.pwd, "1");
    Cordal_router_additionals byId(db, byName.id);
    EXPECT_EQ(byId.varname, "snmp's");

    byId.data = hostileText();
    byId.pwd = "changed";
    byId.save();
    EXPECT_EQ(tdb.value("SELECT data FROM cordal_router_additionals WHERE id=" + std::to_string(byId.id)),
              hostileText());
    EXPECT_EQ(tdb.value("SELECT pwd FROM cordal_router_additionals WHERE id=" + std::to_string(byId.id)), "1");
    EXPECT_EQ(byId.xml().find("<PWD>"), std::string::npos);
    EXPECT_NE(byId.xml().find("<VARNAME>snmp&apos;s</VARNAME>"), std::string::npos);

    Cordal_router_additionals fresh(&db);
    fresh.routerid = 9;
    fresh.varname = "x";
    fresh.pwd = "1";
    fresh.insert();
    EXPECT_EQ(tdb.value("SELECT pwd FROM cordal_router_additionals WHERE routerid=9"), "");

    dbGroupRouteradditionals group(&db, 7);
    ASSERT_EQ(group.getNumParams(), 2u);
    EXPECT_EQ(group.getTagAt(0), "snmp's");
    EXPECT_EQ(group.getValueAt(0), hostileText());
    EXPECT_EQ(group.getPasswordAt(0), "1");
    EXPECT_EQ(group.getTagAt(1), "other");
    EXPECT_EQ(group.getTagAt(2), "nostring");
    EXPECT_EQ(group.getValueAt(2), "nostring");
    EXPECT_EQ(group.getPasswordAt(99), "nostring");
    EXPECT_EQ(dbGroupRouteradditionals(&db, 99).getNumParams(), 0u);
    EXPECT_EQ(dbGroupRouteradditionals(nullptr, 7).getNumParams(), 0u);
}

TEST_F(RefRecords, ContactsCustomersAndKeys) {
    tdb.exec("INSERT INTO cordal_contacts (id, customerid, nachname) VALUES (20, 5, 'second'), (10, 5, 'first')");
    Cordal_contacts contact(db, 5);
    EXPECT_EQ(contact.id, 10u);  // the customer's first contact
    EXPECT_EQ(contact.nachname, "first");
    contact.bemerkung = hostileText();
    contact.strasse =
        "Hauptstra\xdf"
        "e 1";
    contact.save();
    Cordal_contacts again(&db, "SELECT * FROM cordal_contacts WHERE id=10");
    EXPECT_EQ(again.bemerkung, hostileText());
    EXPECT_EQ(again.strasse,
              "Hauptstra\xdf"
              "e 1");
    EXPECT_EQ(Cordal_contacts::num_cols(), 15);
    EXPECT_EQ(again.xml().rfind("<CORDAL_CONTACTS><ID>10</ID><CUSTOMERID>5</CUSTOMERID><ANREDE></ANREDE>", 0), 0u);
    EXPECT_EQ(Cordal_contacts(db, 6).id, 0u);

    Cordal_customer customer(&db);
    customer.firma = "O'Neil & Sons";
    customer.kurzname = "ONS";
    customer.description = "line\nbreak";
    customer.insert();
    ASSERT_NE(customer.id, 0u);
    EXPECT_EQ(Cordal_customer(db, customer.id).firma, "O'Neil & Sons");
    EXPECT_EQ(Cordal_customer(db, customer.id, "O'Neil & Sons").description, "line\nbreak");
    EXPECT_EQ(Cordal_customer(db, customer.id, "Other").id, 0u);
    EXPECT_EQ(customer.xml(), "<CORDAL_CUSTOMER><ID>" + std::to_string(customer.id) +
                                  "</ID><FIRMA>O&apos;Neil &amp; Sons</FIRMA><KURZNAME>ONS</KURZNAME>"
                                  "<DESCRIPTION>line\nbreak</DESCRIPTION><SECURITY></SECURITY></CORDAL_CUSTOMER>");
    customer.erase();
    EXPECT_EQ(tdb.count("cordal_customer"), 0);

    Cordal_key key(&db);
    key.description = "router key";
    key.algorithm = std::string("DSA");
    key.length = -1;
    key.data = "-----BEGIN KEY-----\n" + hostileText() + "\n-----END KEY-----\n";
    key.routerid = 3;
    key.rsaexponent = 65537;
    key.insert();
    ASSERT_TRUE(key.lastOk());
    Cordal_key loaded(db, key.id);
    EXPECT_EQ(loaded.algorithm.Value(), 2);
    EXPECT_EQ(loaded.algorithm.String(), "DSA");
    EXPECT_EQ(loaded.length, -1);
    EXPECT_EQ(loaded.data, key.data);
    EXPECT_EQ(loaded.rsaexponent, 65537u);
    EXPECT_NE(loaded.xml().find("<ALGORITHM>DSA</ALGORITHM><LENGTH>-1</LENGTH>"), std::string::npos);
    // An algorithm the table does not know is kept as written.
    tdb.exec("UPDATE cordal_key SET algorithm='ECDSA'");
    loaded.spawn("SELECT * FROM cordal_key");
    EXPECT_EQ(loaded.algorithm.Value(), 0);
    loaded.save();
    EXPECT_EQ(tdb.value("SELECT algorithm FROM cordal_key"), "ECDSA");
    // clear() forgets learnt names and the four numbers.
    loaded.clear();
    EXPECT_EQ(loaded.algorithms.size(), 2u);
    EXPECT_EQ(loaded.id, 0u);
    EXPECT_EQ(loaded.length, 0);
    EXPECT_EQ(loaded.routerid, 0u);
    EXPECT_EQ(loaded.rsaexponent, 0u);
    EXPECT_EQ(loaded.data, key.data);
}

TEST_F(RefRecords, LicencesAreEscapedAndAddressedBySerialNumber) {
    const std::string serial = "O'Brien\\";
    tdb.exec("INSERT INTO cordal_licenses (routerid, serialnr, pin, lickey, type) VALUES (" +
             TestDatabase::quote(serial) +
             ", 'L''1', '1234', 'KEY-1', 'vpn'), ('other', 'L2', '', 'KEY-2', 'voip'), "
             "('x', 'dup', '', 'first', ''), ('x', 'dup', '', 'second', '')");
    dbGroupLicenses group(&db, serial);
    ASSERT_EQ(group.getNumParams(), 1u);
    EXPECT_EQ(group.getSerialAt(0), "L'1");
    EXPECT_EQ(group.getKeyAt(0), "KEY-1");
    EXPECT_EQ(group.getKeyAt(1), "nostring");
    EXPECT_EQ(group.getSerialAt(1), "nostring");
    EXPECT_FALSE(hasLine(log, "query failed"));

    // A serial number that tries to widen the statement matches nothing.
    EXPECT_EQ(dbGroupLicenses(&db, "' OR ''='").getNumParams(), 0u);
    EXPECT_EQ(dbGroupLicenses(&db, "x' OR routerid<>'").getNumParams(), 0u);
    dbGroupLicenses none(&db, "no licences");
    EXPECT_EQ(none.getNumParams(), 0u);
    EXPECT_EQ(none.getKeyAt(0), "nostring");
    // Two rows with one serial number: both entries load the first row.
    dbGroupLicenses dup(&db, "x");
    ASSERT_EQ(dup.getNumParams(), 2u);
    EXPECT_EQ(dup.getKeyAt(0), dup.getKeyAt(1));

    dbTableLicenses licence(db, serial);
    EXPECT_EQ(licence.serialnr, "L'1");
    EXPECT_EQ(licence.newRecord, 0);
    EXPECT_EQ(licence.xml(),
              "<CORDAL_LICENSES><ROUTERID>O&apos;Brien\\</ROUTERID><SERIALNR>L&apos;1</SERIALNR>"
              "<PIN>1234</PIN><LICKEY>KEY-1</LICKEY><TYPE>vpn</TYPE></CORDAL_LICENSES>");
    // Updating rewrites every licence row of that serial number.
    dbTableLicenses xLicence(db, "x");
    xLicence.lickey = "rewritten";
    xLicence.update();
    EXPECT_EQ(tdb.count("cordal_licenses", "routerid='x' AND lickey='rewritten'"), 2);
    xLicence.erase();
    EXPECT_EQ(tdb.count("cordal_licenses", "routerid='x'"), 0);
    EXPECT_EQ(tdb.count("cordal_licenses"), 2);

    dbTableLicenses fresh(&db);
    fresh.routerid = "SN-9";
    fresh.lickey = hostileText();
    EXPECT_EQ(fresh.insert(), 0u);
    EXPECT_TRUE(fresh.lastOk());
    EXPECT_EQ(dbGroupLicenses(&db, "SN-9").getKeyAt(0), hostileText());
}
