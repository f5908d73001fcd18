// The settings file as an installation has it: database settings found by
// text search, job settings read with the parser, per-model overrides and
// the transfer-URL parts, and every way a file can be unusable.
#include <gtest/gtest.h>

#include <dirent.h>

#include <map>
#include <memory>

#include "main/Tarvo.h"
#include "main/configHandler.h"
#include "tests/support/TestSupport.h"
#include "util/logEngine.h"

using testsupport::makeDirs;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// Every key with a value of its own, so a key read into the wrong member shows.
const std::string kSettings = R"(<?xml version="1.0" encoding="ISO-8859-1"?>
<!-- Settings of the installation,
     shared with the management system. -->
<cordal>
  <database>
    <server>db.example.net</server>
    <dbname>cordal</dbname>
    <dbuser>tarvo</dbuser>
    <dbpass>s3cr3t-db</dbpass>
  </database>
  <config>
    <autoSelectLoaded>true</autoSelectLoaded>
    <configrestoretimeout>
      <ip>
        <config>900</config>
        <image>1200</image>
      </ip>
    </configrestoretimeout>
    <configsPerRouter>5</configsPerRouter>
    <iptftphost>10.1.2.3</iptftphost>
    <fileTransferMethod>tftp</fileTransferMethod>
    <fileTransferPwd>xfer-pw</fileTransferPwd>
    <fileTransferUsr>xfer-user</fileTransferUsr>
    <ipallowdelete>TRUE</ipallowdelete>
    <ipconnecttimeout>
      <default>20</default>
      <M1>45</M1>
      <NX.4200>50</NX.4200>
    </ipconnecttimeout>
    <readnexaversion>yes</readnexaversion>
    <routerreboottime>
      <default>120</default>
      <M1>300</M1>
      <NX.4200>310</NX.4200>
    </routerreboottime>
  </config>
</cordal>
)";

// kSettings with the first occurrence of each key replaced by its value.
std::string edited(const std::map<std::string, std::string>& edits) {
    std::string text = kSettings;
    for (const auto& [from, to] : edits) {
        size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) text.replace(at, from.size(), to);
    }
    return text;
}

class Settings : public ::testing::Test {
protected:
    // A job with its own installation root; debug decides whether DBG lines are kept.
    std::unique_ptr<Tarvo> job(const std::string& settings, const std::string& os = "NEXA", bool debug = true) {
        makeDirs(root.file("etc"));
        writeFile(root.file("etc/cordal.xml"), settings);
        auto tarvo = std::make_unique<Tarvo>(7, debug, false, false, false, Paths(root.path()));
        tarvo->log.reset(new logEngine(debug));
        tarvo->routerOs = os;
        tarvo->family = DeviceFamily(tarvo->routerOs);
        return tarvo;
    }
    // The whole log with the engine's line wrapping undone.
    static std::string logOf(const Tarvo& tarvo) {
        std::string text = tarvo.log->dumpAsString();
        const std::string wrap = "\n" + std::string(28, ' ');
        for (size_t at; (at = text.find(wrap)) != std::string::npos;) text.erase(at, wrap.size());
        return text;
    }

    TempDir root;
};

}  // namespace

TEST_F(Settings, CompleteFileReadsEveryKey) {
    auto t = job(kSettings);
    ASSERT_TRUE(t->readXML("M7"));
    EXPECT_EQ(t->autoSelectLoaded, "true");
    EXPECT_EQ(t->configRestoreTimeoutConfig, "900");
    EXPECT_EQ(t->configRestoreTimeoutImage, "1200");
    EXPECT_EQ(t->configsPerRouter, "5");
    EXPECT_EQ(t->tftpHost, "10.1.2.3");
    EXPECT_EQ(t->fileTransferMethod, "TFTP");
    EXPECT_EQ(t->fileTransferPwd, "xfer-pw");
    EXPECT_EQ(t->fileTransferUsr, "xfer-user");
    EXPECT_EQ(t->ipAllowDelete, "TRUE");
    EXPECT_EQ(t->ipConnectTimeout, "20");
    EXPECT_EQ(t->readNexaVersion, "yes");
    EXPECT_EQ(t->routerRebootTime, "120");
    EXPECT_EQ(t->rebootSleepSeconds, 120u);
    EXPECT_EQ(t->transferScheme, "tftp:");
    EXPECT_EQ(t->transferCredentials, "");
    EXPECT_EQ(t->transferBase, "10.1.2.3/");
    EXPECT_NE(logOf(*t).find("INF - Read 120 seconds sleep time for model 'M7' from config file."), std::string::npos);

    EXPECT_EQ(t->getFromCfg("dbpass"), "s3cr3t-db");
    EXPECT_EQ(t->getFromCfg("dbuser"), "tarvo");
    EXPECT_EQ(t->getFromCfg("server"), "db.example.net");
    EXPECT_EQ(t->getFromCfg("dbname"), "cordal");
}

TEST_F(Settings, PerModelOverridesWinOverDefaults) {
    auto t = job(kSettings);
    ASSERT_TRUE(t->readXML("M1"));
    EXPECT_EQ(t->ipConnectTimeout, "45");
    EXPECT_EQ(t->routerRebootTime, "300");
    EXPECT_EQ(t->rebootSleepSeconds, 300u);

    // A model name with a dot names one element, not a deeper path.
    auto dotted = job(kSettings);
    ASSERT_TRUE(dotted->readXML("NX.4200"));
    EXPECT_EQ(dotted->ipConnectTimeout, "50");
    EXPECT_EQ(dotted->routerRebootTime, "310");

    // Model names are exact: another letter case gets the defaults.
    auto other = job(kSettings);
    ASSERT_TRUE(other->readXML("m1"));
    EXPECT_EQ(other->ipConnectTimeout, "20");
    EXPECT_EQ(other->routerRebootTime, "120");

    // Without the optional fallback timers both stay "600"; an empty element is empty text.
    auto noTimers = job(edited({{"<config>900</config>", ""}, {"<image>1200</image>", ""}}));
    ASSERT_TRUE(noTimers->readXML("M1"));
    EXPECT_EQ(noTimers->configRestoreTimeoutConfig, "600");
    EXPECT_EQ(noTimers->configRestoreTimeoutImage, "600");
    auto emptyTimer = job(edited({{"<config>900</config>", "<config></config>"}}));
    ASSERT_TRUE(emptyTimer->readXML("M1"));
    EXPECT_EQ(emptyTimer->configRestoreTimeoutConfig, "");
    EXPECT_EQ(emptyTimer->configRestoreTimeoutImage, "1200");

    // The top element may have any name.
    auto renamed = job(edited({{"<cordal>", "<anything>"}, {"</cordal>", "</anything>"}}));
    EXPECT_TRUE(renamed->readXML("M1"));
}

TEST_F(Settings, JobDeadlineIsOptionalAndNeverZero) {
    struct Case {
        const char* element;  // nullptr: left out
        unsigned seconds;
        bool refused;
    };
    const Case cases[] = {
        {nullptr, 7200, false}, {"20", 20, false},   {" 900 ", 900, false}, {"0", 7200, true},
        {"-5", 7200, true},     {"abc", 7200, true}, {"", 7200, true},      {"99999999999", 4294967295u, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.element ? c.element : "(none)");
        const std::string element =
            c.element ? std::string("<jobdeadline>") + c.element + "</jobdeadline>\n  </config>" : "</config>";
        auto t = job(edited({{"</config>\n</cordal>", element + "\n</cordal>"}}));
        ASSERT_TRUE(t->readXML("M1"));
        EXPECT_EQ(t->jobDeadlineSeconds, c.seconds);
        EXPECT_EQ(logOf(*t).find("ERR - Ignoring config.jobdeadline '") != std::string::npos, c.refused) << logOf(*t);
    }
}

TEST_F(Settings, TransferUrlPartsPerMethod) {
    struct Case {
        const char* method;
        const char* usr;
        const char* pwd;
        const char* scheme;
        const char* credentials;
        const char* base;
        const char* stored;
    };
    const Case cases[] = {
        {"tftp", "u", "p", "tftp:", "", "files.example.net/", "TFTP"},
        {"TFTP", "", "", "tftp:", "", "files.example.net/", "TFTP"},
        {"http", "dev", "pw", "http://", "dev:pw@", "files.example.net/tftpboot/", "HTTP"},
        {"Https", "dev", "pw", "https://", "dev:pw@", "files.example.net/tftpboot/", "HTTPS"},
        {"HTTPS", "", "", "https://", ":@", "files.example.net/tftpboot/", "HTTPS"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method);
        auto t = job(edited({{"<fileTransferMethod>tftp<", std::string("<fileTransferMethod>") + c.method + "<"},
                             {"<fileTransferUsr>xfer-user<", std::string("<fileTransferUsr>") + c.usr + "<"},
                             {"<fileTransferPwd>xfer-pw<", std::string("<fileTransferPwd>") + c.pwd + "<"},
                             {"<iptftphost>10.1.2.3<", "<iptftphost>files.example.net<"}}));
        ASSERT_TRUE(t->readXML("M1"));
        EXPECT_EQ(t->transferScheme, c.scheme);
        EXPECT_EQ(t->transferCredentials, c.credentials);
        EXPECT_EQ(t->transferBase, c.base);
        EXPECT_EQ(t->fileTransferMethod, c.stored);
    }

    // An unknown method fails NEXA routers only; qx.CLI devices use SFTP.
    const std::string ftp = edited({{"<fileTransferMethod>tftp<", "<fileTransferMethod>FTP<"}});
    auto nexa = job(ftp);
    EXPECT_FALSE(nexa->readXML("M1"));
    EXPECT_NE(logOf(*nexa).find("ERR - Unknown fileTransferMethod 'ftp'"), std::string::npos);
    EXPECT_EQ(logOf(*nexa).find("Read "), std::string::npos);
    auto qx = job(ftp, "qx.CLI");
    ASSERT_TRUE(qx->readXML("M1"));
    EXPECT_EQ(qx->fileTransferMethod, "SFTP");
    EXPECT_EQ(qx->transferScheme, "");
    EXPECT_EQ(qx->transferCredentials, "");
    EXPECT_EQ(qx->transferBase, "");
    EXPECT_EQ(qx->rebootSleepSeconds, 300u);
    // Any os other than the exact "qx.CLI" is the NEXA family.
    EXPECT_FALSE(job(ftp, "QX.CLI")->readXML("M1"));
}

TEST_F(Settings, MissingRequiredKeysStopTheRead) {
    // The first key missing: nothing after it is read.
    auto t = job(edited({{"<autoSelectLoaded>true</autoSelectLoaded>", ""}}));
    EXPECT_FALSE(t->readXML("M1"));
    EXPECT_NE(logOf(*t).find("ERR - Could not read 'config.autoSelectLoaded' "
                             "('Element with name autoSelectLoaded does't exists!')."),
              std::string::npos);
    EXPECT_EQ(t->configsPerRouter, "");
    EXPECT_EQ(t->configRestoreTimeoutConfig, "600");
    EXPECT_EQ(t->tftpHost, "");

    // A later key missing: earlier ones are read, later ones are not.
    auto late = job(edited({{"<default>120</default>", ""}}));
    EXPECT_FALSE(late->readXML("M1"));
    EXPECT_NE(logOf(*late).find("Could not read 'config.routerreboottime.default' "
                                "('Element with name default does't exists!')."),
              std::string::npos);
    EXPECT_EQ(late->readNexaVersion, "yes");
    EXPECT_EQ(late->ipConnectTimeout, "45");
    EXPECT_EQ(late->routerRebootTime, "");
    EXPECT_EQ(late->transferScheme, "") << "no URL parts after a failed read";

    // A key given twice is as unusable as a missing one.
    auto twice = job(edited({{"<configsPerRouter>5</configsPerRouter>",
                              "<configsPerRouter>5</configsPerRouter><configsPerRouter>6</configsPerRouter>"}}));
    EXPECT_FALSE(twice->readXML("M1"));
    EXPECT_NE(logOf(*twice).find("Expected one Element but found multiple for name: configsPerRouter"),
              std::string::npos);

    // The whole config section in the wrong place: keys start below the top element.
    auto nested = job("<outer>\n" + kSettings.substr(kSettings.find("<cordal>")) + "</outer>\n");
    EXPECT_FALSE(nested->readXML("M1"));
}

TEST_F(Settings, DatabaseSettingsByTextSearch) {
    auto t =
        job("<x>\n<DBPASS>Upper</DBPASS>\n<dbuser>a</dbuser> <dbuser>b</dbuser>\n"
            "<server>next\n</server>\n<!-- <dbname>old</dbname> -->\n<dbname>new</dbname>\n</x>\n");
    EXPECT_EQ(t->getFromCfg("dbpass"), "Upper") << "letter case of the tags does not matter";
    EXPECT_EQ(t->getFromCfg("dbuser"), "a</dbuser> <dbuser>b") << "runs to the last closing tag on the line";
    EXPECT_EQ(t->getFromCfg("server"), "nostring") << "the closing tag must be on the same line";
    EXPECT_EQ(t->getFromCfg("dbname"), "new") << "commented-out settings are not found";
    EXPECT_EQ(t->getFromCfg("missing"), "nostring");
    EXPECT_EQ(logOf(*t).find("ERR"), std::string::npos);

    // Found anywhere, also in a file the parser rejects.
    auto broken = job("<a><dbpass>pw</dbpass>\n<b></c>\n");
    EXPECT_EQ(broken->getFromCfg("dbpass"), "pw");
    EXPECT_FALSE(broken->readXML("M1"));

    // An expression that does not compile is reported, not thrown.
    EXPECT_EQ(configHandler::findSetting("<a(>x</a(>", "a(", t->log.get()), "nostring");
    EXPECT_NE(logOf(*t).find("ERR - Parser: "), std::string::npos);
    EXPECT_EQ(configHandler::findSetting("<k>v</k>", "k", nullptr), "v");
}

TEST_F(Settings, UnreadableFilesAreNoDbSettingsAndBadXml) {
    // No file at all: both lookups fail, with the path in the error line.
    auto t = std::make_unique<Tarvo>(7, true, false, false, false, Paths(root.path()));
    t->log.reset(new logEngine(true));
    EXPECT_EQ(t->getFromCfg("dbpass"), "nostring");
    EXPECT_NE(logOf(*t).find("ERR - Could not open config file (" + root.path() + "/etc/cordal.xml). Aborting."),
              std::string::npos);
    EXPECT_FALSE(t->readXML("M1"));
    const std::string file = root.path() + "/etc/cordal.xml";
    EXPECT_NE(logOf(*t).find("ERR - Could not read config file '" + file + "' (Could not open file: " + file + ")."),
              std::string::npos)
        << logOf(*t);

    // A directory where the file should be.
    makeDirs(root.file("etc/cordal.xml"));
    EXPECT_EQ(t->getFromCfg("dbpass"), "nostring");
    EXPECT_FALSE(t->readXML("M1"));
    rmdir(root.file("etc/cordal.xml").c_str());

    const std::string complete = kSettings.substr(0, kSettings.rfind("</config>"));
    const std::string garbage("\x00\xff<\x01>\x10<<!--\n\x7f?>", 14);
    const std::map<std::string, std::string> unusable = {
        {"empty", ""},
        {"no element", "only text\n"},
        {"end tag first", "</cordal>\n" + kSettings},
        {"unterminated comment", kSettings.substr(0, kSettings.find("<config>")) + "<!-- forever\n" +
                                     kSettings.substr(kSettings.find("<config>"))},
        {"truncated", complete},
        {"truncated mid-value", kSettings.substr(0, kSettings.find("120</default>") + 2)},
        {"garbage", garbage},
    };
    for (const auto& [what, text] : unusable) {
        SCOPED_TRACE(what);
        auto u = job(text);
        EXPECT_FALSE(u->readXML("M1"));
        EXPECT_EQ(u->getFromCfg("dbpass"), text.find("<dbpass>") == std::string::npos ? "nostring" : "s3cr3t-db");
    }
}

TEST_F(Settings, ParserErrorsKeepSecretsOutOfTheOrdinaryLog) {
    // The parser quotes the broken line: here it holds the transfer password.
    const std::string broken =
        edited({{"<fileTransferPwd>xfer-pw</fileTransferPwd>", "<fileTransferPwd>xfer-pw</fileTransferPwD>"}});
    auto quiet = job(broken, "NEXA", false);
    EXPECT_FALSE(quiet->readXML("M1"));
    const std::string log = logOf(*quiet);
    EXPECT_NE(log.find("ERR - Could not parse config file '" + root.path() + "/etc/cordal.xml' (line 22)."),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("xfer-pw"), std::string::npos) << log;

    // With -d the parser's own message is there for the operator.
    auto debugging = job(broken, "NEXA", true);
    EXPECT_FALSE(debugging->readXML("M1"));
    EXPECT_NE(logOf(*debugging)
                  .find("DBG - Parser: Error 'Expect end tag: 'fileTransferPwd' but found: "
                        "'fileTransferPwD'' near line:"),
              std::string::npos);

    // A successful read logs no value either.
    auto ok = job(kSettings, "NEXA", false);
    ASSERT_TRUE(ok->readXML("M1"));
    EXPECT_EQ(ok->getFromCfg("dbpass"), "s3cr3t-db");
    EXPECT_EQ(logOf(*ok).find("xfer-pw"), std::string::npos);
    EXPECT_EQ(logOf(*ok).find("s3cr3t-db"), std::string::npos);
}

TEST_F(Settings, LargeFilesEnd) {
    // 10 MB of comment inside a valid file: read as usual.
    std::string padding = "<!--\n";
    while (padding.size() < 10 * 1024 * 1024) padding += "filler line of a very long comment <x> </y> &amp;\n";
    padding += "-->\n";
    const std::string padded = edited({{"<config>\n", "<config>\n" + padding}});
    auto t = job(padded);
    ASSERT_TRUE(t->readXML("M1"));
    EXPECT_EQ(t->routerRebootTime, "300");
    EXPECT_EQ(t->getFromCfg("dbpass"), "s3cr3t-db");

    // 10 MB on one line of opening tags the search keeps retrying: the search ends.
    std::string flood;
    while (flood.size() < 10 * 1024 * 1024) flood += "<dbpass>";
    auto f = job(flood + "\n");
    EXPECT_EQ(f->getFromCfg("dbpass"), "nostring");
    EXPECT_FALSE(f->readXML("M1"));
}

TEST_F(Settings, RebootSecondsFromText) {
    const std::map<std::string, unsigned> cases = {
        {"300", 300u},
        {"  42", 42u},
        {"+7", 7u},
        {"30s", 30u},
        {"abc", 0u},
        {"", 0u},
        {"-5", 0u},
        {"4294967295", 4294967295u},
        {"99999999999999999999", 4294967295u},
    };
    for (const auto& [text, seconds] : cases) {
        SCOPED_TRACE(text);
        auto t = job(edited({{"<M1>300</M1>", "<M1>" + text + "</M1>"}}));
        ASSERT_TRUE(t->readXML("M1"));
        EXPECT_EQ(t->routerRebootTime, text);
        EXPECT_EQ(t->rebootSleepSeconds, seconds);
    }
}

// The fuzzer's seed files are real settings files: each one must read.
TEST(SettingsCorpus, SeedFilesAreCompleteSettings) {
    DIR* dir = opendir(TARVO_XML_CORPUS);
    ASSERT_NE(dir, nullptr);
    int files = 0;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() < 4 || name.substr(name.size() - 4) != ".xml") continue;
        SCOPED_TRACE(name);
        ++files;
        TempDir root(name);
        makeDirs(root.file("etc"));
        writeFile(root.file("etc/cordal.xml"), readFile(std::string(TARVO_XML_CORPUS) + "/" + name));
        Tarvo t(1, true, false, false, false, Paths(root.path()));
        t.log.reset(new logEngine(true));
        t.routerOs = "NEXA";
        t.family = DeviceFamily(t.routerOs);
        EXPECT_TRUE(t.readXML("M1")) << t.log->dumpAsString();
        EXPECT_NE(t.getFromCfg("dbpass"), "nostring");
        EXPECT_NE(t.transferScheme, "");
    }
    closedir(dir);
    EXPECT_GE(files, 3);
}
