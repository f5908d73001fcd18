// The comparison of a stored configuration with a rebuilt one: how lines
// are read, the hunks it prints (checked against dtl's own printer), the
// rule per family and the masking of the router's secrets.
#include "config/UniDiff.h"

#include <gtest/gtest.h>

#include <dtl/dtl.hpp>

#include <random>
#include <sstream>

#include "db/Cordal_router.h"
#include "tests/support/TestSupport.h"
#include "util/logEngine.h"

using testsupport::contains;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

std::string lines(int from, int to, const std::string& prefix = "line ") {
    std::string text;
    for (int i = from; i <= to; ++i) text += prefix + std::to_string(i) + "\n";
    return text;
}

class UniDiffTest : public ::testing::Test {
protected:
    // Compares two texts as files and returns comparefiles' verdict.
    bool compare(const std::string& a, const std::string& b, const std::string& os = "NEXA") {
        writeFile(dir.file("a"), a);
        writeFile(dir.file("b"), b);
        diff.reset(new UniDiff(&log, &router, os, dir.file("a"), dir.file("b")));
        return diff->comparefiles();
    }
    std::string logText() const { return log.dumpAsString(); }

    TempDir dir{"unidiff"};
    logEngine log{false};
    Cordal_router router{static_cast<Database*>(nullptr)};
    std::unique_ptr<UniDiff> diff;
};

TEST(SafeGetline, EveryLineEndAndALastLineWithoutOne) {
    std::istringstream in("a\nb\r\nc\rd\r\n\ne");
    std::vector<std::string> got;
    std::string line;
    while (UniDiff::safeGetline(in, line)) got.push_back(line);
    EXPECT_EQ(got, (std::vector<std::string>{"a", "b", "c", "d", "", "e"}));

    std::istringstream ending("x\n");
    got.clear();
    while (UniDiff::safeGetline(ending, line)) got.push_back(line);
    EXPECT_EQ(got, std::vector<std::string>{"x"}) << "a final line end makes no extra empty line";

    std::istringstream empty("");
    EXPECT_FALSE(UniDiff::safeGetline(empty, line));
}

TEST_F(UniDiffTest, TheFamilyRules) {
    const std::string head = "# header\n# exported\n";
    const std::string a = head + "# Created by admin at 10:00\n" + lines(4, 12);
    const std::string b = head + "# Created by admin at 11:30\n" + lines(4, 12);
    // NEXA: only the export stamp in line 3 differs.
    EXPECT_TRUE(compare(a, b)) << diff->diffText;
    EXPECT_EQ(std::count(diff->diffText.begin(), diff->diffText.end(), '\n'), 8);
    EXPECT_TRUE(contains(logText(), "The config files are the same."));

    // The same change without "Created by" is a real difference.
    EXPECT_FALSE(compare(head + "# stamp 1\n" + lines(4, 12), head + "# stamp 2\n" + lines(4, 12)));
    // Identical NEXA files: an empty difference lacks the export stamp hunk.
    EXPECT_FALSE(compare(a, a));
    EXPECT_EQ(diff->diffText, "");
    // qx.CLI: identical is the same, any change is not.
    EXPECT_TRUE(compare(a, a, "qx.CLI"));
    EXPECT_FALSE(compare(a, b, "qx.CLI"));

    // A change at line 10 has a nine-line hunk, even on a "Created by" line.
    std::string long1 = lines(1, 9) + "# Created by x\n" + lines(11, 20);
    std::string long2 = lines(1, 9) + "# Created by y\n" + lines(11, 20);
    EXPECT_FALSE(compare(long1, long2));
    EXPECT_EQ(std::count(diff->diffText.begin(), diff->diffText.end(), '\n'), 9)
        << "three lines of context either side of a single change";
    EXPECT_FALSE(compare(lines(1, 9) + "# Created by x\n# Created by q\n" + lines(12, 20),
                         lines(1, 9) + "# Created by y\n# Created by r\n" + lines(12, 20)));
    EXPECT_EQ(std::count(diff->diffText.begin(), diff->diffText.end(), '\n'), 11);

    // CRLF against LF: the same lines.
    std::string crlf = a;
    for (size_t at = crlf.find('\n'); at != std::string::npos; at = crlf.find('\n', at + 2)) crlf.insert(at, "\r");
    EXPECT_TRUE(compare(a, crlf, "qx.CLI"));
    EXPECT_FALSE(compare(a, crlf, "NEXA")) << "as for identical files";
}

TEST_F(UniDiffTest, UnreadableFilesAndUnlinkRemovesBoth) {
    writeFile(dir.file("a"), "x\n");
    UniDiff missing(&log, &router, "NEXA", dir.file("a"), dir.file("nothere"));
    EXPECT_FALSE(missing.comparefiles());
    EXPECT_TRUE(contains(logText(), "File2 for comparing not readable! Aborting!"));
    missing.unlink();
    EXPECT_FALSE(testsupport::fileExists(dir.file("a")));

    UniDiff first(&log, &router, "NEXA", dir.file("gone"), dir.file("a"));
    EXPECT_FALSE(first.comparefiles());
    EXPECT_TRUE(contains(logText(), "File1 for comparing not readable! Aborting!"));
}

// The printed hunks equal what dtl's own unified printer makes of the same
// pair, for random edits including ones at the first and last lines and
// hunks that touch.
TEST_F(UniDiffTest, HunksMatchDtlsUnifiedPrinter) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 200; ++round) {
        std::vector<std::string> a, b;
        int n = 1 + static_cast<int>(random() % 40);
        for (int i = 0; i < n; ++i) a.push_back("row " + std::to_string(random() % 7));
        b = a;
        int edits = 1 + static_cast<int>(random() % 6);
        for (int e = 0; e < edits; ++e) {
            int kind = static_cast<int>(random() % 3);
            size_t at = b.empty() ? 0 : random() % b.size();
            if (round % 10 == 0) at = e % 2 ? (b.empty() ? 0 : b.size() - 1) : 0;
            if (kind == 0 || b.empty())
                b.insert(b.begin() + static_cast<long>(at), "new " + std::to_string(random() % 5));
            else if (kind == 1)
                b.erase(b.begin() + static_cast<long>(at));
            else
                b[at] = "changed " + std::to_string(random() % 5);
        }
        std::string textA, textB;
        for (const auto& l : a) textA += l + "\n";
        for (const auto& l : b) textB += l + "\n";

        dtl::Diff<std::string, std::vector<std::string>> oracle(a, b);
        oracle.onHuge();
        oracle.compose();
        oracle.composeUnifiedHunks();
        std::ostringstream expected;
        oracle.printUnifiedFormat(expected);

        compare(textA, textB, "qx.CLI");
        ASSERT_EQ(diff->diffText, expected.str()) << "round " << round << "\nA:\n" << textA << "B:\n" << textB;
    }
}

TEST_F(UniDiffTest, SecretsAreMaskedLiterallyBeforeTheHunksAreLogged) {
    router.pass = "a.b";
    router.tmibadmadmincommunity = "p*ss";
    router.tmibadmreadcommunity = "x(1";
    router.tmibadmwritecommunity = "$1\\w";
    router.variables = {{"var_01", "plain-var"}, {"var_02", "secret-var"}, {"var_03", "caps-var"}};
    router.passwordFlags = {{"pwd_var_01", ""}, {"pwd_var_02", "yes"}, {"pwd_var_03", "Yes"}};
    std::string a = lines(1, 5);
    std::string b = lines(1, 2) + "pw a.b axb p*ss x(1 $1\\w\nvars plain-var secret-var caps-var\n" + lines(3, 5);
    EXPECT_FALSE(compare(a, b, "qx.CLI"));
    EXPECT_TRUE(contains(diff->diffText, "+pw ****** axb ****** ****** ******\n")) << diff->diffText;
    EXPECT_TRUE(contains(diff->diffText, "+vars plain-var ****** caps-var\n")) << diff->diffText;
    const std::string text = logText();
    for (const char* secret : {"a.b", "p*ss", "x(1", "$1\\w", "secret-var"})
        EXPECT_FALSE(contains(text, secret)) << secret << " leaked into\n" << text;
    EXPECT_TRUE(contains(text, "+pw ****** axb")) << "the hunk is in the log as raw lines";
    EXPECT_FALSE(contains(text, "Parser:"));

    // With debug the value that was found is named.
    logEngine debugLog(true);
    UniDiff loud(&debugLog, &router, "qx.CLI", dir.file("a"), dir.file("b"));
    loud.comparefiles();
    EXPECT_TRUE(
        contains(debugLog.dumpAsString(), "A Password marked string was found ('a.b'). Replace it with ******"));
}

}  // namespace
