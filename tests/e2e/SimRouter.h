#pragma once
#include <map>
#include <string>
#include <vector>

#include "tests/e2esupport/JobSetup.h"
#include "tests/simsupport/DevSim.h"

// The four ways a job meets a simulated router: each family over Telnet
// and over SSH, with the router type the tests give that family ("NX-1" of
// os "NEXA", "QX-1" of os "qx.CLI").
struct FamilyAndConnection {
    const char* family;  // devsim's --family
    const char* model;
    const char* conntype;
};
inline const FamilyAndConnection kEveryFamilyAndConnection[] = {
    {"nexa", "NX-1", "Telnet"}, {"nexa", "NX-1", "SSH"}, {"qxcli", "QX-1", "Telnet"}, {"qxcli", "QX-1", "SSH"}};

// The management variables of a NEXA device running V.7.10 Rev. 2, the
// release the firmware tests update from.
inline const char kNexaRev2Variables[] =
    "tmibAdmSystemId=NX-SN-1\ntmibAdmBoardTable.tmibABrdPartNo=P-1\ntmibAdmSWVersion=V.7.10 Rev. 2 IPSec\n";

// A simulated router for a job: a devsim of its own and the router row
// that points at it.
struct SimRouter {
    explicit SimRouter(const std::string& tag) : dir(tag), sim(dir.path() + "/state") {}

    // Starts devsim; family "nexa" or "qxcli".
    bool start(const std::string& family, std::vector<std::string> options = {}) {
        std::vector<std::string> all{"--family", family, "--hostname", "router1"};
        bool listens = false;
        for (const auto& o : options) listens = listens || o == "--listen";
        if (!listens) all.insert(all.end(), {"--listen", "127.0.0.1"});
        all.insert(all.end(), options.begin(), options.end());
        return sim.start(all);
    }

    // Router row columns for this device, merged with extra ones.
    std::map<std::string, std::string> row(const std::string& model, const std::string& conntype,
                                           std::map<std::string, std::string> extra = {}) const {
        std::map<std::string, std::string> columns{{"name", "sim-" + model},
                                                   {"model", model},
                                                   {"ipnumber", "127.0.0.1"},
                                                   {"ipgateway", "10.0.0.254"},
                                                   {"telnetport", std::to_string(sim.telnetPort())},
                                                   {"sshport", std::to_string(sim.sshPort())},
                                                   {"conntype_ip", conntype},
                                                   {"tmibadmadmincommunity", "admin"}};
        for (const auto& e : extra) columns[e.first] = e.second;
        return columns;
    }

    testsupport::TempDir dir;
    testsim::DevSim sim;
};
