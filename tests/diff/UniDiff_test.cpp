// The comparison of a stored configuration with a rebuilt one: how lines
// are read, the hunks it prints (checked against dtl's own printer run on
// the whole files), the rule per family and the masking of the router's
// secrets.
#include "config/UniDiff.h"

#include <gtest/gtest.h>

#include <dtl/dtl.hpp>

#include <random>
#include <sstream>

#include "config/MappedFile.h"
#include "config/UnifiedHunks.h"
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

// The hunks as the comparison printed them before it left out the common
// head and tail: dtl over all lines of both texts, printed by dtl.
std::string plainDtlHunks(const std::string& textA, const std::string& textB) {
    auto split = [](const std::string& text) {
        std::istringstream in(text);
        std::vector<std::string> got;
        std::string line;
        while (UniDiff::safeGetline(in, line)) got.push_back(line);
        return got;
    };
    dtl::Diff<std::string, std::vector<std::string>> diff(split(textA), split(textB));
    diff.onHuge();
    diff.compose();
    diff.composeUnifiedHunks();
    std::ostringstream out;
    diff.printUnifiedFormat(out);
    return out.str();
}

// A configuration of tables with rows in braces, as devices export them;
// every changeEvery-th row of the second text is changed (0: none).
std::string tables(int count, int changeEvery = 0) {
    std::mt19937 random(7);
    std::string text;
    for (int i = 0; i < count; ++i) {
        if (i % 20 == 0)
            text += "table t" + std::to_string(i / 20) + "\n";
        else if (i % 20 == 1)
            text += "{\n";
        else if (i % 20 == 19)
            text += "}\n";
        else
            text += "  row " + std::to_string(i) + " addr 10.0." + std::to_string(random() % 256) +
                    (changeEvery && i % changeEvery == 3 ? " changed" : "") + "\n";
    }
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

// Files are mapped where they are regular and read otherwise; what cannot
// be read is not ok.
TEST(MappedFile, RegularEmptyProcMissingAndFolder) {
    TempDir dir("mapped");
    writeFile(dir.file("some"), "a\r\nb\n");
    writeFile(dir.file("empty"), "");
    testsupport::makeDirs(dir.file("folder"));
    const struct {
        std::string path;
        bool ok;
        std::string text;  // "*": any non-empty text
    } cases[] = {
        {dir.file("some"), true, "a\r\nb\n"},
        {dir.file("empty"), true, ""},
        {"/proc/self/status", true, "*"},  // size 0 in its status, read to its end
        {dir.file("missing"), false, ""},
        {dir.file("folder"), false, ""},
    };
    for (const auto& c : cases) {
        MappedFile file(c.path);
        EXPECT_EQ(file.ok(), c.ok) << c.path;
        if (c.text == "*")
            EXPECT_TRUE(contains(std::string(file.text()), "Pid:")) << c.path;
        else
            EXPECT_EQ(std::string(file.text()), c.text) << c.path;
    }
}

// The hunks of the comparison byte for byte against dtl run on the whole
// files, for the shapes a drift check meets.
TEST_F(UniDiffTest, HunksEqualPlainDtlOnWholeFiles) {
    std::string crlf = tables(200);
    for (size_t at = crlf.find('\n'); at != std::string::npos; at = crlf.find('\n', at + 2)) crlf.insert(at, "\r");
    const std::string many = tables(3000);
    std::string bothEnds = many;
    bothEnds.replace(0, bothEnds.find('\n'), "table first");
    bothEnds.insert(bothEnds.rfind('}'), "  row last\n");
    const struct {
        const char* name;
        std::string a, b;
    } cases[] = {
        {"single change at line 3", lines(1, 2) + "x\n" + lines(4, 400), lines(1, 2) + "y\n" + lines(4, 400)},
        {"single change deep inside", many, many.substr(0, 20000) + "  added row\n" + many.substr(20000)},
        {"changes at both ends", many, bothEnds},
        {"first and last line only", "a\n" + lines(2, 50) + "z\n", "b\n" + lines(2, 50) + "y\n"},
        {"changes three lines apart (one hunk)", lines(1, 40), lines(1, 9) + "x\n" + lines(11, 13) + "y\n" + lines(15, 40)},
        {"changes seven lines apart (two hunks)", lines(1, 40), lines(1, 9) + "x\n" + lines(11, 17) + "y\n" + lines(19, 40)},
        {"CR LF against LF", tables(200), crlf},
        {"CR LF against LF with a change", tables(200, 50), crlf},
        {"both empty", "", ""},
        {"first empty", "", lines(1, 30)},
        {"second empty", lines(1, 30), ""},
        {"identical", many, many},
        {"10 % changed", tables(2000), tables(2000, 10)},
        {"1 % changed", tables(5000), tables(5000, 100)},
        {"repeated lines around the change", std::string(300, '}') + "\n", "}\n}\nx\n}\n"},
        {"tail of braces only", tables(100) + std::string(40, '\n'), tables(100, 30) + std::string(40, '\n')},
        {"a moved table", tables(400), tables(400).substr(4000) + tables(400).substr(0, 4000)},
        {"no line end at the end", lines(1, 20) + "last", lines(1, 12) + "x\n" + lines(14, 20) + "last"},
    };
    for (const auto& c : cases) {
        compare(c.a, c.b, "qx.CLI");
        EXPECT_EQ(diff->diffText, plainDtlHunks(c.a, c.b)) << c.name;
        EXPECT_EQ(diff->diffText.empty(), c.a == c.b || c.name == std::string("CR LF against LF")) << c.name;
    }
}

// Beyond what dtl finds in one search the texts are compared in pieces.
// For configurations (rows that occur once) the hunks are still dtl's for
// the whole texts; for texts of a few repeated lines they still turn the
// first text into the second.
TEST(UnifiedHunks, PiecesGiveTheSameHunksAndStillPatch) {
    for (int every : {100, 10}) {
        const std::string a = tables(6000), b = tables(6000, every);
        EXPECT_EQ(UnifiedHunks::between(a, b, 1000), plainDtlHunks(a, b)) << "every " << every;
    }
    std::mt19937 random(31);
    for (int round = 0; round < 40; ++round) {
        std::vector<std::string> a, b;
        for (int i = 0; i < 3000; ++i) a.push_back(i % 7 ? "row " + std::to_string(random() % 4) : "row " + std::to_string(i));
        for (const auto& line : a)
            if (random() % 50 == 0)
                b.push_back("new " + std::to_string(random() % 3));
            else if (random() % 50 != 0)
                b.push_back(line);
        std::string textA, textB;
        for (const auto& l : a) textA += l + "\n";
        for (const auto& l : b) textB += l + "\n";
        // Apply the hunks to the first text.
        std::istringstream hunks(UnifiedHunks::between(textA, textB, 100));
        std::vector<std::string> patched;
        size_t next = 0;
        std::string line;
        while (std::getline(hunks, line)) {
            if (line.compare(0, 4, "@@ -") == 0) {
                size_t first = std::stoul(line.substr(4));
                ASSERT_GE(first, next + 1) << line;
                for (; next + 1 < first; ++next) patched.push_back(a[next]);
                continue;
            }
            ASSERT_FALSE(line.empty());
            if (line[0] == '+') {
                patched.push_back(line.substr(1));
                continue;
            }
            ASSERT_LT(next, a.size());
            ASSERT_EQ(line.substr(1), a[next]) << "round " << round;
            if (line[0] == ' ') patched.push_back(a[next]);
            ++next;
        }
        for (; next < a.size(); ++next) patched.push_back(a[next]);
        ASSERT_EQ(patched, b) << "round " << round;
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
