#pragma once
#include <map>
#include <string>

#include "db/dbRecord.h"
#include "db/enum_t.h"

// Cordal_router is one router of cordal_router (key id; a loaded router
// with id 0 was not found). Unlike the other records it loads by column
// name: the columns from sshport to loopback are optional (a table without
// one gives its built-in default: sshport 21, telnetport 23, conntype_ip
// "Telnet", savebackupcfg "1", startwithfallback "0", "unknown" for the
// other texts), and the table may hold numbered variables var_01 … var_NN,
// each with a pwd_var_NN, which the load puts into variables and
// passwordFlags. A load throws std::logic_error("Value not found!") when a
// mandatory column or a pwd_var_NN is missing; the caller catches it.
//
// update() writes the columns the table has but never sshport, telnetport,
// the variables beyond var_05 or the pwd_var_NN columns; insert() writes
// every column but the two ports (the table must have the optional texts).
class Cordal_router : public dbRecord {
public:
    explicit Cordal_router(Database* db);
    Cordal_router(Database* db, Query* q);  // by index, all 61 columns; maps stay empty
    Cordal_router(Database& db, unsigned long id);
    Cordal_router(Database& db, const std::string& name);
    Cordal_router(Database* db, const std::string& sql);

    using dbRecord::spawn;
    void spawn(const std::string& sql) override;  // by name, see above
    static int num_cols() { return 61; }
    // Rebuilds both name tables and sets id, customerid, accounting_written to 0.
    Cordal_router* clear();
    void update(unsigned long key);
    void update() override { update(id); }

    // Name tables of the enumerated columns (before the columns: the
    // enum_t members refer to them).
    std::map<std::string, unsigned long long> connectMethods;  // "NONE" 1 … "ISDN_IP" 5
    std::map<std::string, unsigned long long> connTypes;       // "Telnet" 1, "SSH" 2

    unsigned long id = 0;
    unsigned long customerid = 0;
    std::string name, vendor, lupdate, model, osrel, user, pass, configtype, globalmaster, custommaster,
        downloadedmaster;
    std::string isdnlkz, isdntrunk, isdnprefix, isdncallprefix, isdnnumber, isdnextension, isdnnumber2, msnisdnlogin,
        msnisdnloginext, datexpnumber;
    std::string ipnet, ipnumber, ipnetmask, ipgateway, ipdomain, ipsec;
    std::string tmibadmadmincommunity, oldcommunity, tmibadmreadcommunity, tmibadmwritecommunity, tmibadmhttppassword,
        tmibdialnumberisdn;
    std::string softwareimage, matchcode, seriennr, enabledispatch;
    std::string var_01, var_02, var_03, var_04, var_05;
    long accounting_written = 0;
    std::string macadress, locked, partno;
    enum_t connectmethod;
    std::string ipmodetarget;
    unsigned long sshport = 0;
    unsigned long telnetport = 0;
    enum_t conntype_ip;
    std::string swversion, savebackupcfg, imsi, ipfallbacknumber, startwithfallback, localipfortftp, localipforping,
        loopback;

    // "var_01" … "var_NN" and "pwd_var_01" … "pwd_var_NN" to their values.
    std::map<std::string, std::string> variables;
    std::map<std::string, std::string> passwordFlags;

protected:
    std::vector<Column> columns() override;
    void clearValues() override;
};
