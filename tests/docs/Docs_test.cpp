// The operator's documentation names what the code has: the settings keys
// (the key table of the settings code, the README's settings list and
// cordal.xml(5)), devsim's options (its --help and devsim(1)) and Tarvo's
// options (its usage text and Tarvo(1)). Every manual page renders without
// a warning from either formatter an operator's man may use.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

using testsupport::readFile;
using testsupport::runProcess;

namespace {

const std::string kSource = TARVO_SOURCE_DIR;
using KeySet = std::set<std::string>;

// One spelling for a key wherever it is written: without the optional
// marker "|" of the key table and without the per-model tail (".MODEL" in
// the documents, the model name appended by the code).
std::string normalKey(std::string key) {
    if (!key.empty() && key[0] == '|') key.erase(0, 1);
    const std::string model = ".MODEL";
    if (key.size() > model.size() && key.compare(key.size() - model.size(), model.size(), model) == 0)
        key.erase(key.size() - model.size());
    while (!key.empty() && key.back() == '.') key.pop_back();
    return key;
}

void collect(const std::string& text, const std::regex& pattern, KeySet& keys) {
    for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it)
        keys.insert(normalKey((*it)[1].str()));
}

// The keys a source text reads: the rows of a settings key table
// ({"config.x", &member, ...}, in a file that builds XmlRow or KeyRow
// tables: the job runner's and the dispatcher's) and the
// database settings found by getFromCfg("name").
KeySet codeKeys(const std::vector<std::string>& sourceTexts) {
    static const std::regex row(R"re(\{\s*"(\|?[A-Za-z]\w*(?:\.\w+)+)"\s*,\s*&)re");
    static const std::regex lookup(R"re(getFromCfg\(\s*"([^"]+)"\s*\))re");
    KeySet keys;
    for (const std::string& text : sourceTexts) {
        if (text.find("XmlRow") != std::string::npos || text.find("KeyRow") != std::string::npos)
            collect(text, row, keys);
        collect(text, lookup, keys);
    }
    return keys;
}

// The first column of the table in the README's "## Settings" section.
KeySet readmeKeys(const std::string& readme) {
    size_t start = readme.find("\n## Settings\n");
    if (start == std::string::npos) return {};
    size_t end = readme.find("\n## ", start + 1);
    static const std::regex row(R"re(\n\| `([^`]+)` \|)re");
    KeySet keys;
    collect(readme.substr(start, end == std::string::npos ? std::string::npos : end - start), row, keys);
    return keys;
}

// The items ".It Cm KEY" of cordal.xml(5); "\&" only keeps mdoc from
// reading a trailing dot as punctuation.
KeySet manualKeys(std::string manual) {
    for (size_t at; (at = manual.find("\\&")) != std::string::npos;) manual.erase(at, 2);
    static const std::regex item(R"re((?:^|\n)\.It Cm (\S+))re");
    KeySet keys;
    collect(manual, item, keys);
    return keys;
}

// What one set has and the other lacks, as a readable list ("" if equal).
std::string differences(const std::string& leftName, const KeySet& left, const std::string& rightName,
                        const KeySet& right) {
    std::string out;
    for (const auto& key : left)
        if (!right.count(key)) out += "  " + key + ": in " + leftName + ", missing in " + rightName + "\n";
    for (const auto& key : right)
        if (!left.count(key)) out += "  " + key + ": in " + rightName + ", missing in " + leftName + "\n";
    return out;
}

// Every product source that may read settings.
std::vector<std::string> productSources() {
    std::vector<std::string> texts;
    for (const char* folder : {"main", "dispatch"}) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(kSource + "/" + folder)) {
            const std::string ext = entry.path().extension().string();
            if (ext == ".cpp" || ext == ".h") texts.push_back(readFile(entry.path().string()));
        }
    }
    return texts;
}

std::string settingsReport(const std::vector<std::string>& sources, const std::string& readme,
                           const std::string& manual) {
    const KeySet code = codeKeys(sources);
    return differences("the code", code, "README.md (## Settings)", readmeKeys(readme)) +
           differences("the code", code, "man/cordal.xml.5 (.It Cm)", manualKeys(manual));
}

std::vector<std::string> manualPages() {
    std::vector<std::string> pages;
    for (const auto& entry : std::filesystem::directory_iterator(kSource + "/man")) {
        const std::string name = entry.path().filename().string();
        if (std::regex_match(name, std::regex(R"(.+\.[1-8])"))) pages.push_back(entry.path().string());
    }
    std::sort(pages.begin(), pages.end());
    return pages;
}

KeySet matches(const std::string& text, const std::regex& pattern) {
    KeySet found;
    for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it) found.insert((*it)[1]);
    return found;
}

}  // namespace

TEST(SettingsKeys, CodeReadmeAndManualNameTheSameKeys) {
    const auto sources = productSources();
    const KeySet code = codeKeys(sources);
    // The parse itself must find the table, or equal empty sets would pass.
    for (const char* key : {"dbpass", "server", "config.autoSelectLoaded", "config.routerreboottime.default",
                            "config.routerreboottime", "dispatch.maxJobs"})
        EXPECT_TRUE(code.count(key)) << key << " not found in the settings code";
    EXPECT_EQ(settingsReport(sources, readFile(kSource + "/README.md"), readFile(kSource + "/man/cordal.xml.5")), "")
        << "every settings key belongs in the code, the README's settings list and man/cordal.xml.5";
}

TEST(SettingsKeys, AKeyOnlyInTheCodeOrOnlyInTheDocumentsIsReported) {
    auto sources = productSources();
    const std::string readme = readFile(kSource + "/README.md");
    const std::string manual = readFile(kSource + "/man/cordal.xml.5");
    auto tableFile = std::find_if(sources.begin(), sources.end(), [](const std::string& text) {
        return text.find("\"config.autoSelectLoaded\"") != std::string::npos &&
               text.find("XmlRow") != std::string::npos;
    });
    ASSERT_NE(tableFile, sources.end());
    std::string withNewKey = *tableFile;
    withNewKey.insert(withNewKey.find("{\"config.autoSelectLoaded\""), "{\"|config.addedKey\", &addedMember, {}},\n");
    auto changed = sources;
    changed[static_cast<size_t>(tableFile - sources.begin())] = withNewKey;
    const std::string report = settingsReport(changed, readme, manual);
    EXPECT_TRUE(testsupport::contains(report, "config.addedKey: in the code, missing in README.md")) << report;
    EXPECT_TRUE(testsupport::contains(report, "config.addedKey: in the code, missing in man/cordal.xml.5")) << report;

    std::string manualWithout = manual;
    manualWithout.replace(manualWithout.find(".It Cm config.ipallowdelete"), 27, ".It Cm config.other");
    EXPECT_TRUE(testsupport::contains(settingsReport(sources, readme, manualWithout),
                                      "config.ipallowdelete: in the code, missing in man/cordal.xml.5"));
    EXPECT_TRUE(testsupport::contains(settingsReport(sources, readme, manualWithout),
                                      "config.other: in man/cordal.xml.5 (.It Cm), missing in the code"));
}

TEST(ManualPages, EveryPageLintsCleanWithMandocAndGroff) {
    const auto pages = manualPages();
    for (const char* page : {"Tarvo.1", "tarvo-image-info.1", "devsim.1", "cordal.xml.5", "tarvo-dispatch.8"})
        EXPECT_TRUE(testsupport::fileExists(kSource + "/man/" + page)) << page;
    for (const auto& page : pages) {
        SCOPED_TRACE(page);
        auto lint = runProcess({"mandoc", "-T", "lint", "-W", "warning", page});
        EXPECT_EQ(lint.exitCode, 0) << "mandoc (scripts/setup.sh installs it): " << lint.out << lint.err;
        EXPECT_EQ(lint.out + lint.err, "");
        auto groff = runProcess({"groff", "-ww", "-z", "-mandoc", page});
        EXPECT_EQ(groff.exitCode, 0) << groff.err;
        EXPECT_EQ(groff.out + groff.err, "");
    }
}

TEST(ManualPages, DevsimPageNamesEveryOptionOfItsHelp) {
    auto help = runProcess({testsupport::builtProgram("sim/devsim"), "--help"});
    ASSERT_EQ(help.exitCode, 0) << help.err;
    const KeySet inHelp = matches(help.out, std::regex(R"re((?:^|\s)(--[a-z][a-z-]*))re"));
    const KeySet inPage = matches(readFile(kSource + "/man/devsim.1"), std::regex(R"re(Fl -([a-z][a-z-]*))re"));
    KeySet pageOptions;
    for (const auto& option : inPage) pageOptions.insert("--" + option);
    ASSERT_TRUE(inHelp.count("--state-dir"));
    EXPECT_EQ(differences("devsim --help", inHelp, "man/devsim.1", pageOptions), "");
}

TEST(ManualPages, TarvoPageNamesEveryOptionOfItsUsage) {
    testsupport::TempDir root;
    auto usage = runProcess({testsupport::builtProgram("tests/tarvo-test-runner"), root.path(), "-h"});
    ASSERT_EQ(usage.exitCode, 0) << usage.err;
    const KeySet inUsage = matches(usage.out, std::regex(R"re((?:^|[\s,])-([a-z])\b)re"));
    const KeySet inPage = matches(readFile(kSource + "/man/Tarvo.1"), std::regex(R"re(Fl ([a-z])\b)re"));
    ASSERT_TRUE(inUsage.count("j") || inUsage.count("h")) << usage.out;
    for (const auto& option : inUsage) EXPECT_TRUE(inPage.count(option)) << "-" << option << " not in man/Tarvo.1";
}
