// Values from the database are data: a router name, a password, a variable
// or a file name never becomes a command of its own on a device, never
// names a file outside the folder it belongs to, and one job never takes
// away what another job of the same router needs. What the device did is
// read from its transcript and state; the job's log only says why.
#include <unistd.h>

#include <regex>

#include "tests/e2e/UploadFixture.h"
#include "tests/image/ImageBuilder.h"

using testsupport::contains;
using testsupport::fileExists;
using testsupport::makeDirs;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

const char kMarker[] = "MARKER-7f3e-outside-file";

// A stand-in for the configurations a payload would destroy.
const char kFactoryBoot[] =
    "systemTable\n"
    "{\n"
    "   tmibAdmSystemName        (RW,DisplayStr):  \"factory\"\n"
    "}\n";

class DatabaseValues : public UploadFixture {
protected:
    void SetUp() override {
        UploadFixture::SetUp();
        // The file no job may read: outside the transfer and template folders.
        writeFile(setup.root.file("secret.txt"), std::string(kMarker) + "\n");
        for (const char* model : {"NX-1", "QX-1"}) {
            makeDirs(setup.templateDir() + model);
            writeFile(setup.templateDir() + model + "/vars.tmpl",
                      "systemTable\n{\n   tmibAdmSystemName        (RW,DisplayStr):  \"[additional.note]\"\n"
                      "   tmibAdmSystemContact     (RW,DisplayStr):  \"[router.var_01]\"\n}\n");
        }
    }

    // A NEXA device with the configurations a payload could delete.
    bool startNexa(SimRouter& device) {
        if (!startDevice(device, "nexa")) return false;
        device.sim.writeStateFile("configs/boot_fac", kFactoryBoot);
        device.sim.writeStateFile("configs/opsbase_backup", kFactoryBoot);
        return true;
    }

    void addRelease(const std::string& model, const std::map<std::string, std::string>& columns) {
        std::string names = "name, routertype", values = "'R1', " + testdb::TestDatabase::quote(model);
        for (const auto& [column, value] : columns) {
            names += ", " + column;
            values += ", " + testdb::TestDatabase::quote(value);
        }
        setup.db.exec("INSERT INTO cordal_swrelease (" + names + ") VALUES (" + values + ")");
    }

    void writeImage(const std::string& model, const std::string& name, const std::string& bytes) {
        makeDirs(setup.transferDir() + "images/" + model);
        writeFile(setup.transferDir() + "images/" + model + "/" + name, bytes);
    }

    void addAdditional(unsigned long routerId, const std::string& name, const std::string& value) {
        setup.db.exec("INSERT INTO cordal_router_additionals(routerid, varname, data, pwd) VALUES (" +
                      std::to_string(routerId) + ", " + testdb::TestDatabase::quote(name) + ", " +
                      testdb::TestDatabase::quote(value) + ", 'no')");
    }

    // Every job of a test is job 42; the rows of the one before go first.
    void clearRows() {
        setup.db.exec(
            "DELETE FROM cordal_jobhistory; DELETE FROM cordal_jobs; DELETE FROM cordal_router; "
            "DELETE FROM cordal_router_additionals; DELETE FROM cordal_swrelease");
    }

    // Whether the outside file's text reached anything of the job or the device.
    std::string markerSeen(const SimRouter& device, const std::map<std::string, std::string>& history) {
        std::string where;
        for (const auto& [column, value] : history)
            if (contains(value, kMarker)) where += "history " + column + "; ";
        if (contains(result.out + result.err, kMarker)) where += "program output; ";
        if (contains(readFile(setup.transferDir() + "42.config"), kMarker)) where += "42.config; ";
        auto found = testsupport::runProcess({"grep", "-rl", kMarker, device.sim.stateDir()});
        if (!found.out.empty()) where += "device state: " + found.out;
        return where;
    }
};

}  // namespace

// Each value would have become a line (or an argument) the device runs.
// The job ends before it connects: the device receives nothing at all.
TEST_F(DatabaseValues, HostileValuesNeverReachTheDevice) {
    struct Case {
        const char* family;
        const char* conntype;
        const char* workmode;
        std::string column;  // a router column, "additional" or "swrelease.COLUMN"
        std::string value;
        const char* reason;
        const char* why;  // what the log must say about it
    };
    const std::string payload = "configd delete boot_fac";
    const Case cases[] = {
        {"nexa", "Telnet", "Certs", "name", "nx'\n" + payload + "\nx'", "Bad router.name", "holds a line feed"},
        {"nexa", "SSH", "Certs", "name", "gw\r" + payload, "Bad router.name", "holds a carriage return"},
        {"nexa", "Telnet", "Certs", "name", std::string("gw\0", 3) + payload, "Bad router.name", "holds a NUL byte"},
        {"nexa", "Telnet", "Certs", "name", "gw' '-sboot", "Bad router.name", "holds a single quote"},
        {"nexa", "SSH", "Certs", "name", "-sboot", "Bad router.name", "begins with '-'"},
        {"nexa", "SSH", "Certs", "tmibadmadmincommunity", "Adm1n\nconfigd delete opsbase_backup",
         "Bad router.tmibadmadmincommunity", "holds a line feed"},
        {"nexa", "Telnet", "Certs", "tmibadmadmincommunity", "Adm1n -sboot", "Bad router.tmibadmadmincommunity",
         "holds a blank"},
        {"nexa", "Telnet", "Reboot", "oldcommunity", "Old\n" + payload, "Bad router.oldcommunity", "holds a line feed"},
        {"nexa", "Telnet", "SetPass", "tmibadmreadcommunity", "Rd\r" + payload, "Bad router.tmibadmreadcommunity",
         "holds a carriage return"},
        {"nexa", "SSH", "SetPass", "tmibadmwritecommunity", "Wr\"\"; " + payload, "Bad router.tmibadmwritecommunity",
         "holds a double quote"},
        {"qxcli", "Telnet", "SetPass", "tmibadmadmincommunity", "Pw\"x", "Bad router.tmibadmadmincommunity",
         "holds a double quote"},
        {"nexa", "Telnet", "GetConf", "localipfortftp", "-h", "Bad router.localipfortftp", "begins with '-'"},
        {"nexa", "Telnet", "Test", "ipgateway", "10.0.0.254 -c 99999", "Bad router.ipgateway", "holds a blank"},
        {"qxcli", "SSH", "Test", "localipforping", "-x", "Bad router.localipforping", "begins with '-'"},
        {"nexa", "Telnet", "Config", "additional", "x\"\n}\nevilTable\n{", "Bad additional.note", "holds a line feed"},
        {"nexa", "Telnet", "Config", "additional", std::string("x\0evilTable", 11), "Bad additional.note",
         "holds a NUL byte"},
        {"qxcli", "SSH", "Config", "var_01", "x\revilTable", "Bad router.var_01", "holds a carriage return"},
        {"nexa", "Telnet", "Image", "swrelease.logic", "logic.img\n" + payload, "Bad swrelease.logic",
         "holds a line feed"},
        {"qxcli", "SSH", "Image", "swrelease.nexa", "sys.img\nrm /DSK/BOOT.CFG", "Bad swrelease.nexa",
         "holds a line feed"},
        {"nexa", "Telnet", "Image", "swrelease.logic", "logic%2e.img", "Bad swrelease.logic", "holds '%'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.workmode) + " " + c.family + "/" + c.conntype + " " + c.column);
        clearRows();
        SimRouter device(std::string(c.family) + c.conntype);
        ASSERT_TRUE(std::string(c.family) == "nexa" ? startNexa(device) : startDevice(device, c.family))
            << device.sim.error();
        const std::string model = std::string(c.family) == "nexa" ? "NX-1" : "QX-1";
        std::map<std::string, std::string> extra{{"softwareimage", "R1"}, {"globalmaster", "vars.tmpl"}};
        // The administrator password the device takes comes second where
        // the first one is the hostile value.
        if (c.column == "tmibadmadmincommunity") extra["oldcommunity"] = kAdminPassword;
        if (c.column == "oldcommunity") extra["tmibadmadmincommunity"] = "Not-The-Pw";
        if (c.column.find('.') == std::string::npos && c.column != "additional") extra[c.column] = c.value;
        unsigned long id = setup.addRouter(routerRow(device, model, c.conntype, extra));
        addAdditional(id, "note", c.column == "additional" ? c.value : "fine");
        std::map<std::string, std::string> images{{"nexa", model == "NX-1" ? "nexa.img" : "sys.img"}};
        if (c.column.rfind("swrelease.", 0) == 0) images[c.column.substr(10)] = c.value;
        addRelease(model, images);
        writeImage("NX-1", "nexa.img", imagebuilder::nexaSystemImage(3));
        writeImage("QX-1", "sys.img", "QXCLI-IMAGE 10.3.1\n" + std::string(900, 's'));
        makePkcs12(certFile(id), "gw-essen");

        auto h = runJob(42, id, c.workmode);
        EXPECT_EQ(result.exitCode, 2) << log;
        EXPECT_EQ(h["reason"], c.reason) << log;
        EXPECT_TRUE(contains(log, c.why)) << log;
        EXPECT_TRUE(contains(log, "Nothing was sent to the device.")) << log;
        const std::string transcript = device.sim.transcript();
        EXPECT_FALSE(contains(transcript, "<<<")) << "the device received something:\n" << transcript;
        EXPECT_FALSE(contains(transcript, "delete")) << transcript;
        if (model == "NX-1") {
            EXPECT_EQ(device.sim.readStateFile("configs/boot_fac"), kFactoryBoot);
            EXPECT_EQ(device.sim.readStateFile("configs/opsbase_backup"), kFactoryBoot);
        }
    }

    // Sound values with the same characters where their command quotes
    // them: a blank and a leading "-" in a password between double quotes,
    // blanks and parentheses in a certificate label between single quotes.
    clearRows();
    SimRouter device("sound");
    ASSERT_TRUE(startNexa(device)) << device.sim.error();
    unsigned long id = setup.addRouter(routerRow(device, "NX-1", "Telnet",
                                                 {{"tmibadmadmincommunity", kAdminPassword},
                                                  {"tmibadmwritecommunity", "-new write pw"},
                                                  {"name", "gw essen (main)"}}));
    makePkcs12(certFile(id), "gw-essen");
    auto h = runJob(42, id, "Certs");
    EXPECT_EQ(h["status"], "success") << log;
    EXPECT_TRUE(contains(device.sim.transcript(), " 'gw essen (main)'\n")) << device.sim.transcript();
    h = runJobFor(43, id, "SetPass", {"-l"});
    EXPECT_EQ(h["status"], "success") << log;
    EXPECT_TRUE(contains(device.sim.readStateFile("communities"), "write -new write pw\n"))
        << device.sim.readStateFile("communities");
}

// A file name from the database is resolved inside its folder: the outside
// file's text appears nowhere, and the device is not touched.
TEST_F(DatabaseValues, FileNamesStayInsideTheirFolders) {
    const std::string secret = setup.root.file("secret.txt");
    symlink(secret.c_str(), (setup.templateDir() + "NX-1/link.tmpl").c_str());
    symlink("../../../../secret.txt", (setup.templateDir() + "NX-1/relative.tmpl").c_str());
    symlink("upload.tmpl", (setup.templateDir() + "NX-1/alias.tmpl").c_str());
    makeDirs(setup.transferDir() + "images/NX-1");
    symlink(secret.c_str(), (setup.transferDir() + "images/NX-1/outside.img").c_str());
    struct Case {
        const char* family;
        const char* workmode;
        std::map<std::string, std::string> router;
        std::map<std::string, std::string> release;
        const char* reason;
        const char* why;
    };
    const Case cases[] = {
        {"nexa",
         "LocalConf",
         {{"globalmaster", "../../../../secret.txt"}},
         {},
         "Bad router.globalmaster",
         "a '..' component"},
        {"nexa", "Config", {{"globalmaster", secret}}, {}, "Bad router.globalmaster", "an absolute name"},
        {"nexa", "LocalConf", {{"globalmaster", "link.tmpl"}}, {}, "Bad router.globalmaster", "leads out of"},
        {"nexa",
         "All",
         {{"globalmaster", "relative.tmpl"}},
         {{"nexa", "nexa.img"}},
         "Bad router.globalmaster",
         "leads out of"},
        {"nexa",
         "LocalConf",
         {{"configtype", "Customer-Template"}, {"globalmaster", ""}},
         {{"globalmaster", "../../../../secret.txt"}},
         "Bad swrelease.globalmaster",
         "a '..' component"},
        {"qxcli", "Image", {}, {{"nexa", "../../../secret.txt"}}, "Bad swrelease.nexa", "a '..' component"},
        {"qxcli",
         "Image",
         {},
         {{"nexa", "sys.img"}, {"bootmonitor", secret}},
         "Bad swrelease.bootmonitor",
         "an absolute name"},
        {"nexa", "Image", {}, {{"nexa", "../../../secret.txt"}}, "Bad swrelease.nexa", "a '..' component"},
        {"nexa", "Image", {}, {{"nexa", "nexa.img"}, {"logic", "outside.img"}}, "Bad swrelease.logic", "leads out of"},
        // A stored configuration is named by its jobtime: other names name none.
        {"nexa",
         "LocalConf",
         {{"configtype", "Client"}, {"downloadedmaster", "../../../../secret.txt"}},
         {},
         "Cfg-building failed",
         "Could not export downloaded config from database"},
    };
    writeImage("NX-1", "nexa.img", imagebuilder::nexaSystemImage(3));
    writeImage("QX-1", "sys.img", "QXCLI-IMAGE 10.3.1\n" + std::string(900, 's'));
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.workmode) + " " + c.family + " " + c.reason);
        clearRows();
        remove((setup.transferDir() + "42.config").c_str());
        SimRouter device(std::string("paths-") + c.family);
        ASSERT_TRUE(startDevice(device, c.family)) << device.sim.error();
        const std::string model = std::string(c.family) == "nexa" ? "NX-1" : "QX-1";
        std::map<std::string, std::string> columns = c.router;
        columns["softwareimage"] = "R1";
        if (!columns.count("globalmaster")) columns["globalmaster"] = "upload.tmpl";
        unsigned long id = setup.addRouter(routerRow(device, model, "SSH", columns));
        addRelease(model, c.release);
        writeFile(setup.transferDir() + certFile(id), "");
        auto h = runJob(42, id, c.workmode);
        EXPECT_EQ(result.exitCode, 2) << log;
        EXPECT_EQ(h["reason"], c.reason) << log;
        EXPECT_TRUE(contains(log, c.why)) << log;
        EXPECT_EQ(markerSeen(device, h), "");
        EXPECT_FALSE(contains(device.sim.transcript(), "<<<")) << device.sim.transcript();
        EXPECT_FALSE(contains(device.sim.transcript(), "sftp")) << device.sim.transcript();
    }

    // A link that stays inside the folder is an ordinary template.
    clearRows();
    SimRouter device("alias");
    ASSERT_TRUE(startDevice(device, "nexa")) << device.sim.error();
    auto h =
        runJob(42, setup.addRouter(routerRow(device, "NX-1", "SSH", {{"globalmaster", "alias.tmpl"}})), "LocalConf");
    EXPECT_EQ(h["status"], "success") << log;
    EXPECT_TRUE(contains(h["config"], "tmibAdmSystemName        (RW,DisplayStr):  \"gw-essen\"")) << h["config"];
}

// The certificate files belong to the job that loads them: a "LocalConf"
// job of the same router that ends first leaves them for the "Config" job.
TEST_F(DatabaseValues, LocalConfLeavesTheCertificatesOfTheRouter) {
    SimRouter device("certs");
    ASSERT_TRUE(startDevice(device, "nexa")) << device.sim.error();
    unsigned long id = setup.addRouter(routerRow(device, "NX-1", "Telnet"));
    makePkcs12(certFile(id), "gw-essen");
    auto local = runJob(41, id, "LocalConf");
    EXPECT_EQ(local["status"], "success") << log;
    EXPECT_TRUE(fileExists(setup.transferDir() + certFile(id)));
    auto config = runJob(42, id, "Config");
    EXPECT_EQ(config["status"], "success") << config["reason"] << log;
    EXPECT_TRUE(contains(device.sim.transcript(), "pkcs12 'gw-essen'")) << device.sim.transcript();
    // The job that loaded them removes them.
    EXPECT_FALSE(fileExists(setup.transferDir() + certFile(id)));
}

// A configuration the device has taken holds the router's passwords and
// leaves the folder the transfer server serves; the history row keeps it.
// "LocalConf" and "LocConfEnc" make the file: it stays.
TEST_F(DatabaseValues, UploadedConfigurationsLeaveTheTransferFolder) {
    struct Case {
        const char* family;
        const char* conntype;
        const char* workmode;
        bool kept;
    };
    const Case cases[] = {
        {"nexa", "Telnet", "Config", false},
        {"qxcli", "SSH", "BootFac", false},
        {"nexa", "SSH", "ConfigAll", false},
        {"nexa", "Telnet", "LocalConf", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.workmode);
        clearRows();
        SimRouter device(std::string("upload-") + c.workmode);
        ASSERT_TRUE(startDevice(device, c.family)) << device.sim.error();
        unsigned long id =
            setup.addRouter(routerRow(device, std::string(c.family) == "nexa" ? "NX-1" : "QX-1", c.conntype));
        writeFile(setup.transferDir() + certFile(id), "");
        auto h = runJob(42, id, c.workmode);
        EXPECT_EQ(h["status"], "success") << h["reason"] << log;
        EXPECT_TRUE(contains(h["config"], "\"gw-essen\"")) << h["config"];
        EXPECT_EQ(fileExists(setup.transferDir() + "42.config"), c.kept);
        if (!c.kept) {
            EXPECT_TRUE(contains(log, "Removing uploaded config-file")) << log;
        }
    }
}

// A password of two letters: ordinary words keep their letters, and the
// password never stands as a word of its own in anything the job wrote.
TEST_F(DatabaseValues, ShortPasswordIsMaskedOnlyWhereItStandsAlone) {
    SimRouter device("short");
    ASSERT_TRUE(device.start("nexa", {"--transfer-dir", setup.transferDir(), "--user", "admin", "--password", "on"}))
        << device.sim.error();
    unsigned long id = setup.addRouter(routerRow(device, "NX-1", "SSH",
                                                 {{"tmibadmadmincommunity", "on"},
                                                  {"oldcommunity", "on"},
                                                  {"tmibadmreadcommunity", ""},
                                                  {"tmibadmwritecommunity", ""}}));
    auto h = runJob(42, id, "GetConf");
    EXPECT_EQ(h["status"], "success") << h["reason"] << log;
    EXPECT_TRUE(contains(log, "*** SSH-connecting.")) << log;
    EXPECT_TRUE(contains(log, "*** Getting config.")) << log;
    EXPECT_TRUE(contains(log, "Successfully logged into router.")) << log;
    const std::regex word("(^|[^A-Za-z0-9_])on([^A-Za-z0-9_]|$)");
    for (const auto& [name, text] : std::map<std::string, std::string>{
             {"history log", h["log"]}, {"standard error", result.err}, {"standard output", result.out}})
        EXPECT_FALSE(std::regex_search(text, word)) << name << ":\n" << text;
}
