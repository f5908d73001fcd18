// Workmodes "LocalConf" and "LocConfEnc" end to end: the program as a
// process builds a router's configuration from its template, the database
// and stored configurations into a root of its own, and has the installed
// encryption tool seal it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "tests/e2e/JobTest.h"

using e2e::JobSetup;
using testsupport::contains;
using testsupport::fileExists;
using testsupport::readFile;
using testsupport::writeFile;

namespace {
const char kTemplate[] =
    "# master template\n"
    "system\n"
    "{\n"
    "   tmibAdmSystemName   (RW,DisplayStr):  \"[router.name]\"\n"
    "   tmibAdmPassword     (RW,DisplayStr):  \"[ROUTER.PASS]\"\n"
    "}\n"
    "ipif\n"
    "{\n"
    "   address \"[router.ipnumber]/[{nm2pl}router.ipnetmask]\" vlan \"[additional.vlan]\"\n"
    "   job \"[opsbase.jobid]\" firm \"[contacts.firma]\" at \"[22:50+75]\" rel \"[swrelease.name]\"\n"
    "}\n"
    "licenses\n"
    "[router.licenses]\n";

const char kPatched[] =
    "# master template\n"
    "system\n"
    "{\n"
    "   tmibAdmSystemName   (RW,DisplayStr):  \"gw-essen\"\n"
    "   tmibAdmPassword     (RW,DisplayStr):  \"Pw$1\\x${a}\"\n"
    "}\n"
    "ipif\n"
    "{\n"
    "   address \"10.1.2.3/24\" vlan \"100\"\n"
    "   job \"42\" firm \"ACME\" at \"00:05\" rel \"rel-1\"\n"
    "}\n"
    "licenses\n"
    "{\n"
    "   tmibAdmLicenseSerialId   (RW,DisplayStr):  \"LIC-1\"\n"
    "   tmibAdmLicenseKey        (RW,DisplayStr):  \"KEY-1\"\n"
    "}\n";

// A configuration as the device exported it earlier.
const char kDownloaded[] =
    "# Created by device\n"
    "system\n"
    "{\n"
    "   tmibAdmSystemName   (RW,DisplayStr):  \"old-name\"\n"
    "}\n"
    "routes\n"
    "{\n"
    "   route \"0.0.0.0/0\"\n"
    "}\n"
    "# routes stay as the device has them\n"
    "licenses\n"
    "{\n"
    "   tmibAdmLicenseSerialId   (RW,DisplayStr):  \"OLD\"\n"
    "}";

// The merged configuration: the template's tables where the download has
// them too, the download's preamble; its tables reach the result through
// the processed text, so their comment lines do not.
const char kMerged[] =
    "# Created by device\n"
    "system\n"
    "{\n"
    "   tmibAdmSystemName   (RW,DisplayStr):  \"gw-essen\"\n"
    "   tmibAdmPassword     (RW,DisplayStr):  \"Pw$1\\x${a}\"\n"
    "}\n"
    "routes\n"
    "{\n"
    "   route \"0.0.0.0/0\"\n"
    "}\n"
    "licenses\n"
    "{\n"
    "   tmibAdmLicenseSerialId   (RW,DisplayStr):  \"LIC-1\"\n"
    "   tmibAdmLicenseKey        (RW,DisplayStr):  \"KEY-1\"\n"
    "}\n";

const unsigned long long kStoredTime = 1699990000ULL;

class ConfigBuild : public JobTest {
protected:
    void SetUp() override {
        setup.addRouterType("NX-1", "NEXA");
        setup.addRouterType("QX-1", "qx.CLI");
        setup.writeSettings();
        setup.db.exec(
            "INSERT INTO cordal_contacts(customerid, firma) VALUES (3, 'ACME');"
            "INSERT INTO cordal_swrelease(name, routertype, globalmaster) VALUES ('rel-1', 'NX-1', 'release.tmpl');"
            "INSERT INTO cordal_licenses(routerid, serialnr, lickey) VALUES ('SN-1', 'LIC-1', 'KEY-1')");
        writeTemplate("NX-1", "master.tmpl", kTemplate);
        writeTemplate("QX-1", "master.tmpl", kTemplate);
    }

    void writeTemplate(const std::string& model, const std::string& name, const std::string& text) {
        testsupport::makeDirs(setup.templateDir() + model);
        writeFile(setup.templateDir() + model + "/" + name, text);
    }

    std::map<std::string, std::string> routerRow(const std::string& configtype,
                                                 std::map<std::string, std::string> extra = {}) {
        std::map<std::string, std::string> row{{"name", "gw-essen"},
                                               {"model", "NX-1"},
                                               {"customerid", "3"},
                                               {"configtype", configtype},
                                               {"globalmaster", "master.tmpl"},
                                               {"softwareimage", "rel-1"},
                                               {"seriennr", "SN-1"},
                                               {"pass", "Pw$1\\x${a}"},
                                               {"ipnumber", "10.1.2.3"},
                                               {"ipnetmask", "255.255.255.0"}};
        for (const auto& e : extra) row[e.first] = e.second;
        return row;
    }

    // Runs job 42 for a new router row and returns its history row.
    std::map<std::string, std::string> runJob(const std::map<std::string, std::string>& router,
                                              const std::string& workmode = "LocalConf",
                                              std::vector<std::string> options = {}) {
        setup.db.exec("DELETE FROM cordal_jobhistory WHERE id=42");
        routerId = setup.addRouter(router);
        setup.db.exec("INSERT INTO cordal_router_additionals(routerid, varname, data, pwd) VALUES (" +
                      std::to_string(routerId) + ", 'vlan', '100', 'no')");
        return runJobFor(42, routerId, workmode, options);
    }

    // The columns that point a router row at a simulated device.
    static std::map<std::string, std::string> deviceColumns(const SimRouter& device, const std::string& conntype) {
        return {{"ipnumber", "127.0.0.1"},
                {"telnetport", std::to_string(device.sim.telnetPort())},
                {"sshport", std::to_string(device.sim.sshPort())},
                {"conntype_ip", conntype},
                {"tmibadmadmincommunity", "admin"}};
    }

    void storeConfig(const std::string& table, unsigned long router, unsigned long long jobtime,
                     const std::string& workmode, const std::string& text) {
        std::string id = table == "cordal_jobhistory" ? "900, " : "";
        setup.db.exec("INSERT INTO " + table + "(" + (id.empty() ? "" : "id, ") +
                      "routerid, jobtime, workmode, config) VALUES (" + id + std::to_string(router) + ", " +
                      std::to_string(jobtime) + ", '" + workmode + "', " + testdb::TestDatabase::quote(text) + ")");
    }

    void installSealTool(const std::string& script = "") {
        const std::string target = setup.root.path() + "/bin/sealtool-linux-i386";
        if (script.empty())
            writeFile(target, readFile(testsupport::builtProgram("tests/sealtool/sealtool")));
        else
            writeFile(target, script);
        chmod(target.c_str(), 0755);
    }

    std::string configPath() const { return setup.transferDir() + "42.config"; }

    void expectBuilt(const std::map<std::string, std::string>& h, const std::string& expected) {
        EXPECT_EQ(result.exitCode, 0) << log;
        EXPECT_EQ(h.at("status"), "success") << log;
        EXPECT_EQ(readFile(configPath()), expected);
        EXPECT_EQ(h.at("config"), expected);
        EXPECT_TRUE(contains(log, "INF - Config created.")) << log;
        EXPECT_FALSE(fileExists(configPath() + "_tmp"));
        // The router's password is a hidden field.
        EXPECT_FALSE(contains(h.at("log"), "Pw$1")) << log;
    }

    void expectBuildFailure(const std::map<std::string, std::string>& h, const std::string& logged) {
        EXPECT_EQ(result.exitCode, 2) << log;
        EXPECT_EQ(h.at("status"), "error");
        EXPECT_EQ(h.at("reason"), "Cfg-building failed");
        EXPECT_TRUE(contains(log, "ERR - " + logged)) << log;
        EXPECT_TRUE(contains(log, "Could not build config file.")) << log;
        EXPECT_FALSE(contains(log, "Config created.")) << log;
        EXPECT_FALSE(fileExists(configPath() + "_tmp"));
    }

    unsigned long routerId = 0;
};
}  // namespace

TEST_F(ConfigBuild, TemplateFromTheRouter) {
    auto h = runJob(routerRow("Template"));
    expectBuilt(h, kPatched);
    EXPECT_TRUE(contains(log, "INF - Config-type: Template")) << log;
    EXPECT_TRUE(contains(log, "INF - Template-config: master.tmpl")) << log;
    EXPECT_TRUE(contains(log, "INF - Writing output config file: " + configPath())) << log;
    EXPECT_TRUE(contains(log, "Replaced \"[router.pass]\" with \"***\".")) << log;
    EXPECT_FALSE(setup.jobRowExists(42));
}

TEST_F(ConfigBuild, CustomerTemplateFromTheRelease) {
    // Release names and models are database text: a quote in them must not
    // break the statement that finds the release.
    setup.db.exec(
        "INSERT INTO cordal_swrelease(name, routertype, globalmaster) VALUES "
        "('rel''2', 'NX-1', 'customer.tmpl'), ('rel''3', 'NX-1', 'wrong.tmpl')");
    writeTemplate("NX-1", "customer.tmpl",
                  "customer\n{\n   name \"[router.name]\" image \"[router.softwareimage]\"\n}\n");
    auto h = runJob(routerRow("Customer-Template", {{"globalmaster", "master.tmpl"}, {"softwareimage", "rel'2"}}));
    expectBuilt(h, "customer\n{\n   name \"gw-essen\" image \"[router.softwareimage]\"\n}\n");
    EXPECT_TRUE(contains(log, "ERR - Taking template from software-image: rel'2")) << log;
    EXPECT_TRUE(contains(log, "INF - Template-config: customer.tmpl")) << log;
    EXPECT_FALSE(contains(log, "query failed")) << log;

    // A release without a template.
    setup.db.exec("UPDATE cordal_swrelease SET globalmaster='' WHERE routertype='NX-1'");
    h = runJob(routerRow("Customer-Template", {{"softwareimage", "rel'2"}}));
    expectBuildFailure(h, "No template specified");
}

TEST_F(ConfigBuild, ClientTakesTheStoredConfiguration) {
    storeConfig("cordal_configs", 1, kStoredTime, "GetConf", kDownloaded);
    auto h = runJob(routerRow("Client", {{"downloadedmaster", std::to_string(kStoredTime)}}));
    ASSERT_EQ(routerId, 1u);
    expectBuilt(h, std::string(kDownloaded) + "\n");
    EXPECT_TRUE(contains(log, "INF - Downloaded config: ")) << log;
    EXPECT_FALSE(contains(log, "Template-config")) << log;

    // Not among the stored configurations: the job history has it.
    setup.db.exec("DELETE FROM cordal_configs");
    storeConfig("cordal_jobhistory", 2, kStoredTime, "GetConf", "from\n{\n history\n}");
    h = runJob(routerRow("Client", {{"downloadedmaster", std::to_string(kStoredTime)}}));
    ASSERT_EQ(routerId, 2u);
    expectBuilt(h, "from\n{\n history\n}\n");

    // Neither has it.
    h = runJob(routerRow("Client", {{"downloadedmaster", "1600000000"}}));
    expectBuildFailure(h, "Could not export downloaded config from database");

    // The key is database text, never SQL.
    storeConfig("cordal_configs", 4, kStoredTime, "GetConf", kDownloaded);
    h = runJob(routerRow("Client", {{"downloadedmaster", "0 OR 1=1"}}));
    ASSERT_EQ(routerId, 4u);
    expectBuildFailure(h, "Could not export downloaded config from database");

    h = runJob(routerRow("Client", {{"downloadedmaster", ""}}));
    expectBuildFailure(h, "No downloaded config specified");
}

TEST_F(ConfigBuild, MergeTemplateIntoTheDownloadedMaster) {
    storeConfig("cordal_configs", 1, kStoredTime, "GetConf", kDownloaded);
    auto h = runJob(routerRow("Merge-Template", {{"downloadedmaster", std::to_string(kStoredTime)}}));
    ASSERT_EQ(routerId, 1u);
    expectBuilt(h, kMerged);
    EXPECT_TRUE(contains(log, "INF - Merging processed template into downloaded config")) << log;

    h = runJob(routerRow("Merge-Template", {{"downloadedmaster", ""}}));
    expectBuildFailure(h, "No downloaded config specified for merge");

    // A template the merge cannot read leaves no configuration and no merge file.
    writeTemplate("NX-1", "broken.tmpl", "}\n");
    storeConfig("cordal_configs", 3, kStoredTime, "GetConf", kDownloaded);
    h = runJob(routerRow("Merge-Template",
                         {{"globalmaster", "broken.tmpl"}, {"downloadedmaster", std::to_string(kStoredTime)}}));
    ASSERT_EQ(routerId, 3u);
    // The processed template follows the 14 lines of the download.
    expectBuildFailure(h, "Stopped non-started row in line 15 for table licenses");
    EXPECT_TRUE(contains(log, "INF - Could not merge template into downloaded config")) << log;
}

TEST_F(ConfigBuild, FetchAndMergeUsesTheAutomaticDownload) {
    // The job downloads the device's boot configuration first and stores it
    // as its automatic download, which then counts over the older ones.
    SimRouter device("fetch");
    ASSERT_TRUE(device.start("nexa", {"--transfer-dir", setup.transferDir()})) << device.sim.error();
    device.sim.writeStateFile("configs/boot", kDownloaded);
    storeConfig("cordal_configs", 1, kStoredTime - 100, "AutoFetch", "system\n{\n stale\n}");
    storeConfig("cordal_configs", 1, kStoredTime + 100, "GetConf", "system\n{\n not automatic\n}");
    auto h = runJob(routerRow("Fetch-and-Merge", deviceColumns(device, "Telnet")));
    ASSERT_EQ(routerId, 1u);
    EXPECT_TRUE(contains(device.sim.transcript(), "<<< configd put all tftp:127.0.0.1/ 42.config boot"))
        << device.sim.transcript();
    const std::string stored = setup.db.value(
        "SELECT config FROM cordal_configs WHERE workmode='AutoFetch' AND jobtime=1699999999 AND routerid=1");
    const std::string downloaded(kDownloaded);
    ASSERT_GT(stored.size(), downloaded.size());
    ASSERT_EQ(stored.substr(stored.size() - downloaded.size()), downloaded) << "the export ends with the boot file";
    // The export's own header lines join the preamble of the merged file.
    expectBuilt(h, stored.substr(0, stored.size() - downloaded.size()) + kMerged);
}

TEST_F(ConfigBuild, MergingTypesNeedNexa) {
    storeConfig("cordal_configs", 1, kStoredTime, "AutoFetch", kDownloaded);
    auto h =
        runJob(routerRow("Merge-Template", {{"model", "QX-1"}, {"downloadedmaster", std::to_string(kStoredTime)}}));
    expectBuildFailure(h, "No merge-support for non-NEXA-devices");

    // Fetch-and-Merge downloads from the device first, then refuses.
    SimRouter device("qx-fetch");
    device.sim.writeStateFile("bootfile", "SITE\n");
    ASSERT_TRUE(device.start("qxcli")) << device.sim.error();
    device.sim.writeStateFile("fs/DSK/SITE.CFG", kDownloaded);
    std::map<std::string, std::string> columns = deviceColumns(device, "Telnet");
    columns["model"] = "QX-1";
    h = runJob(routerRow("Fetch-and-Merge", columns));
    expectBuildFailure(h, "No merge-support for non-NEXA-devices");
    EXPECT_TRUE(contains(device.sim.transcript(), "open /DSK/SITE.CFG for reading")) << device.sim.transcript();

    // Plain templates are fine for qx.CLI.
    h = runJob(routerRow("Template", {{"model", "QX-1"}}));
    EXPECT_EQ(h["status"], "success") << log;
}

TEST_F(ConfigBuild, MissingTemplatesAndUnknownTypes) {
    auto h = runJob(routerRow("Template", {{"globalmaster", "absent.tmpl"}}));
    expectBuildFailure(h, "Could not open template file -> Aborting");
    EXPECT_FALSE(fileExists(configPath()));

    h = runJob(routerRow("Template", {{"globalmaster", ""}}));
    expectBuildFailure(h, "No template specified");

    h = runJob(routerRow("Bogus"));
    expectBuildFailure(h, "Config-type not supported: Bogus");
}

TEST_F(ConfigBuild, LocConfEncSealsTheBuiltConfiguration) {
    installSealTool();
    auto h = runJob(routerRow("Template"), "LocConfEnc");
    EXPECT_EQ(result.exitCode, 0) << log;
    EXPECT_EQ(h["status"], "success") << log;
    const std::string sealed = readFile(configPath());
    EXPECT_EQ(sealed.rfind("SEALTOOL 1\n", 0), 0u) << sealed;
    // The history holds the configuration as read back after the tool ran.
    EXPECT_EQ(h["config"], sealed);
    EXPECT_FALSE(fileExists(setup.transferDir() + "42.csv"));
    EXPECT_TRUE(contains(log, "*** Encrypting config.")) << log;
    EXPECT_TRUE(contains(log, "*** Importing downloaded or pre-generated config file.")) << log;
    EXPECT_FALSE(contains(h["log"], "Lum!nar")) << log;
    // The tool was given the built configuration and the fixed password.
    auto opened = testsupport::runProcess({testsupport::builtProgram("tests/sealtool/sealtool"), "-u", "#Lum!nar",
                                           configPath(), setup.transferDir() + "opened"});
    ASSERT_EQ(opened.exitCode, 0) << opened.err;
    EXPECT_EQ(readFile(setup.transferDir() + "opened"), kPatched);

    // With -d the commands are in the debug lines.
    h = runJob(routerRow("Template"), "LocConfEnc", {"-d"});
    EXPECT_EQ(h["status"], "success") << log;
    EXPECT_TRUE(contains(log, "DBG - " + setup.root.path() + "/bin/sealtool-linux-i386 -o 1 " + configPath() + " " +
                                  setup.transferDir() + "42.csv"))
        << log;
    EXPECT_TRUE(contains(log, "DBG - " + setup.root.path() + "/bin/sealtool-linux-i386 -p '#Lum!nar' " +
                                  setup.transferDir() + "42.csv " + configPath()))
        << log;
}

TEST_F(ConfigBuild, LocConfEncFailures) {
    // qx.CLI: built, but not encrypted.
    installSealTool();
    auto h = runJob(routerRow("Template", {{"model", "QX-1"}}), "LocConfEnc");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(h["reason"], "Cannot encrypt cfg");
    EXPECT_TRUE(contains(log, "Config-encryption not supported for 'qx.CLI'.")) << log;
    EXPECT_TRUE(contains(log, "Config created.")) << log;
    EXPECT_EQ(readFile(configPath()), kPatched);

    // No tool at all: the shell cannot find it.
    remove((setup.root.path() + "/bin/sealtool-linux-i386").c_str());
    h = runJob(routerRow("Template"), "LocConfEnc");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(h["status"], "error");
    EXPECT_EQ(h["reason"], "Cannot encrypt cfg");
    EXPECT_TRUE(contains(log, "(conversion) ended with exit status 127.")) << log;
    EXPECT_FALSE(fileExists(setup.transferDir() + "42.csv"));

    // A tool whose sealing step fails after the conversion wrote its file.
    installSealTool(
        "#!/bin/sh\n"
        "if [ \"$1\" = -o ]; then cp \"$3\" \"$4\"; exit 0; fi\n"
        "echo \"$2\" > \"" +
        setup.root.path() +
        "/password-seen\"\n"
        "exit 3\n");
    h = runJob(routerRow("Template"), "LocConfEnc");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(h["reason"], "Cannot encrypt cfg");
    EXPECT_TRUE(contains(log, "(encryption) ended with exit status 3.")) << log;
    EXPECT_EQ(readFile(setup.root.path() + "/password-seen"), "#Lum!nar\n");
    EXPECT_FALSE(fileExists(setup.transferDir() + "42.csv"));
    EXPECT_FALSE(contains(h["log"], "Lum!nar")) << log;
    EXPECT_FALSE(contains(result.out + result.err, "Lum!nar"));
}
