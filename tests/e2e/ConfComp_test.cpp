// Workmode "ConfComp" end to end: the device's configuration is downloaded,
// the database's is rebuilt next to it, and the two are compared; a drifted
// device fails the job with the difference, its secrets masked, in the log.
#include <gtest/gtest.h>

#include "tests/e2e/JobTest.h"

using testsupport::contains;
using testsupport::fileExists;

namespace {

// The rebuilt configuration carries the same export header as the device's
// download but for the line with the export time.
const char kTemplate[] =
    "# NEXA configuration export\n"
    "# configuration boot of router1\n"
    "# Created by the provisioning system\n"
    "system\n"
    "{\n"
    "   name \"[router.name]\"\n"
    "   password \"[router.pass]\"\n"
    "}\n"
    "routes\n"
    "{\n"
    "   route \"0.0.0.0/0\"\n"
    "}\n";

const char kPassword[] = "Cmp-pw.9";

const char kRunning[] =
    "system\n"
    "{\n"
    "   name \"gw-cmp\"\n"
    "   password \"Cmp-pw.9\"\n"
    "}\n"
    "routes\n"
    "{\n"
    "   route \"0.0.0.0/0\"\n"
    "}\n";

class ConfComp : public JobTest {
protected:
    void SetUp() override {
        setup.addRouterType("NX-1", "NEXA");
        setup.addRouterType("QX-1", "qx.CLI");
        setup.writeSettings();
        setup.db.exec("INSERT INTO cordal_swrelease(name, routertype, globalmaster) VALUES ('rel-1', 'NX-1', '')");
        for (const char* model : {"NX-1", "QX-1"}) {
            testsupport::makeDirs(setup.templateDir() + model);
            testsupport::writeFile(setup.templateDir() + model + "/master.tmpl", kTemplate);
        }
    }

    std::map<std::string, std::string> runJob(const SimRouter& device, const std::string& model) {
        setup.db.exec("DELETE FROM cordal_jobhistory; DELETE FROM cordal_router; DELETE FROM cordal_configs");
        auto row = device.row(model, "Telnet",
                              {{"name", "gw-cmp"},
                               {"configtype", "Template"},
                               {"globalmaster", "master.tmpl"},
                               {"softwareimage", "rel-1"},
                               {"pass", kPassword}});
        return runJobFor(42, setup.addRouter(row), "ConfComp", {"-l"});
    }

    void expectFilesGone() {
        EXPECT_FALSE(fileExists(setup.transferDir() + "42.config"));
        EXPECT_FALSE(fileExists(setup.transferDir() + "42.config_cmp"));
    }
};

TEST_F(ConfComp, NexaDeviceRunningTheRebuiltConfigurationAndADriftedOne) {
    SimRouter device("nexa");
    ASSERT_TRUE(device.start("nexa", {"--transfer-dir", setup.transferDir()})) << device.sim.error();
    device.sim.writeStateFile("configs/boot", kRunning);
    auto h = runJob(device, "NX-1");
    EXPECT_EQ(result.exitCode, 0) << log;
    EXPECT_EQ(h["status"], "success") << log;
    EXPECT_TRUE(contains(device.sim.transcript(), "<<< configd put all tftp:127.0.0.1/ 42.config boot"));
    EXPECT_TRUE(contains(log, "*** Comparing built/fetched config."));
    EXPECT_TRUE(contains(log, "The config files are the same."));
    expectFilesGone();

    // One line drifted on the device, next to the password.
    std::string drifted = kRunning;
    drifted.replace(drifted.find("0.0.0.0/0"), 9, "10.0.0.0/8");
    drifted.replace(drifted.find("\"Cmp-pw.9\""), 10, "\"Cmp-pw.9\" legacy");
    device.sim.writeStateFile("configs/boot", drifted);
    h = runJob(device, "NX-1");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(h["reason"], "Cfg-files differ");
    EXPECT_TRUE(contains(log, "Stored config-file differs from re-built one."));
    EXPECT_TRUE(contains(log, "The config files are different."));
    // The hunk is in the history log as raw lines, the password masked.
    EXPECT_TRUE(contains(h["log"], "\n-   password \"******\" legacy\n")) << h["log"];
    EXPECT_TRUE(contains(h["log"], "\n+   password \"******\"\n")) << h["log"];
    EXPECT_TRUE(contains(h["log"], "\n-   route \"10.0.0.0/8\"\n+   route \"0.0.0.0/0\"\n")) << h["log"];
    EXPECT_FALSE(contains(h["log"], kPassword));
    expectFilesGone();
}

TEST_F(ConfComp, QxCliDeviceSameAndDifferent) {
    SimRouter device("qx");
    device.sim.writeStateFile("bootfile", "SITE\n");
    ASSERT_TRUE(device.start("qxcli")) << device.sim.error();
    // What the database builds, byte for byte: the template with its fields.
    std::string rebuilt = kTemplate;
    rebuilt.replace(rebuilt.find("[router.name]"), 13, "gw-cmp");
    rebuilt.replace(rebuilt.find("[router.pass]"), 13, kPassword);
    device.sim.writeStateFile("fs/DSK/SITE.CFG", rebuilt);
    auto h = runJob(device, "QX-1");
    EXPECT_EQ(result.exitCode, 0) << log;
    EXPECT_EQ(h["status"], "success") << log;
    EXPECT_TRUE(contains(device.sim.transcript(), "open /DSK/SITE.CFG for reading")) << device.sim.transcript();
    expectFilesGone();

    // The export-time line that a NEXA comparison forgives is a difference
    // on qx.CLI.
    std::string other = rebuilt;
    other.replace(other.find("the provisioning system"), 23, "someone else");
    device.sim.writeStateFile("fs/DSK/SITE.CFG", other);
    h = runJob(device, "QX-1");
    EXPECT_EQ(h["reason"], "Cfg-files differ") << log;
    EXPECT_TRUE(contains(h["log"], "\n-# Created by someone else\n+# Created by the provisioning system\n"))
        << h["log"];
    expectFilesGone();
}

}  // namespace
