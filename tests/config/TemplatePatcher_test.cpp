// Template patching: placeholder forms, letter case, net-mask and time
// conversions, the order of the steps, hidden values, and names and values
// from the database that look like pattern syntax.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "config/TemplatePatcher.h"
#include "db/Cordal_contacts.h"
#include "db/Cordal_router.h"
#include "db/Cordal_swrelease.h"
#include "db/Database.h"
#include "db/dbGroupLicenses.h"
#include "db/dbGroupRouteradditionals.h"
#include "tests/dbsupport/TestDatabase.h"
#include "tests/support/TestSupport.h"
#include "util/logEngine.h"

using testsupport::contains;
using testsupport::logText;

namespace {

// Records without a database: the patch steps only read their members.
class Patching : public ::testing::Test {
protected:
    Patching() : router(nullptr), contacts(nullptr), release(&log, false, "/nonexistent/", nullptr) {
        router.name = "gw-essen-01";
        router.pass = "Adm1n-Secret";
        router.ipnetmask = "255.255.255.0";
        router.model = "NX-1";
        sources.jobId = 42;
        sources.router = &router;
        sources.contacts = &contacts;
    }

    std::string patch(const std::string& text) {
        std::string buffer = text;
        TemplatePatcher(buffer, &log, sources).patchAll();
        return buffer;
    }
    void TearDown() override {
        if (HasFailure()) std::cerr << logText(log);
    }

    logEngine log;
    Cordal_router router;
    Cordal_contacts contacts;
    Cordal_swrelease release;
    TemplatePatcher::Sources sources;
};
}  // namespace

TEST_F(Patching, PlaceholderFormsAndLetterCase) {
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"name [router.name]\n", "name gw-essen-01\n"},
        {"[ROUTER.NAME] [Router.Name] [router.NAME]", "gw-essen-01 gw-essen-01 gw-essen-01"},
        {"mask [{nm2pl}router.ipnetmask] [{NM2PL}ROUTER.IPNETMASK]", "mask 24 24"},
        {"both [router.ipnetmask]/[{nm2pl}router.ipnetmask]", "both 255.255.255.0/24"},
        {"job [opsbase.jobid]", "job 42"},
        {"[router.unknown] [additional.none] [router.name.x] [router.nam]",
         "[router.unknown] [additional.none] [router.name.x] [router.nam]"},
        // A dot in a name is a dot, not "any character".
        {"[routerXname] [router.name]", "[routerXname] gw-essen-01"},
        {"at [22:50+75]", "at 00:05"},
        {"at [7:5+0]", "at 07:05"},
        {"[23:59+1] and [0:0+1440] and [1:2+3]", "00:00 and 00:00 and 01:05"},
        {"[99999999999999999999999:0+61]", "16:01"},
        // The inner placeholder first; its result completes the outer one.
        {"[[2:3+4]+5]", "02:12"},
        {"[1:2+] [a:1+1] [1:2-3]", "[1:2+] [a:1+1] [1:2-3]"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(patch(c.text), c.expected);
    }
    std::string log = logText(this->log);
    EXPECT_TRUE(contains(log, "INF - Replaced \"[router.name]\" with \"gw-essen-01\".")) << log;
    EXPECT_TRUE(contains(log, "INF - Replaced \"[{nm2pl}router.ipnetmask]\" with \"24\".")) << log;
    EXPECT_TRUE(contains(log, "INF - Add offset of 75 to hour: 22 minute: 50 \n")) << log;
    EXPECT_TRUE(contains(log, "INF - Replaced \"[22:50+75]\" with \"00:05\".")) << log;
    // The router's own mask is not changed by the conversion.
    EXPECT_EQ(router.ipnetmask, "255.255.255.0");
}

TEST_F(Patching, BadMasksKeepThePlaceholder) {
    struct Case {
        const char* mask;
        const char* logged;
    } cases[] = {
        {"255.0.255.0", "Cannot convert variable \"255.0.255.0\": Bad net-mask."},
        {"", "Cannot convert variable \"\": Not a net-mask."},
        {"255.255.255", "Cannot convert variable \"255.255.255\": Not a net-mask."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mask);
        router.ipnetmask = c.mask;
        EXPECT_EQ(patch("m [{nm2pl}router.ipnetmask] [router.ipnetmask]"),
                  std::string("m [{nm2pl}router.ipnetmask] ") + c.mask);
        std::string log = logText(this->log);
        EXPECT_TRUE(contains(log, std::string("ERR - ") + c.logged)) << log;
        EXPECT_TRUE(
            contains(log, "ERR - Cannot convert \"[{nm2pl}router.ipnetmask]\" from net-mask to prefix-length."));
    }
}

TEST_F(Patching, NetMaskBoundariesIn32Bits) {
    std::string buffer;
    TemplatePatcher patcher(buffer, &log, sources);
    struct Case {
        const char* mask;
        const char* prefix;  // null: not a valid mask
    } cases[] = {
        {"0.0.0.0", "0"},           {"128.0.0.0", "1"},      {"255.255.255.254", "31"}, {"255.255.255.255", "32"},
        {"255.255.255.0", "24"},    {"255.255.128.0", "17"}, {"255.0.255.0", nullptr},  {"0.255.255.255", nullptr},
        {"255.255.255.1", nullptr}, {"127.0.0.0", nullptr},  {"1.2.3.4.5", nullptr},    {"255.255.255.0 ", nullptr},
        {"0xff.0.0.0", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mask);
        std::string value = c.mask;
        EXPECT_EQ(patcher.convNetMsk2PfxLen(value, true), c.prefix != nullptr);
        EXPECT_EQ(value, c.prefix ? c.prefix : c.mask);
    }
}

TEST_F(Patching, ValuesAndNamesFromTheDatabaseAreLiteral) {
    const std::string password = "p$1w$&d\\0${name}$$\\\\end";
    router.pass = password;
    router.name = "$0";
    router.variables = {{"v(1", "paren"}, {"v+*[", "star"}, {"v.1", "dot"}, {"V[x]", "bracket"}};
    router.passwordFlags = {{"pwd_v(1", "no"}};
    std::string out = patch(
        "pw \"[router.pass]\" name [router.name]\n"
        "[router.v(1] [router.v+*[] [router.v.1] [router.vX1] [router.v[x]] [router.v11]\n");
    EXPECT_EQ(out, "pw \"" + password +
                       "\" name $0\n"
                       "paren star dot [router.vX1] bracket [router.v11]\n");
    std::string log = logText(this->log);
    EXPECT_FALSE(contains(log, "Parser:")) << log;
    EXPECT_FALSE(contains(log, password)) << log;
    EXPECT_TRUE(contains(log, "Replaced \"[router.pass]\" with \"***\".")) << log;
    EXPECT_TRUE(contains(log, "Replaced \"[router.v(1]\" with \"paren\".")) << log;
}

TEST_F(Patching, HiddenValuesNeverReachTheLog) {
    router.pass = "S3cret-pass";
    router.ipsec = "S3cret-ipsec";
    router.tmibadmadmincommunity = "S3cret-admin";
    router.oldcommunity = "S3cret-old";
    router.tmibadmreadcommunity = "S3cret-read";
    router.tmibadmwritecommunity = "S3cret-write";
    router.tmibadmhttppassword = "S3cret-http";
    router.variables = {{"var_01", "open-one"}, {"var_02", "S3cret-var"}, {"var_03", "S3cret.mask"}};
    router.passwordFlags = {{"pwd_var_01", "no"}, {"pwd_var_02", "yes"}, {"pwd_var_03", "yes"}};
    std::string out = patch(
        "[router.pass][router.ipsec][router.tmibadmadmincommunity][router.oldcommunity]"
        "[router.tmibadmreadcommunity][router.tmibadmwritecommunity][router.tmibadmhttppassword]"
        "[router.var_02][router.var_01][{nm2pl}router.var_03][{nm2pl}router.pass]");
    EXPECT_EQ(out,
              "S3cret-passS3cret-ipsecS3cret-adminS3cret-oldS3cret-readS3cret-writeS3cret-httpS3cret-varopen-one"
              "[{nm2pl}router.var_03][{nm2pl}router.pass]");
    std::string log = logText(this->log);
    EXPECT_FALSE(contains(log, "S3cret")) << log;
    EXPECT_TRUE(contains(log, "Replaced \"[router.var_01]\" with \"open-one\".")) << log;
    EXPECT_TRUE(contains(log, "Replaced \"[router.var_02]\" with \"***\".")) << log;
    EXPECT_TRUE(contains(log, "Cannot convert variable \"***\": Not a net-mask.")) << log;
    // Variables in ascending name order.
    EXPECT_LT(log.find("[router.var_01]"), log.find("[router.var_02]"));
}

TEST_F(Patching, StepsRunInOrderAndLaterStepsPatchEarlierValues) {
    router.name = "[contacts.firma] at [1:2+3]";
    contacts.firma = "ACME [router.name] [swrelease.name]";
    contacts.ort = "Essen";
    EXPECT_EQ(patch("[router.name] / [contacts.ort] / [swrelease.name]"),
              "ACME [router.name] [swrelease.name] at 01:05 / Essen / [swrelease.name]");
    EXPECT_TRUE(contains(logText(log), "No swrelease -> Skip related fields-patching"));

    release.id = 7;
    release.name = "rel-7";
    release.nexa = "nexa-7.img";
    release.nexaVersion = "7.1.3";
    sources.swRelease = &release;
    EXPECT_EQ(patch("[swrelease.name] [swrelease.nexa] [swrelease.nexaversion]"),
              "rel-7 nexa-7.img [swrelease.nexaversion]");
    sources.readNexaVersion = true;
    EXPECT_EQ(patch("[swrelease.name] [swrelease.nexaversion]"), "rel-7 7.1.3");
    EXPECT_TRUE(contains(logText(log), "Patching fields from swrelease table."));
}

// Additional parameters and licences come as groups loaded from the database.
TEST(PatchingFromDatabase, AdditionalParametersAndLicences) {
    testdb::TestDatabase tdb;
    tdb.exec(
        "INSERT INTO cordal_router_additionals(routerid, varname, data, pwd) VALUES"
        "(5, 'vlan', '100', 'no'), (5, 'key(1', 'Ad$1-Secret\\\\\\\\x', 'yes'), (5, 'a+b*[c', 'odd', ''),"
        "(5, 'A.B', 'dotted', 'no'), (6, 'vlan', 'other router', 'no');"
        "INSERT INTO cordal_licenses(routerid, serialnr, pin, lickey, type) VALUES"
        "('SN-5', 'LIC-A', '', 'KEY-A', 'x'), ('SN-5', 'LIC-B', '', 'KEY-B', 'x')");
    logEngine log;
    Database db(tdb.host(), tdb.user(), tdb.password(), tdb.name(), &log);
    dbGroupRouteradditionals additionals(&db, 5);
    dbGroupLicenses licenses(&db, "SN-5");
    ASSERT_EQ(additionals.getNumParams(), 4u);
    ASSERT_EQ(licenses.getNumParams(), 2u);

    TemplatePatcher::Sources sources;
    sources.additionals = &additionals;
    sources.licenses = &licenses;
    std::string buffer =
        "v [additional.VLAN] k [additional.key(1] o [additional.a+b*[c] d [additional.a.b] [additional.aXb]\n"
        "tmibAdmLicense\n[router.licenses]\nend\n";
    TemplatePatcher(buffer, &log, sources).patchAll();
    EXPECT_EQ(buffer,
              "v 100 k Ad$1-Secret\\\\x o odd d dotted [additional.aXb]\n"
              "tmibAdmLicense\n"
              "{\n"
              "   tmibAdmLicenseSerialId   (RW,DisplayStr):  \"LIC-A\"\n"
              "   tmibAdmLicenseKey        (RW,DisplayStr):  \"KEY-A\"\n"
              "}{\n"
              "   tmibAdmLicenseSerialId   (RW,DisplayStr):  \"LIC-B\"\n"
              "   tmibAdmLicenseKey        (RW,DisplayStr):  \"KEY-B\"\n"
              "}\nend\n");
    std::string text = logText(log);
    EXPECT_FALSE(contains(text, "Ad$1-Secret")) << text;
    EXPECT_TRUE(contains(text, "Replaced \"[additional.key(1]\" with \"***\".")) << text;
    EXPECT_TRUE(contains(text, "Replaced \"[additional.vlan]\" with \"100\".")) << text;
    EXPECT_TRUE(contains(text, "Patching special field [router.licenses].")) << text;

    // No licences: the placeholder becomes empty text.
    dbGroupLicenses none(&db, "SN-none");
    sources.licenses = &none;
    buffer = "a[router.licenses]b";
    TemplatePatcher(buffer, &log, sources).doLicenseTable();
    EXPECT_EQ(buffer, "ab");
}
