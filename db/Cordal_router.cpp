#include "db/Cordal_router.h"

#include <cstdio>
#include <set>

#include "db/Query.h"

namespace {
const dbRecord::TableInfo kTable = {
    "cordal_router", "id", "insert into cordal_router(", " values(", "update cordal_router set ", " where ", true,
    false,           "id"};

const char* const kOptionalColumns[] = {"sshport",        "telnetport",     "conntype_ip",      "swversion",
                                        "savebackupcfg",  "imsi",           "ipfallbacknumber", "startwithfallback",
                                        "localipfortftp", "localipforping", "loopback"};

std::string numbered(const char* prefix, long i) {
    char name[32];
    snprintf(name, sizeof name, "%s%02ld", prefix, i);
    return name;
}
}  // namespace

Cordal_router::Cordal_router(Database* db)
    : dbRecord(db, kTable), connectmethod(connectMethods), conntype_ip(connTypes) {
    clearValues();
}

Cordal_router::Cordal_router(Database* db, Query* q) : Cordal_router(db) {
    dbRecord::spawn(q);
}

Cordal_router::Cordal_router(Database& db, unsigned long key) : Cordal_router(&db) {
    spawn("select * from cordal_router where " + keyIs(key));
}

Cordal_router::Cordal_router(Database& db, const std::string& routerName) : Cordal_router(&db) {
    spawn("select * from cordal_router where name='" + Query::safestr(routerName) + "'");
}

Cordal_router::Cordal_router(Database* db, const std::string& sql) : Cordal_router(db) {
    spawn(sql);
}

void Cordal_router::clearValues() {
    connectMethods = {{"NONE", 1}, {"ONLY_ISDN", 2}, {"ONLY_IP", 3}, {"IP_ISDN", 4}, {"ISDN_IP", 5}};
    connTypes = {{"Telnet", 1}, {"SSH", 2}};
    id = 0;
    customerid = 0;
    accounting_written = 0;
}

Cordal_router* Cordal_router::clear() {
    clearValues();
    return this;
}

void Cordal_router::spawn(const std::string& sql) {
    clearValues();
    Query q(database);
    long variableCount = 0;
    // "var", one character, anything: the numbered variables (pwd_var_NN do not match).
    if (q.get_result("DESCRIBE cordal_router 'var_%'")) {
        variableCount = q.num_rows();
        q.free_result();
    }
    if (!q.get_result_map(sql)) {
        ok = q.GetErrno() == 0;
        clearValues();
        newRecord = 1;
        return;
    }
    ok = true;
    fillByName(q);
    for (long i = 1; i <= variableCount; ++i) {
        variables[numbered("var_", i)] = q.get_field_value(numbered("var_", i));
        passwordFlags[numbered("pwd_var_", i)] = q.get_field_value(numbered("pwd_var_", i));
    }
    newRecord = 0;
}

void Cordal_router::update(unsigned long key) {
    // Only to learn which of the optional columns this table has.
    std::set<std::string> present;
    {
        Query probe(database);
        probe.get_result_map("SELECT * from cordal_router WHERE 1 LIMIT 1");
        for (const char* optional : kOptionalColumns)
            if (probe.get_field_exists(optional)) present.insert(optional);
    }
    updateWhere(keyIs(key), &present);
}

std::vector<dbRecord::Column> Cordal_router::columns() {
    const unsigned port = Optional | NotWritten | NoXml;
    return {col("id", id),
            col("customerid", customerid),
            col("name", name),
            col("vendor", vendor),
            col("lupdate", lupdate),
            col("model", model),
            col("osrel", osrel),
            col("user", user),
            col("pass", pass),
            col("configtype", configtype),
            col("globalmaster", globalmaster),
            col("custommaster", custommaster),
            col("downloadedmaster", downloadedmaster),
            col("isdnlkz", isdnlkz),
            col("isdntrunk", isdntrunk),
            col("isdnprefix", isdnprefix),
            col("isdncallprefix", isdncallprefix),
            col("isdnnumber", isdnnumber),
            col("isdnextension", isdnextension),
            col("isdnnumber2", isdnnumber2),
            col("msnisdnlogin", msnisdnlogin),
            col("msnisdnloginext", msnisdnloginext),
            col("datexpnumber", datexpnumber),
            col("ipnet", ipnet),
            col("ipnumber", ipnumber),
            col("ipnetmask", ipnetmask),
            col("ipgateway", ipgateway),
            col("ipdomain", ipdomain),
            col("ipsec", ipsec),
            col("tmibadmadmincommunity", tmibadmadmincommunity),
            col("oldcommunity", oldcommunity),
            col("tmibadmreadcommunity", tmibadmreadcommunity),
            col("tmibadmwritecommunity", tmibadmwritecommunity),
            col("tmibadmhttppassword", tmibadmhttppassword),
            col("tmibdialnumberisdn", tmibdialnumberisdn),
            col("softwareimage", softwareimage),
            col("matchcode", matchcode),
            col("seriennr", seriennr),
            col("enabledispatch", enabledispatch),
            col("var_01", var_01),
            col("var_02", var_02),
            col("var_03", var_03),
            col("var_04", var_04),
            col("var_05", var_05),
            col("accounting_written", accounting_written),
            col("macadress", macadress),
            col("locked", locked),
            col("partno", partno),
            col("connectmethod", connectmethod),
            col("ipmodetarget", ipmodetarget),
            col("sshport", sshport, port, "21"),
            col("telnetport", telnetport, port, "23"),
            col("conntype_ip", conntype_ip, Optional, "Telnet"),
            col("swversion", swversion, Optional, "unknown"),
            col("savebackupcfg", savebackupcfg, Optional, "1"),
            col("imsi", imsi, Optional, "unknown"),
            col("ipfallbacknumber", ipfallbacknumber, Optional, "unknown"),
            col("startwithfallback", startwithfallback, Optional, "0"),
            col("localipfortftp", localipfortftp, Optional, "unknown"),
            col("localipforping", localipforping, Optional, "unknown"),
            col("loopback", loopback, Optional, "unknown")};
}
