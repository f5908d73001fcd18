#include "util/ExpectRegex.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

#include "util/ExpectException.h"

namespace {

struct ParseCase {
    const char* text;
    const char* pattern;
    const char* flags;
};

TEST(ExpectRegex, ParsesSlashFormAndBareTexts) {
    const ParseCase cases[] = {
        {"/\\S*assword:\\s*/i", "\\S*assword:\\s*", "i"},
        {"/\\*/", "\\*", ""},
        {"/abc/", "abc", ""},
        {"abc/i", "abc/i", ""},  // no leading slash: all of it is the pattern
        {"closed", "closed", ""},
        {"/", "/", ""},            // the only slash is the first character
        {"//", "", ""},            // an empty pattern
        {"/a/b/ms", "a/b", "ms"},  // the last slash ends the pattern
        {"/\\nsftp>/", "\\nsftp>", ""},
        {"x/", "x/", ""},
    };
    for (const ParseCase& c : cases) {
        ExpectRegex fromChars(c.text);
        ExpectRegex fromString(std::string{c.text});
        EXPECT_EQ(fromChars.pattern, c.pattern) << c.text;
        EXPECT_EQ(fromChars.flags, c.flags) << c.text;
        EXPECT_EQ(fromString.pattern, c.pattern) << c.text;
        EXPECT_EQ(fromString.flags, c.flags) << c.text;
    }
}

TEST(ExpectRegex, EmptyTextIsOutOfRangeAndReparsingReplacesBoth) {
    // Braces: with parentheses clang reads the second one as a declaration.
    EXPECT_THROW(ExpectRegex{""}, std::out_of_range);
    EXPECT_THROW(ExpectRegex{std::string()}, std::out_of_range);
    ExpectRegex r("/abc/i");
    r.parseString("plain");
    EXPECT_EQ(r.pattern, "plain");
    EXPECT_EQ(r.flags, "") << "flags of an earlier parse must not survive";
    ExpectRegex given("/not parsed/", "s");
    EXPECT_EQ(given.pattern, "/not parsed/");
    EXPECT_EQ(given.flags, "s");
}

TEST(ExpectRegex, PrintsSlashPatternSlashFlags) {
    std::ostringstream out;
    out << ExpectRegex("/a.b/mi") << ' ' << ExpectRegex("closed") << ' ' << ExpectRegex("x", "");
    EXPECT_EQ(out.str(), "/a.b/mi /closed/ /x/");
}

TEST(ExpectException, CarriesItsMessage) {
    try {
        throw ExpectException(std::string("EOF reached!"));
    } catch (const ExpectException& e) {
        EXPECT_STREQ(e.what(), "EOF reached!");
        EXPECT_EQ(e.message, "EOF reached!");
    }
    ExpectException fromChars("Calling send on a closed pipe!!");
    EXPECT_STREQ(fromChars.what(), "Calling send on a closed pipe!!");
}

}  // namespace
