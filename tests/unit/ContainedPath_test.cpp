// File names from the database against a real folder with links: what
// stays inside it and what leads out.
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/TestSupport.h"
#include "util/ContainedPath.h"

using testsupport::contains;

TEST(ContainedPath, NamesThatStayInsideAndNamesThatLeadOut) {
    testsupport::TempDir root("contained");
    const std::string dir = root.path() + "/master/NX-1";
    testsupport::makeDirs(dir + "/sub");
    testsupport::makeDirs(root.path() + "/master/QX-1");
    testsupport::writeFile(dir + "/a.tmpl", "a");
    testsupport::writeFile(root.path() + "/outside", "x");
    symlink("a.tmpl", (dir + "/alias").c_str());
    symlink("sub", (dir + "/subdir").c_str());
    symlink((root.path() + "/outside").c_str(), (dir + "/absolute-link").c_str());
    symlink("../QX-1", (dir + "/sibling").c_str());
    symlink("missing", (dir + "/dangling").c_str());
    symlink(root.path().c_str(), (dir + "/sub/up").c_str());
    struct Case {
        std::string name;
        const char* refusal;  // "" when the name stays inside
    };
    const Case cases[] = {
        {"", ""},
        {"a.tmpl", ""},
        {"./a.tmpl", ""},
        {"sub/b.tmpl", ""},        // not there: the reader's own failure
        {"missing/deeper/c", ""},  // not there either, and no way out
        {"alias", ""},             // a link to a sibling file
        {"subdir/x", ""},          // through a link to a folder inside
        {"a..tmpl", ""},           // dots inside a name are no component
        {"../NX-1/a.tmpl", "a name with a '..' component"},
        {"sub/../../x", "a name with a '..' component"},
        {"/etc/passwd", "an absolute name"},
        {std::string("a.tmpl\0/../x", 12), "a name holding a NUL byte"},
        {"absolute-link", "leads out of its folder through the symbolic link"},
        {"sibling/a", "leads out of its folder through the symbolic link"},
        {"sub/up/outside", "leads out of its folder through the symbolic link"},
        {"dangling", "leads to no file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string why = ContainedPath::refusal(dir, c.name);
        if (*c.refusal == '\0')
            EXPECT_EQ(why, "");
        else
            EXPECT_TRUE(contains(why, c.refusal)) << why;
    }
    // A folder that does not exist holds nothing to follow.
    EXPECT_EQ(ContainedPath::refusal(root.path() + "/none", "x/y"), "");
    EXPECT_EQ(ContainedPath::join(dir + "/", "a"), dir + "/a");
    EXPECT_EQ(ContainedPath::join(dir, "a"), dir + "/a");
}
