// Configuration tables: splitting a configuration into its tables and
// merging a processed template's tables into a downloaded configuration.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/configFile.h"
#include "tests/support/TestSupport.h"
#include "util/logEngine.h"

using testsupport::contains;
using testsupport::logText;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

class Tables : public ::testing::Test {
protected:
    // The template goes where the job's output file lives, the download
    // where the building constructor keeps its merge file.
    bool merge(const std::string& downloaded, const std::string& processed) {
        writeFile(output(), processed);
        writeFile(output() + "_tmp", downloaded);
        configFile config(&log, 7, ".config", dir.path() + "/");
        EXPECT_EQ(config.getFileName(), output());
        bool ok = config.mergeCfgFiles(output() + "_tmp");
        if (ok) {
            EXPECT_EQ(config.getBuffer(), readFile(output()));
        }
        return ok;
    }
    std::string output() const { return dir.file("7.config"); }
    void TearDown() override {
        if (HasFailure()) std::cerr << logText(log);
    }

    testsupport::TempDir dir;
    logEngine log;
};
}  // namespace

TEST_F(Tables, MergeTakesTheTemplatesTablesIntoTheDownload) {
    struct Case {
        const char* what;
        const char* downloaded;
        const char* processed;
        const char* expected;
    } cases[] = {
        {"preamble and A's comments kept, B's comments and extra tables dropped",
         "# Created by device\n\nsystem\n{\n name old\n}\n# kept comment\nifaces\n{\n eth0 1\n}\nroutes\n{\n r 1\n}\n",
         "# template comment\nifaces\n{\n eth0 2  # note\n}\n\n# gone\nextra\n{\n x 1\n}\n",
         "# Created by device\n\nsystem\n{\n name old\n}\n# kept comment\nifaces\n{\n eth0 2  # note\n}\nroutes\n{\n "
         "r 1\n}\n"},
        {"a table twice in the template: the last one counts", "ifaces\n{\n a\n}\n",
         "ifaces\n{\n first\n}\nifaces\n{\n second\n}\n", "ifaces\n{\n second\n}\n"},
        {"a table twice in the download: its last one is replaced", "t\n{\n1\n}\nt\n{\n2\n}\n", "t\n{\nnew\n}\n",
         "t\n{\n1\n}\nt\n{\nnew\n}\n"},
        {"names compared without comments and blanks", "  ifaces   # list\n{ # open\n old\n} # close\n",
         "\tifaces\r\n{\n new\n}\n", "\tifaces\r\n{\n new\n}\n"},
        {"CRLF line ends stay", "a\r\n{\r\n x\r\n}\r\nb\r\n{\r\n y\r\n}\r\n", "b\r\n{\r\n z\r\n}\r\n",
         "a\r\n{\r\n x\r\n}\r\nb\r\n{\r\n z\r\n}\r\n"},
        {"a template without a last line end does not run into the next table", "t1\n{\nold\n}\nt2\n{\nz\n}\n",
         "t1\n{\nnew\n}", "t1\n{\nnew\n}\nt2\n{\nz\n}\n"},
        {"a download without a last line end", "t1\n{\nold\n}", "t1\n{\nnew\n}\n", "t1\n{\nnew\n}\n"},
        {"rows of several lines and empty rows", "t\n{\n}\n{\n}\n", "t\n{\n a\n b\n}\n{\n}\n{\n c\n}\n",
         "t\n{\n a\n b\n}\n{\n}\n{\n c\n}\n"},
        {"empty download", "", "t\n{\nx\n}\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(merge(c.downloaded, c.processed));
        EXPECT_EQ(readFile(output()), c.expected);
    }
}

TEST_F(Tables, MalformedConfigurationsFailWithTheLine) {
    struct Case {
        const char* downloaded;
        const char* processed;
        const char* logged;
    } cases[] = {
        {"t\n{\n}\n", "{\nt\n}\n", "No table-name for row-start in line 1"},
        {"t\n{\n}\n", "# c\n\nt\n{\n x\n}\n}\n", "Stopped non-started row in line 7 for table t"},
        {"t\n{\n}\n", "t\n{\n a\n{\n", "Double-started row in line 4 for table t"},
        {"# only a comment\n{ row\n", "t\n", "No table-name for row-start in line 2"},
        {"}\n", "t\n", "Stopped non-started row in line 1 for table "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logged);
        EXPECT_FALSE(merge(c.downloaded, c.processed));
        EXPECT_TRUE(contains(logText(log), std::string("ERR - ") + c.logged)) << logText(log);
        // The output file is left alone.
        EXPECT_EQ(readFile(output()), c.processed);
    }
}

TEST_F(Tables, SplittingKeepsOrDropsTheSpacing) {
    writeFile(output(), "");
    configFile config(&log, 7, ".config", dir.path() + "/");
    const configFile::Lines lines = {"# head\n", "\n", "a\n", "{\n", " x\n", "}\n", "# c\n", "b # b\n", "a\n"};
    configFile::Blocks blocks;
    configFile::TableNames names;
    ASSERT_TRUE(config.getTables(lines, blocks, names, true));
    EXPECT_EQ(blocks,
              (configFile::Blocks{{"# head\n", "\n"}, {"a\n", "{\n", " x\n", "}\n", "# c\n"}, {"b # b\n"}, {"a\n"}}));
    EXPECT_EQ(names, (configFile::TableNames{{"a", 3}, {"b", 2}}));

    ASSERT_TRUE(config.getTables(lines, blocks, names, false));
    EXPECT_EQ(blocks, (configFile::Blocks{{"a\n", "{\n", " x\n", "}\n"}, {"b # b\n"}, {"a\n"}}));
    EXPECT_EQ(names, (configFile::TableNames{{"a", 2}, {"b", 1}}));

    configFile::Lines read;
    writeFile(dir.file("lines"), "one\r\ntwo\n\nlast");
    ASSERT_TRUE(config.readLines(dir.file("lines"), read));
    EXPECT_EQ(read, (configFile::Lines{"one\r\n", "two\n", "\n", "last"}));
    EXPECT_FALSE(config.readLines(dir.file("missing"), read));
    EXPECT_TRUE(contains(logText(log), "ERR - Could not read input-files"));
}
