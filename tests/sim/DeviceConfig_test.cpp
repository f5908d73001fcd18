// The simulated device's own readers: the configuration text, the transfer
// URL, and the configuration store behind configd and "set file-cfg".
#include "sim/DeviceConfig.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "sim/ConfigStore.h"
#include "sim/NexaConfigd.h"
#include "sim/NexaShell.h"
#include "sim/TransferUrl.h"
#include "tests/sim/ShellFixture.h"

namespace {

TEST(DeviceConfig, ParsesTablesRowsCommentsAndRendersTheLinesUnchanged) {
    const std::string text =
        "# preamble comment\n"
        "\n"
        "alphaTable   # the first table\n"
        "{\n"
        "   a (RW,DisplayStr):  \"x # not a table\"\n"
        "  }  \n"
        "betaTable\n"
        "\t{\r\n"
        "   b 1\n"
        "}\n";
    DeviceConfig config;
    std::string error;
    ASSERT_TRUE(DeviceConfig::parse(text, config, error)) << error;
    ASSERT_EQ(config.preamble.size(), 2u);
    ASSERT_EQ(config.tables.size(), 2u);
    EXPECT_EQ(config.tables[0].name, "alphaTable");
    EXPECT_EQ(config.tables[1].name, "betaTable");
    EXPECT_EQ(config.tables[0].lines.size(), 4u);
    EXPECT_EQ(config.render(), text) << "lines keep their blanks, comments and carriage returns";

    // A table without rows, replaced and appended tables.
    ASSERT_TRUE(DeviceConfig::parse("emptyTable\nother\n{\n}\n", config, error)) << error;
    EXPECT_EQ(config.table("emptyTable")->lines.size(), 1u);
    config.putTable({"other", {"other", "{", "  new", "}"}});
    config.putTable({"third", {"third"}});
    EXPECT_EQ(config.render(), "emptyTable\nother\n{\n  new\n}\nthird\n");
    EXPECT_EQ(config.table("missing"), nullptr);
}

TEST(DeviceConfig, RefusesRowsWithoutTableDoubleOpenedStrayCloseAndUnclosed) {
    struct Case {
        const char* text;
        const char* complaint;
    } cases[] = {
        {"{\n}\n", "line 1: row outside any table"},
        {"# comment\n  { # row\n}\n", "line 2: row outside any table"},
        {"t\n{\n{\n}\n", "line 3: row opened twice in table t"},
        {"t\n}\n", "line 2: '}' without an open row"},
        {"t\n{\n a\n", "row of table t not closed at the end"},
    };
    for (const auto& c : cases) {
        DeviceConfig config;
        std::string error;
        EXPECT_FALSE(DeviceConfig::parse(c.text, config, error)) << c.text;
        EXPECT_EQ(error, c.complaint) << c.text;
    }
}

TEST(TransferUrl, AcceptsTheThreeFormsAndRefusesEverythingElse) {
    TransferUrl url;
    std::string error;
    ASSERT_TRUE(TransferUrl::parse("tftp:10.0.0.1/", url, error)) << error;
    EXPECT_EQ(url.scheme, "tftp");
    EXPECT_EQ(url.host, "10.0.0.1");
    EXPECT_FALSE(url.hasCredentials);

    ASSERT_TRUE(TransferUrl::parse("http://xfer:p:w@srv.example/tftpboot/", url, error)) << error;
    EXPECT_EQ(url.scheme, "http");
    EXPECT_EQ(url.user, "xfer");
    EXPECT_EQ(url.password, "p:w");
    EXPECT_EQ(url.host, "srv.example");
    ASSERT_TRUE(TransferUrl::parse("https://u:@h/tftpboot/", url, error)) << error;
    EXPECT_EQ(url.scheme, "https");
    EXPECT_TRUE(url.hasCredentials);
    EXPECT_EQ(url.password, "");
    ASSERT_TRUE(TransferUrl::parse("http://h/tftpboot/", url, error)) << error;
    EXPECT_FALSE(url.hasCredentials);

    for (const char* bad :
         {"", "tftp:", "tftp:/", "tftp:h", "tftp://h/", "tftp:u:p@h/", "tftp:h/sub/", "TFTP:h/", "ftp://h/tftpboot/",
          "http://h/", "http://h/tftpboot", "http://h/other/", "http://u:p@h/tftpboot/x", "https:h/tftpboot/",
          "http://user@h/tftpboot/", "http://:p@h/tftpboot/", "http://u:p@/tftpboot/", "http://h h/tftpboot/",
          "http://u:p@h;rm/tftpboot/"}) {
        EXPECT_FALSE(TransferUrl::parse(bad, url, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }

    for (const char* name : {"42.config", "0000000042_1.pkcs12", "a-b_c"})
        EXPECT_TRUE(TransferUrl::validFileName(name)) << name;
    for (const char* name : {"", ".", "..", "../x", "a/b", "a b"})
        EXPECT_FALSE(TransferUrl::validFileName(name)) << name;
}

TEST(TransferUrl, TheServerJudgesHttpCredentialsOnlyWhenItExpectsSome) {
    TransferUrl url;
    std::string error;
    ASSERT_TRUE(TransferUrl::parse("http://xfer:secret@h/tftpboot/", url, error));
    EXPECT_TRUE(url.credentialsAccepted("", ""));
    EXPECT_TRUE(url.credentialsAccepted("xfer", "secret"));
    EXPECT_FALSE(url.credentialsAccepted("xfer", "other"));
    EXPECT_FALSE(url.credentialsAccepted("someone", "secret"));
    ASSERT_TRUE(TransferUrl::parse("https://h/tftpboot/", url, error));
    EXPECT_TRUE(url.credentialsAccepted("", ""));
    EXPECT_FALSE(url.credentialsAccepted("xfer", "secret")) << "no credentials where the server wants some";
    ASSERT_TRUE(TransferUrl::parse("tftp:h/", url, error));
    EXPECT_TRUE(url.credentialsAccepted("xfer", "secret")) << "TFTP has no users";
}

class ConfigdTest : public ShellFixture {
protected:
    void SetUp() override {
        xfer = dir.file("xfer");
        ::mkdir(dir.path().c_str(), 0755);
        ASSERT_EQ(::mkdir(xfer.c_str(), 0755), 0);
        options.transferDir = xfer;
        open(SimFamily::Nexa);
    }
    std::string configd(const std::string& arguments) {
        return NexaConfigd(*state, options).run(CommandTable<NexaShell>::split(arguments));
    }
    std::string config(const std::string& name) { return testsupport::readFile(state->path("configs/" + name)); }

    std::string xfer;
};

TEST_F(ConfigdTest, AFreshDeviceRunsTheFactoryConfigurationWithItsCertificateTables) {
    EXPECT_EQ(config("running"), config("boot"));
    DeviceConfig parsed;
    std::string error;
    ASSERT_TRUE(DeviceConfig::parse(config("running"), parsed, error)) << error;
    for (const char* table : {"binTable", "binPublicTable", "binFileTable", "ipsecPublicKeyTable", "certTable"})
        EXPECT_NE(parsed.table(table), nullptr) << table;
    EXPECT_GE(parsed.tables.size(), 6u);
    // A prepared configuration folder is the device's: it is not reseeded.
    testsupport::writeFile(state->path("configs/running"), "only\n");
    std::remove(state->path("configs/boot").c_str());
    state = DeviceState::open(options, error);
    ASSERT_TRUE(state) << error;
    EXPECT_EQ(config("running"), "only\n");
    EXPECT_FALSE(testsupport::fileExists(state->path("configs/boot")));
}

TEST_F(ConfigdTest, PutExportsWithHeaderAndGetImportsWithoutIt) {
    testsupport::writeFile(state->path("configs/boot"), "bootTable\n{\n  x 1\n}\n");
    EXPECT_EQ(configd("put all tftp:h/ 42.config boot"), "transfer ok\r\n");
    const std::string exported = testsupport::readFile(xfer + "/42.config");
    const std::string header = exported.substr(0, exported.size() - config("boot").size());
    EXPECT_EQ(exported.substr(header.size()), config("boot")) << "the configuration follows byte for byte";
    size_t second = header.find('\n') + 1, third = header.find('\n', second) + 1;
    EXPECT_EQ(header.substr(third, 13), "# Created by ") << header;
    EXPECT_EQ(std::count(header.begin(), header.end(), '\n'), 3);

    EXPECT_EQ(configd("put_all all http://any:thing@h/tftpboot/ all.config boot"), "transfer ok\r\n");
    // The export comes back without its header.
    EXPECT_EQ(configd("get all tftp:h/ 42.config opb_tmp"), "transfer ok\r\n");
    EXPECT_EQ(config("opb_tmp"), config("boot"));

    // Refusals never say "transfer ok".
    testsupport::writeFile(xfer + "/bad.config", "{\n}\n");
    for (const char* refused :
         {"put all tftp:h/ 42.config nothing", "put all ftp://h/ 42.config boot", "put all tftp:h/ ../x boot",
          "put all tftp:h/ 42.config", "put one tftp:h/ 42.config boot", "get all tftp:h/ missing.config boot",
          "get all tftp:h/ bad.config boot", "get_all all tftp:h/ 42.config ../boot"}) {
        std::string reply = configd(refused);
        EXPECT_EQ(reply.find("transfer ok"), std::string::npos) << refused << ": " << reply;
        EXPECT_FALSE(reply.empty()) << refused;
    }
    EXPECT_EQ(config("boot"), "bootTable\n{\n  x 1\n}\n") << "a refused import leaves the target alone";

    // The server's credentials.
    options.transferUser = "xfer";
    options.transferPassword = "pw";
    EXPECT_EQ(configd("put all http://xfer:pw@h/tftpboot/ c.config boot"), "transfer ok\r\n");
    EXPECT_EQ(configd("put all https://xfer:bad@h/tftpboot/ d.config boot"), "transfer failed: 401 Unauthorized\r\n");
    EXPECT_FALSE(testsupport::fileExists(xfer + "/d.config"));
    // Without a transfer server nothing gets through.
    options.transferDir.clear();
    EXPECT_EQ(configd("put all tftp:h/ e.config boot").find("transfer ok"), std::string::npos);
}

TEST_F(ConfigdTest, SourceOptionHelpAndTheOlderDevice) {
    EXPECT_NE(configd("-h").find("-s <src>"), std::string::npos);
    EXPECT_NE(configd("frobnicate x").find("error: unknown command"), std::string::npos);
    EXPECT_NE(configd("save certTable").find("error:"), std::string::npos);
    EXPECT_EQ(configd("-s 10.1.1.1 put all tftp:h/ 7.config boot"), "transfer ok\r\n");
    EXPECT_NE(configd("-s nohost put all tftp:h/ 7.config boot").find("error:"), std::string::npos);
    options.configdWithoutSource = true;
    EXPECT_EQ(configd("-h").find("-s <src>"), std::string::npos);
    EXPECT_NE(configd("-s 10.1.1.1 put all tftp:h/ 8.config boot").find("unknown option -s"), std::string::npos);
    EXPECT_FALSE(testsupport::fileExists(xfer + "/8.config"));
}

TEST_F(ConfigdTest, TablesMoveBetweenConfigurationsAsTheUploadUsesThem) {
    testsupport::writeFile(state->path("configs/running"), "certTable\n{\n  old cert\n}\nother\n");
    testsupport::writeFile(state->path("configs/opb_tmp"), "certTable\n{\n  new\n}\nnet\n{\n}\n");
    EXPECT_EQ(configd("delete opb_certs").find("transfer ok"), std::string::npos);
    EXPECT_EQ(configd("save certTable opb_certs"), "");
    EXPECT_EQ(config("opb_certs"), "certTable\n{\n  old cert\n}\n");
    EXPECT_NE(configd("save noTable opb_certs").find("error:"), std::string::npos);
    EXPECT_EQ(configd("load certTable opb_certs"), "");
    EXPECT_EQ(configd("save certTable opb_tmp"), "");
    EXPECT_EQ(config("opb_tmp"), "certTable\n{\n  old cert\n}\nnet\n{\n}\n");
    EXPECT_EQ(configd("delete opb_certs"), "");
    EXPECT_FALSE(testsupport::fileExists(state->path("configs/opb_certs")));
    EXPECT_NE(configd("delete opb_certs").find("error:"), std::string::npos);

    EXPECT_EQ(configd("copy boot opsbase_backup"), "");
    EXPECT_EQ(config("opsbase_backup"), config("boot"));
    EXPECT_EQ(configd("move opb_tmp boot"), "");
    EXPECT_EQ(config("boot"), "certTable\n{\n  old cert\n}\nnet\n{\n}\n");
    EXPECT_FALSE(testsupport::fileExists(state->path("configs/opb_tmp")));
    EXPECT_NE(configd("move opb_tmp boot").find("error:"), std::string::npos);
    EXPECT_NE(configd("copy boot ../x").find("error:"), std::string::npos);

    // A reboot runs the boot configuration; without one the factory-empty one.
    state->recordShutdown();
    state->recordBoot();
    EXPECT_EQ(config("running"), config("boot"));
    EXPECT_EQ(configd("delete boot"), "");
    state->recordBoot();
    EXPECT_EQ(config("running"), "");
}

class QxFileCfgTest : public ShellFixture {
protected:
    void SetUp() override { open(SimFamily::QxCli); }
};

TEST_F(QxFileCfgTest, SetFileCfgShowsAndChoosesTheBootFile) {
    EXPECT_TRUE(testsupport::fileExists(state->path("fs/DSK/CONFIG.CFG")));
    auto s = shell(false, false);
    feed(*s, "\x10running-config\n");
    EXPECT_NE(feed(*s, "set file-cfg\n").find("Current config: CONFIG\r\n"), std::string::npos);
    EXPECT_NE(feed(*s, "set file-cfg SITE2\n").find("Current config: SITE2\r\n"), std::string::npos);
    EXPECT_EQ(testsupport::readFile(state->path("bootfile")), "SITE2\n");
    testsupport::writeFile(state->path("bootfile"), "");
    std::string none = feed(*s, "set file-cfg\n");
    EXPECT_EQ(none.find("Current config:"), std::string::npos) << none;
    EXPECT_NE(feed(*s, "set file-cfg ../X\n").find("CLI Error"), std::string::npos);
}

TEST_F(QxFileCfgTest, TheDeviceRunsItsBootFileOrElseTheFactoryDefault) {
    EXPECT_EQ(testsupport::readFile(state->path("running-config")),
              testsupport::readFile(state->path("fs/DSK/CONFIG.CFG")))
        << "starting is booting";
    testsupport::writeFile(state->path("fs/DSK/SITE7.CFG"), "site 7\n");
    testsupport::writeFile(state->path("fs/DSK/CONFIG.DEF"), "factory default\n");
    testsupport::writeFile(state->path("bootfile"), "SITE7\n");
    EXPECT_NE(testsupport::readFile(state->path("running-config")), "site 7\n") << "only a reboot loads it";
    state->recordShutdown();
    state->recordBoot();
    EXPECT_EQ(testsupport::readFile(state->path("running-config")), "site 7\n");

    ASSERT_EQ(::remove(state->path("fs/DSK/SITE7.CFG").c_str()), 0);
    state->recordBoot();
    EXPECT_EQ(testsupport::readFile(state->path("running-config")), "factory default\n");
    testsupport::writeFile(state->path("bootfile"), "");
    ASSERT_EQ(::remove(state->path("fs/DSK/CONFIG.DEF").c_str()), 0);
    state->recordBoot();
    EXPECT_EQ(testsupport::readFile(state->path("running-config")), "");
    EXPECT_TRUE(testsupport::fileExists(state->path("running-config")));
}

}  // namespace
