// The router record: by-name load, optional columns, numbered variables.
#include "db/Cordal_router.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "db/Database.h"
#include "db/Query.h"
#include "tests/db/DbTestHelpers.h"
#include "tests/dbsupport/TestDatabase.h"
#include "util/logEngine.h"

using dbtest::hasLine;
using dbtest::hostileShortText;
using testdb::Schema;
using testdb::TestDatabase;

namespace {

class RouterRecord : public ::testing::Test {
protected:
    explicit RouterRecord(Schema schema = Schema::Full) : tdb(schema) {}
    TestDatabase tdb;
    logEngine log{true};
    Database db{tdb.host(), tdb.user(), tdb.password(), tdb.name(), &log};
    void TearDown() override { dbtest::printLogIfFailed(log); }

    std::string column(unsigned long id, const std::string& name) {
        return tdb.value("SELECT " + name + " FROM cordal_router WHERE id=" + std::to_string(id));
    }
};

class OldRouterTable : public RouterRecord {
protected:
    OldRouterTable() : RouterRecord(Schema::WithoutOptionalRouterColumns) {}
};

// Every text member of a router, in table order, with the value a test gives it.
void fillTexts(Cordal_router& r, const std::string& seed) {
    std::string* texts[] = {&r.name,
                            &r.vendor,
                            &r.lupdate,
                            &r.model,
                            &r.osrel,
                            &r.user,
                            &r.pass,
                            &r.configtype,
                            &r.globalmaster,
                            &r.custommaster,
                            &r.downloadedmaster,
                            &r.isdnlkz,
                            &r.isdntrunk,
                            &r.isdnprefix,
                            &r.isdncallprefix,
                            &r.isdnnumber,
                            &r.isdnextension,
                            &r.isdnnumber2,
                            &r.msnisdnlogin,
                            &r.msnisdnloginext,
                            &r.datexpnumber,
                            &r.ipnet,
                            &r.ipnumber,
                            &r.ipnetmask,
                            &r.ipgateway,
                            &r.ipdomain,
                            &r.ipsec,
                            &r.tmibadmadmincommunity,
                            &r.oldcommunity,
                            &r.tmibadmreadcommunity,
                            &r.tmibadmwritecommunity,
                            &r.tmibadmhttppassword,
                            &r.tmibdialnumberisdn,
                            &r.softwareimage,
                            &r.matchcode,
                            &r.seriennr,
                            &r.enabledispatch,
                            &r.var_01,
                            &r.var_02,
                            &r.var_03,
                            &r.var_04,
                            &r.var_05,
                            &r.macadress,
                            &r.locked,
                            &r.partno,
                            &r.ipmodetarget,
                            &r.swversion,
                            &r.savebackupcfg,
                            &r.imsi,
                            &r.ipfallbacknumber,
                            &r.startwithfallback,
                            &r.localipfortftp,
                            &r.localipforping,
                            &r.loopback};
    int i = 0;
    for (std::string* text : texts) *text = seed + std::to_string(i++);
}

}  // namespace

TEST_F(RouterRecord, RoundTripOfEveryColumn) {
    Cordal_router fresh(&db);
    fillTexts(fresh, hostileShortText());
    fresh.name = "Router O'Brien\\";
    fresh.customerid = 4000000000ul;
    fresh.accounting_written = -7;
    fresh.connectmethod = std::string("ISDN_IP");
    fresh.conntype_ip = std::string("SSH");
    fresh.sshport = 2222;  // never written
    unsigned long long id = fresh.insert();
    ASSERT_TRUE(fresh.lastOk());
    ASSERT_NE(id, 0u);
    EXPECT_EQ(column(fresh.id, "sshport"), "22");  // the table's default
    EXPECT_EQ(column(fresh.id, "var_03"), hostileShortText() + "39");

    Cordal_router byId(db, fresh.id);
    Cordal_router byName(db, std::string("Router O'Brien\\"));
    for (Cordal_router* r : {&byId, &byName}) {
        EXPECT_EQ(r->id, fresh.id);
        EXPECT_EQ(r->newRecord, 0);
        EXPECT_EQ(r->customerid, 4000000000ul);
        EXPECT_EQ(r->name, "Router O'Brien\\");
        EXPECT_EQ(r->vendor, hostileShortText() + "1");
        EXPECT_EQ(r->ipsec, hostileShortText() + "26");
        EXPECT_EQ(r->enabledispatch, hostileShortText() + "36");
        EXPECT_EQ(r->accounting_written, -7);
        EXPECT_EQ(r->partno, hostileShortText() + "44");
        EXPECT_EQ(r->connectmethod.Value(), 5);
        EXPECT_TRUE(r->conntype_ip == std::string("ssh"));
        EXPECT_EQ(r->ipmodetarget, hostileShortText() + "45");
        EXPECT_EQ(r->sshport, 22u);
        EXPECT_EQ(r->telnetport, 23u);
        EXPECT_EQ(r->loopback, hostileShortText() + "53");
        EXPECT_EQ(r->variables.size(), 5u);
        EXPECT_EQ(r->variables["var_05"], hostileShortText() + "41");
        EXPECT_EQ(r->passwordFlags.size(), 5u);
        EXPECT_EQ(r->passwordFlags.count("pwd_var_01"), 1u);
    }
    EXPECT_EQ(Cordal_router(db, std::string("Router O'Brien")).id, 0u);

    byName.swversion = "10.4.2";
    byName.seriennr = "SN'1";
    byName.telnetport = 2323;  // never written
    byName.save();
    ASSERT_TRUE(byName.lastOk());
    EXPECT_EQ(column(fresh.id, "swversion"), "10.4.2");
    EXPECT_EQ(column(fresh.id, "seriennr"), "SN'1");
    EXPECT_EQ(column(fresh.id, "telnetport"), "23");
    EXPECT_EQ(column(fresh.id, "conntype_ip"), "SSH");
    EXPECT_EQ(column(fresh.id, "connectmethod"), "ISDN_IP");
    EXPECT_EQ(tdb.count("cordal_router"), 1);

    std::string xml = byName.xml();
    EXPECT_EQ(xml.rfind("<CORDAL_ROUTER><ID>" + std::to_string(fresh.id) +
                            "</ID><CUSTOMERID>4000000000</CUSTOMERID>"
                            "<NAME>Router O&apos;Brien\\</NAME>",
                        0),
              0u);
    EXPECT_NE(xml.find("<ACCOUNTING_WRITTEN>-7</ACCOUNTING_WRITTEN>"), std::string::npos);
    EXPECT_NE(xml.find("<CONNECTMETHOD>ISDN_IP</CONNECTMETHOD>"), std::string::npos);
    EXPECT_NE(xml.find("<CONNTYPE_IP>SSH</CONNTYPE_IP><SWVERSION>10.4.2</SWVERSION>"), std::string::npos);
    EXPECT_EQ(xml.find("PORT>"), std::string::npos);
    size_t elements = 0;
    for (size_t pos = 0; (pos = xml.find("</", pos)) != std::string::npos; ++pos) ++elements;
    EXPECT_EQ(elements, 59u + 1u);  // 59 columns and the outer element

    byName.erase();
    EXPECT_EQ(tdb.count("cordal_router"), 0);
    Cordal_router gone(db, fresh.id);
    EXPECT_EQ(gone.id, 0u);
    EXPECT_EQ(gone.newRecord, 1);
}

TEST_F(RouterRecord, DefaultsOfARowThatNamesFewColumns) {
    tdb.exec("INSERT INTO cordal_router (name, ipnumber) VALUES ('minimal', '127.0.0.1')");
    Cordal_router r(db, std::string("minimal"));
    ASSERT_NE(r.id, 0u);
    EXPECT_EQ(r.ipnumber, "127.0.0.1");
    EXPECT_EQ(r.telnetport, 23u);
    EXPECT_EQ(r.sshport, 22u);
    EXPECT_EQ(r.conntype_ip.String(), "Telnet");
    EXPECT_EQ(r.savebackupcfg, "1");
    EXPECT_EQ(r.startwithfallback, "0");
    EXPECT_EQ(r.swversion, "unknown");
    EXPECT_EQ(r.ipfallbacknumber, "");  // empty: no fallback address
    EXPECT_EQ(r.localipforping, "");
    EXPECT_EQ(r.connectmethod.String(), "");
    r.save();  // an empty connect method is written back as it came
    EXPECT_TRUE(r.lastOk());
    EXPECT_EQ(column(r.id, "connectmethod"), "");
}

TEST_F(RouterRecord, EnumeratedColumnsKeepUnknownNames) {
    tdb.exec("INSERT INTO cordal_router (id, name, conntype_ip, connectmethod) VALUES (3, 'r', 'ssh', 'MODEM')");
    Cordal_router r(db, 3ul);
    // The job runner's test for SSH ignores letter case.
    EXPECT_TRUE(r.conntype_ip == std::string("SSH"));
    EXPECT_EQ(r.connectmethod.Value(), 0);
    EXPECT_EQ(r.connectmethod.String(), "MODEM");
    r.update();
    EXPECT_EQ(column(3, "connectmethod"), "MODEM");
    EXPECT_EQ(column(3, "conntype_ip"), "ssh");
    // clear() forgets the learnt names and zeroes the three numbers.
    r.clear();
    EXPECT_EQ(r.connectMethods.size(), 5u);
    EXPECT_EQ(r.connTypes.size(), 2u);
    EXPECT_EQ(r.id, 0u);
    EXPECT_EQ(r.name, "r");
}

TEST_F(RouterRecord, NumberedVariablesBeyondTheFifth) {
    tdb.exec(
        "ALTER TABLE cordal_router ADD var_06 BLOB NOT NULL DEFAULT '', ADD var_07 BLOB NOT NULL DEFAULT '', "
        "ADD var_08 BLOB NOT NULL DEFAULT '', ADD pwd_var_06 BLOB NOT NULL DEFAULT '', "
        "ADD pwd_var_07 BLOB NOT NULL DEFAULT '', ADD pwd_var_08 BLOB NOT NULL DEFAULT ''");
    tdb.exec(
        "INSERT INTO cordal_router (id, name, var_01, var_06, var_08, pwd_var_08) VALUES "
        "(1, 'r', 'one', 'six', 'eight\\nlines', '1')");
    Cordal_router r(db, 1ul);
    ASSERT_EQ(r.variables.size(), 8u);
    ASSERT_EQ(r.passwordFlags.size(), 8u);
    EXPECT_EQ(r.variables["var_01"], "one");
    EXPECT_EQ(r.variables["var_06"], "six");
    EXPECT_EQ(r.variables["var_08"], "eight\nlines");
    EXPECT_EQ(r.passwordFlags["pwd_var_08"], "1");
    EXPECT_EQ(r.var_01, "one");

    // Saving writes var_01 … var_05 only.
    r.var_01 = "ONE";
    r.variables["var_06"] = "changed";
    r.save();
    ASSERT_TRUE(r.lastOk());
    EXPECT_EQ(column(1, "var_01"), "ONE");
    EXPECT_EQ(column(1, "var_06"), "six");

    // A variable without its password flag makes the load throw.
    tdb.exec("ALTER TABLE cordal_router DROP pwd_var_07");
    try {
        Cordal_router broken(db, 1ul);
        FAIL() << "no exception";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "Value not found!");
    }
    // As does a missing mandatory column, whatever the load form.
    tdb.exec("ALTER TABLE cordal_router ADD pwd_var_07 BLOB NOT NULL DEFAULT '', DROP locked");
    EXPECT_NO_THROW(Cordal_router(db, std::string("nobody")));  // no row: nothing to read
    EXPECT_THROW(Cordal_router(db, std::string("r")), std::logic_error);
    EXPECT_THROW(Cordal_router(&db, "SELECT * FROM cordal_router"), std::logic_error);
}

TEST_F(RouterRecord, ByIndexFillReadsAllSixtyOneColumns) {
    tdb.exec(
        "INSERT INTO cordal_router (id, name, sshport, telnetport, loopback, var_01) "
        "VALUES (9, 'indexed', 2022, 2023, '10.0.0.1', 'v')");
    Cordal_router probe(&db);
    Query q(db);
    ASSERT_NE(q.get_result("SELECT " + probe.columnList() + " FROM cordal_router"), nullptr);
    ASSERT_NE(q.fetch_row(), nullptr);
    Cordal_router r(&db, &q);
    q.free_result();
    EXPECT_EQ(Cordal_router::num_cols(), 61);
    EXPECT_EQ(r.id, 9u);
    EXPECT_EQ(r.name, "indexed");
    EXPECT_EQ(r.sshport, 2022u);
    EXPECT_EQ(r.telnetport, 2023u);
    EXPECT_EQ(r.loopback, "10.0.0.1");
    EXPECT_EQ(r.conntype_ip.String(), "Telnet");
    EXPECT_TRUE(r.variables.empty());
    EXPECT_EQ(r.newRecord, 0);
}

TEST_F(OldRouterTable, OptionalColumnsTakeTheirBuiltInDefaults) {
    tdb.exec("INSERT INTO cordal_router (id, name, ipnumber) VALUES (5, 'old', '10.1.1.1')");
    Cordal_router r(db, 5ul);
    ASSERT_EQ(r.id, 5u);
    EXPECT_EQ(r.sshport, 21u);
    EXPECT_EQ(r.telnetport, 23u);
    EXPECT_EQ(r.conntype_ip.String(), "Telnet");
    EXPECT_EQ(r.swversion, "unknown");
    EXPECT_EQ(r.savebackupcfg, "1");
    EXPECT_EQ(r.imsi, "unknown");
    EXPECT_EQ(r.ipfallbacknumber, "unknown");
    EXPECT_EQ(r.startwithfallback, "0");
    EXPECT_EQ(r.localipfortftp, "unknown");
    EXPECT_EQ(r.localipforping, "unknown");
    EXPECT_EQ(r.loopback, "unknown");

    // update() leaves out the columns the table lacks.
    r.partno = "P-1";
    r.swversion = "would need a column";
    r.save();
    EXPECT_TRUE(r.lastOk());
    EXPECT_EQ(column(5, "partno"), "P-1");

    // insert() names every optional text column, which this table lacks.
    Cordal_router fresh(&db);
    fresh.name = "new";
    fresh.insert();
    EXPECT_FALSE(fresh.lastOk());
    EXPECT_TRUE(hasLine(log, "DB  - server said (1054): Unknown column 'conntype_ip'"));
    EXPECT_EQ(tdb.count("cordal_router"), 1);
}
