// The dispatcher's settings: defaults, its own keys, and values it must
// refuse rather than read as 0.
#include <gtest/gtest.h>

#include "dispatch/DispatchSettings.h"
#include "tests/support/TestSupport.h"

namespace {

const char kDatabase[] =
    "<cordal>\n  <database>\n    <server>db1:3306,db2:3306</server>\n    <DBNAME>tarvo</DBNAME>\n"
    "    <dbuser>u</dbuser>\n    <dbpass>p&w</dbpass>\n  </database>\n";

struct Case {
    const char* dispatch;  // the dispatch element's children
    bool ok;
    unsigned maxJobs;
    unsigned pollMilliseconds;
    const char* metricsFile;
    const char* error;  // part of the error when refused
};

TEST(DispatchSettings, KeysDefaultsAndRefusedValues) {
    const Case cases[] = {
        {"", true, 8, 5000, DispatchSettings::kDefaultMetricsFile, ""},
        {"<maxJobs>3</maxJobs><pollInterval>0.5</pollInterval><metricsFile> /m.prom </metricsFile>", true, 3, 500,
         "/m.prom", ""},
        {"<metricsFile></metricsFile>", true, 8, 5000, "", ""},
        {"<maxJobs> 1024 </maxJobs>", true, 1024, 5000, DispatchSettings::kDefaultMetricsFile, ""},
        {"<maxJobs>0</maxJobs>", false, 0, 0, "", "dispatch.maxJobs must be"},
        {"<maxJobs>1025</maxJobs>", false, 0, 0, "", "dispatch.maxJobs"},
        {"<maxJobs>4x</maxJobs>", false, 0, 0, "", "not '4x'"},
        {"<maxJobs>2.5</maxJobs>", false, 0, 0, "", "dispatch.maxJobs"},
        {"<maxJobs></maxJobs>", false, 0, 0, "", "dispatch.maxJobs"},
        {"<pollInterval>0</pollInterval>", false, 0, 0, "", "dispatch.pollInterval must be"},
        {"<pollInterval>-1</pollInterval>", false, 0, 0, "", "dispatch.pollInterval"},
        {"<pollInterval>nan</pollInterval>", false, 0, 0, "", "dispatch.pollInterval"},
        {"<pollInterval>3601</pollInterval>", false, 0, 0, "", "dispatch.pollInterval"},
    };
    testsupport::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dispatch);
        testsupport::writeFile(dir.file("cordal.xml"),
                               std::string(kDatabase) + "  <dispatch>" + c.dispatch + "</dispatch>\n</cordal>\n");
        DispatchSettings s;
        s.maxJobs = 77;
        std::string error;
        ASSERT_EQ(s.load(dir.file("cordal.xml"), error), c.ok) << error;
        if (!c.ok) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            EXPECT_EQ(s.maxJobs, 77u) << "a refused file changes nothing";
            continue;
        }
        EXPECT_EQ(s.maxJobs, c.maxJobs);
        EXPECT_EQ(s.pollMilliseconds, c.pollMilliseconds);
        EXPECT_EQ(s.metricsFile, c.metricsFile);
        EXPECT_EQ(s.dbHost, "db1:3306,db2:3306");
        EXPECT_EQ(s.dbName, "tarvo") << "found in any letter case, as the job runner finds it";
        EXPECT_EQ(s.dbPass, "p&w");
    }
}

// The lease is the job runner's key, read from the same file; without it
// the job deadline.
TEST(DispatchSettings, ClaimLease) {
    const struct {
        const char* config;
        bool ok;
        unsigned lease;
    } cases[] = {
        {"", true, 7200},
        {"<jobdeadline>600</jobdeadline>", true, 600},
        {"<jobdeadline>0</jobdeadline>", true, 7200},
        {"<jobdeadline>soon</jobdeadline>", true, 7200},
        {"<claimLease> 45 </claimLease><jobdeadline>600</jobdeadline>", true, 45},
        {"<claimLease>999999999</claimLease>", true, 999999999},
        {"<claimLease>0</claimLease>", false, 0},
        {"<claimLease>1.5</claimLease>", false, 0},
        {"<claimLease>90s</claimLease>", false, 0},
        {"<claimLease>1000000000</claimLease>", false, 0},
    };
    testsupport::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.config);
        testsupport::writeFile(dir.file("cordal.xml"),
                               std::string(kDatabase) + "  <config>" + c.config + "</config>\n</cordal>\n");
        DispatchSettings s;
        std::string error;
        ASSERT_EQ(s.load(dir.file("cordal.xml"), error), c.ok) << error;
        if (c.ok)
            EXPECT_EQ(s.claimLeaseSeconds, c.lease);
        else
            EXPECT_NE(error.find("config.claimLease must be whole seconds"), std::string::npos) << error;
    }
}

TEST(DispatchSettings, FilesThatCannotBeUsed) {
    testsupport::TempDir dir;
    DispatchSettings s;
    std::string error;
    EXPECT_FALSE(s.load(dir.file("missing.xml"), error));
    EXPECT_NE(error.find("cannot read"), std::string::npos) << error;

    testsupport::writeFile(dir.file("nodb.xml"), "<cordal><dispatch><maxJobs>2</maxJobs></dispatch></cordal>\n");
    EXPECT_FALSE(s.load(dir.file("nodb.xml"), error));
    EXPECT_NE(error.find("no database settings"), std::string::npos) << error;

    // The parser's message would quote the line with the password.
    testsupport::writeFile(dir.file("broken.xml"), "<cordal>\n<dbpass>secret-pw</dbpass>\n<dispatch>\n");
    EXPECT_FALSE(s.load(dir.file("broken.xml"), error));
    EXPECT_NE(error.find("cannot parse"), std::string::npos) << error;
    EXPECT_EQ(error.find("secret-pw"), std::string::npos) << error;
}

}  // namespace
