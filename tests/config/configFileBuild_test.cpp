// The building constructor on its own, against the private MariaDB: the
// file names per suffix, the automatic download as the merge base, and an
// output file that cannot be written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/configFile.h"
#include "db/Cordal_contacts.h"
#include "db/Cordal_router.h"
#include "db/Cordal_routertypes.h"
#include "db/Database.h"
#include "db/dbGroupLicenses.h"
#include "db/dbGroupRouteradditionals.h"
#include "tests/dbsupport/TestDatabase.h"
#include "tests/support/TestSupport.h"
#include "util/logEngine.h"

using testsupport::contains;
using testsupport::fileExists;
using testsupport::readFile;

namespace {
class Building : public ::testing::Test {
protected:
    void SetUp() override {
        tdb.exec(
            "INSERT INTO cordal_routertypes(shortname, os) VALUES ('NX-1', 'NEXA');"
            "INSERT INTO cordal_router(id, name, model, configtype, globalmaster) VALUES"
            " (1, 'gw-1', 'NX-1', 'Template', 'm.tmpl'), (2, 'gw-2', 'NX-1', 'Fetch-and-Merge', 'm.tmpl');"
            "INSERT INTO cordal_configs(routerid, jobtime, workmode, config) VALUES"
            " (2, 1700000000, 'AutoFetch', 'system\\n{\\n name \"old\"\\n}\\nroutes\\n{\\n r\\n}')");
        testsupport::makeDirs(root.path() + "/tftpboot");
        testsupport::makeDirs(root.path() + "/templates/NX-1");
        testsupport::writeFile(root.path() + "/templates/NX-1/m.tmpl",
                               "system\n{\n name \"[router.name]\" job [opsbase.jobid]\n}\n");
    }
    void TearDown() override {
        if (HasFailure()) {
            std::vector<std::string> lines;
            log.fillVector(lines);
            for (const auto& line : lines) std::cerr << line << "\n";
        }
    }

    std::string build(unsigned long routerId, const std::string& suffix, const std::string& transferDir) {
        Cordal_router router(db, routerId);
        Cordal_routertypes type(db, router.model);
        dbGroupRouteradditionals additionals(&db, routerId);
        dbGroupLicenses licenses(&db, router.seriennr);
        Cordal_contacts contacts(db, router.customerid);
        configFile config(&log, 77, &router, &type, false, nullptr, &additionals, &licenses, &contacts, suffix, &db,
                          transferDir, root.path() + "/templates/");
        buffer = config.getBuffer();
        return config.getFileName();
    }
    std::string logText() { return testsupport::logText(log); }

    testdb::TestDatabase tdb;
    logEngine log;
    Database db{tdb.host(), tdb.user(), tdb.password(), tdb.name(), &log};
    testsupport::TempDir root;
    std::string buffer;
};
}  // namespace

TEST_F(Building, FileNamePerSuffix) {
    const std::string transfer = root.path() + "/tftpboot/";
    EXPECT_EQ(build(1, ".config", transfer), transfer + "77.config");
    EXPECT_EQ(build(1, ".config_cmp", transfer), transfer + "77.config_cmp");
    EXPECT_EQ(readFile(transfer + "77.config_cmp"), "system\n{\n name \"gw-1\" job 77\n}\n");
    EXPECT_EQ(buffer, readFile(transfer + "77.config_cmp"));
    EXPECT_TRUE(contains(logText(), "INF - No swrelease -> Skip related fields-patching"));
}

TEST_F(Building, FetchAndMergeStartsFromTheAutomaticDownload) {
    const std::string transfer = root.path() + "/tftpboot/";
    ASSERT_EQ(build(2, ".config", transfer), transfer + "77.config");
    EXPECT_EQ(readFile(transfer + "77.config"), "system\n{\n name \"gw-2\" job 77\n}\nroutes\n{\n r\n}\n");
    EXPECT_FALSE(fileExists(transfer + "77.config_tmp"));
    EXPECT_TRUE(contains(logText(), "INF - Merging processed template into downloaded config"));
}

TEST_F(Building, AnUnwritableOutputFails) {
    const std::string missing = root.path() + "/no-such-dir/";
    EXPECT_EQ(build(1, ".config", missing), "");
    EXPECT_TRUE(contains(logText(), "ERR - Could not open output-config-file (" + missing + "77.config) -> Aborting"));
    // The merge file cannot be written either.
    EXPECT_EQ(build(2, ".config", missing), "");
    EXPECT_TRUE(
        contains(logText(), "ERR - Could not open output-config-file (" + missing + "77.config_tmp) -> Aborting"));
    // and the template is not even read then.
    const std::string text = logText();
    EXPECT_EQ(text.find("Template-config", text.find("Config-type: Fetch-and-Merge")), std::string::npos);
}
