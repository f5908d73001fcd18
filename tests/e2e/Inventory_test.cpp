// Whole "Invent" jobs against simulated routers of both families, over
// Telnet and SSH: what the router row holds afterwards and the failures
// of a device that reports too little.
#include <gtest/gtest.h>

#include "tests/e2e/JobTest.h"

using e2e::JobSetup;
using testsupport::contains;

namespace {
const char* const kNexaVariables =
    "tmibAdmSystemId=NX-SN-0042\n"
    "tmibAdmBoardTable.tmibABrdPartNo=NX-4400/2\n"
    "tmibAdmSWVersion=V.7.10 Rev. 3 (Patch 12)\n";
const char* const kQxVersion =
    "qx.CLI router1 QX Router, QX-2200/B\n"
    " S/N: QX-SN-0815\n"
    "Software release: 10.2.7 (Build 3)\n";

class Inventory : public JobTest {
protected:
    void SetUp() override {
        setup.addRouterType("NX-1", "NEXA");
        setup.addRouterType("QX-1", "qx.CLI");
        setup.addRouterType("OT-1", "OtherOS");
        setup.writeSettings();
    }

    // Runs an "Invent" job for the device and returns its history row.
    std::map<std::string, std::string> invent(SimRouter& device, const std::string& model,
                                              const std::string& conntype) {
        setup.db.exec("DELETE FROM cordal_jobhistory; DELETE FROM cordal_router");
        routerId =
            setup.addRouter(device.row(model, conntype, {{"swversion", "old-version"}, {"seriennr", "old-serial"}}));
        return runJobFor(42, routerId, "Invent", {"-l"});
    }
    std::string column(const std::string& name) {
        return setup.db.value("SELECT " + name + " FROM cordal_router WHERE id=" + std::to_string(routerId));
    }

    unsigned long routerId = 0;
};
}  // namespace

TEST_F(Inventory, BothFamiliesOverTelnetAndSsh) {
    for (const auto& c : kEveryFamilyAndConnection) {
        const bool nexa = c.family == std::string("nexa");
        SCOPED_TRACE(std::string(c.family) + " over " + c.conntype);
        SimRouter device(std::string(c.family) + c.conntype);
        device.sim.writeStateFile(nexa ? "variables" : "version", nexa ? kNexaVariables : kQxVersion);
        ASSERT_TRUE(device.start(c.family)) << device.sim.error();
        auto h = invent(device, c.model, c.conntype);
        EXPECT_EQ(result.exitCode, 0) << log;
        EXPECT_EQ(h["status"], "success");
        EXPECT_EQ(column("seriennr"), nexa ? "NX-SN-0042" : "QX-SN-0815");
        EXPECT_EQ(column("partno"), nexa ? "NX-4400/2" : "QX-2200/B");
        EXPECT_EQ(column("swversion"), nexa ? "7.10.3 Patch 12" : "10.2.7");
        for (const char* title :
             {"*** Preparing inventory.", "*** Getting serial.", "*** Getting part-number.", "*** Getting SW-version."})
            EXPECT_TRUE(contains(log, title)) << title << "\n" << log;
        EXPECT_TRUE(contains(log, std::string("Writing found serial-number '") + (nexa ? "NX-SN-0042" : "QX-SN-0815") +
                                      "' to database."))
            << log;
        const std::string transcript = device.sim.transcript();
        for (const char* command : nexa ? std::vector<const char*>{"<<< y\n", "<<< tmibAdmSystemId\n",
                                                                   "<<< tmibABrdPartNo\n", "<<< tmibAdmSWVersion\n"}
                                        : std::vector<const char*>{"<<< \\x10monitor\n", "<<< version\n"})
            EXPECT_TRUE(contains(transcript, command)) << command << "\n" << transcript;
    }
}

TEST_F(Inventory, NexaVersionOfNeitherFormKeepsTheStoredOne) {
    SimRouter device("noversion");
    device.sim.writeStateFile(
        "variables", "tmibAdmSystemId=NX-SN-1\ntmibAdmBoardTable.tmibABrdPartNo=P-1\ntmibAdmSWVersion=V.7.10\n");
    ASSERT_TRUE(device.start("nexa")) << device.sim.error();
    auto h = invent(device, "NX-1", "Telnet");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(h["reason"], "No sw-version");
    EXPECT_TRUE(contains(log, "No sw-version reported by router.")) << log;
    EXPECT_EQ(column("swversion"), "old-version");
    // The facts before it were stored.
    EXPECT_EQ(column("seriennr"), "NX-SN-1");
    EXPECT_EQ(column("partno"), "P-1");
}

TEST_F(Inventory, NexaVariableWithoutValueStoresNothing) {
    // The device does not know the variable; over Telnet its echo names it
    // all the same, but no value follows.
    SimRouter device("noserial");
    device.sim.writeStateFile("variables", "tmibAdmBoardTable.tmibABrdPartNo=P-2\ntmibAdmSWVersion=V.10.1.5.101\n");
    ASSERT_TRUE(device.start("nexa")) << device.sim.error();
    auto h = invent(device, "NX-1", "Telnet");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(h["reason"], "No serial-number");
    EXPECT_EQ(column("seriennr"), "old-serial");
    EXPECT_FALSE(contains(log, "Writing found serial-number")) << log;
    EXPECT_EQ(column("partno"), "P-2");
    EXPECT_EQ(column("swversion"), "10.1.5.101");
}

TEST_F(Inventory, QxCliReportWithoutPartNumberStoresTheOthers) {
    SimRouter device("nopart");
    device.sim.writeStateFile("version", "qx.CLI router1\n S/N: QX-SN-9\nSoftware release: 9.9.1\n");
    ASSERT_TRUE(device.start("qxcli")) << device.sim.error();
    auto h = invent(device, "QX-1", "SSH");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(h["reason"], "No part-number");
    EXPECT_TRUE(contains(log, "No part-number reported by router.")) << log;
    // The version after the failed part number is still read and stored.
    EXPECT_EQ(column("seriennr"), "QX-SN-9");
    EXPECT_EQ(column("swversion"), "9.9.1");
    EXPECT_TRUE(contains(log, "Writing found sw-version '9.9.1' to database.")) << log;
}

TEST_F(Inventory, FailedPreparationAsksForNothing) {
    SimRouter device("silent");
    device.sim.writeStateFile("variables", kNexaVariables);
    ASSERT_TRUE(device.start("nexa", {"--silent-after", "y"})) << device.sim.error();
    auto h = invent(device, "NX-1", "Telnet");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(h["reason"], "Missing prompt");
    EXPECT_TRUE(contains(log, "Missing '>' prompt.")) << log;
    EXPECT_TRUE(contains(log, "*** Preparing inventory."));
    EXPECT_FALSE(contains(log, "Getting serial")) << log;
    EXPECT_FALSE(contains(device.sim.transcript(), "tmibAdmSystemId"));
    EXPECT_EQ(column("seriennr"), "old-serial") << "nothing stored";
}

TEST_F(Inventory, AFamilyThatIsNotExactlyNexaHasNoReaders) {
    SimRouter device("other");
    device.sim.writeStateFile("variables", kNexaVariables);
    ASSERT_TRUE(device.start("nexa")) << device.sim.error();
    auto h = invent(device, "OT-1", "Telnet");
    EXPECT_EQ(result.exitCode, 2);
    // Every fact fails; the last failure is the reason.
    EXPECT_EQ(h["reason"], "No sw-version");
    EXPECT_TRUE(contains(log, "No serial-number reported by router.")) << log;
    EXPECT_TRUE(contains(log, "No part-number reported by router.")) << log;
    EXPECT_TRUE(contains(device.sim.transcript(), "<<< y\n"));
    EXPECT_FALSE(contains(device.sim.transcript(), "tmibAdmSystemId"));
}
