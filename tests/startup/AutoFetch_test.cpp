// The download stage of a fetch-and-merge router keeps the device's
// configuration as the router's "AutoFetch" row for the build to merge into.
#include <gtest/gtest.h>

#include "main/Tarvo.h"
#include "tests/e2esupport/JobSetup.h"
#include "util/logEngine.h"

using e2e::JobSetup;
using testsupport::contains;

TEST(AutoFetch, TheDownloadIsStoredASecondBeforeTheJobAndReplacesTheLastOne) {
    JobSetup s;
    s.writeSettings();
    s.db.exec("INSERT INTO cordal_routertypes (shortname, ifindexoffset, os) VALUES ('NX-1', 0, 'NEXA')");
    unsigned long router = s.addRouter({{"name", "merge-1"}, {"model", "NX-1"}, {"configtype", "Fetch-and-Merge"}});
    // An older fetch and a backup of the same router.
    s.db.exec("INSERT INTO cordal_configs (routerid, jobtime, workmode, osrel, config) VALUES (" +
              std::to_string(router) + ", 5, 'AutoFetch', 'R1', 'old'), (" + std::to_string(router) +
              ", 6, 'GetConf', 'R1', 'backup')");
    s.addJob(42, router, "Config", 4294967300ULL);
    const std::string text = "# fetched\nsysTable\n{\n  name 'it''s'\n}\n";
    testsupport::writeFile(s.transferDir() + "42.config", text);

    Tarvo job(42, false, false, false, false, Paths(s.root.path()));
    job.Init();
    ASSERT_EQ(job.reason, "");
    EXPECT_TRUE(job.storeAutoFetch());
    EXPECT_EQ(job.reason, "");
    auto rows = s.db.rows("SELECT jobtime, workmode, osrel, config FROM cordal_configs WHERE routerid=" +
                          std::to_string(router) + " ORDER BY jobtime");
    ASSERT_EQ(rows.size(), 2u) << "only the newest AutoFetch row stays; backups are not touched";
    EXPECT_EQ(rows[0][1].value_or(""), "GetConf");
    EXPECT_EQ(rows[1][0].value_or(""), "4294967299") << "the job time minus one, beyond 32 bits";
    EXPECT_EQ(rows[1][1].value_or(""), "AutoFetch");
    EXPECT_EQ(rows[1][2].value_or(""), "R7.1");
    EXPECT_EQ(rows[1][3].value_or(""), text);

    // Without the downloaded file there is nothing to merge into.
    std::remove((s.transferDir() + "42.config").c_str());
    EXPECT_FALSE(job.storeAutoFetch());
    EXPECT_EQ(job.reason, "No config");
    EXPECT_TRUE(contains(job.log->dumpAsString(), "Could not read device-config"));
    EXPECT_EQ(s.db.count("cordal_configs", "routerid=" + std::to_string(router)), 2);
}
