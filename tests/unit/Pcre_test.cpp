#include "util/Pcre.h"

#include <gtest/gtest.h>

using pcrepp::Pcre;

TEST(Pcre, FlagLetters) {
    EXPECT_FALSE(Pcre("password:").search("PASSWORD:"));
    EXPECT_TRUE(Pcre("password:", "i").search("PASSWORD:"));
    EXPECT_FALSE(Pcre("^b").search("a\nb"));
    EXPECT_TRUE(Pcre("^b", "m").search("a\nb"));
    EXPECT_FALSE(Pcre("a.b").search("a\nb"));
    EXPECT_TRUE(Pcre("a.b", "s").search("a\nb"));
    EXPECT_TRUE(Pcre("a b # comment", "x").search("ab"));
    EXPECT_FALSE(Pcre("a b", "").search("ab"));
    EXPECT_TRUE(Pcre("x", "g").global());
    EXPECT_FALSE(Pcre("x", "i").global());
}

TEST(Pcre, SearchOffsetsGroupsAndPositions) {
    Pcre re("(\\w+)=(\\d+)?");
    ASSERT_TRUE(re.search("skip a=1 b= c=33", 9));
    EXPECT_EQ(re.group(0), "b=");
    EXPECT_EQ(re.group(1), "b");
    EXPECT_EQ(re.group(2), "") << "a group that did not take part";
    EXPECT_EQ(re.start(2), Pcre::npos);
    EXPECT_EQ(re.start(), 9u);
    EXPECT_EQ(re.end(), 11u);
    EXPECT_EQ(re.matches(), 2);
    ASSERT_TRUE(re.search("c=33"));
    EXPECT_EQ(re.group(2), "33");
    EXPECT_EQ(re.start(2), 2u);
    EXPECT_EQ(re.end(2), 4u);
    EXPECT_FALSE(re.search("nothing here"));
    EXPECT_FALSE(re.matched());
    EXPECT_EQ(re.group(1), "");
    EXPECT_FALSE(re.search("a=1", 4)) << "an offset past the end never matches";
}

TEST(Pcre, BytesAreNotUtf8) {
    std::string subject = "x\xff\x80y";
    Pcre re("x(..)y");
    ASSERT_TRUE(re.search(subject));
    EXPECT_EQ(re.group(1), "\xff\x80");
}

TEST(Pcre, ReplaceFirstOrEveryMatchWithGroupReferences) {
    EXPECT_EQ(Pcre("(o)").replace("foo boo", "[$1]"), "f[o]o boo");
    EXPECT_EQ(Pcre("(o)", "g").replace("foo boo", "[$1]"), "f[o][o] b[o][o]");
    EXPECT_EQ(Pcre("(\\[router\\.name\\])", "sig").replace("a [ROUTER.NAME] b [router.name]", "R1"), "a R1 b R1");
    EXPECT_EQ(Pcre("z").replace("abc", "q"), "abc");
    std::string big(100000, 'a');
    EXPECT_EQ(Pcre("a", "g").replace(big, "bb").size(), 200000u) << "output larger than the first guess";
}

TEST(Pcre, LiteralReplacementKeepsDollarsAndBackslashes) {
    const std::string secret = "pa$1ss\\w$$0rd${2}";
    EXPECT_EQ(Pcre("(\\[pass\\])", "sig").replaceLiteral("x=[pass];y=[PASS]", secret), "x=" + secret + ";y=" + secret);
    EXPECT_EQ(Pcre("(\\[pass\\])", "si").replaceLiteral("x=[pass];y=[PASS]", secret), "x=" + secret + ";y=[PASS]");
    // Empty matches advance instead of looping.
    EXPECT_EQ(Pcre("x*", "g").replaceLiteral("abc", "-"), "-a-b-c-");
    EXPECT_EQ(Pcre("", "g").replaceLiteral("", "-"), "-");
}

TEST(Pcre, InvalidPatternIsReportedNotFatal) {
    Pcre re("(unclosed");
    EXPECT_FALSE(re.valid());
    EXPECT_NE(re.error().find("missing closing parenthesis"), std::string::npos) << re.error();
    EXPECT_FALSE(re.search("(unclosed"));
    EXPECT_EQ(re.replace("abc", "x"), "abc");
    EXPECT_EQ(re.replaceLiteral("abc", "x"), "abc");
    EXPECT_EQ(re.matches(), 0);
    Pcre copy = re;
    EXPECT_FALSE(copy.valid());
    EXPECT_EQ(copy.error(), re.error());
}

TEST(Pcre, CopiesAndMovesKeepThePattern) {
    Pcre a("(b+)", "i");
    Pcre b = a;
    ASSERT_TRUE(b.search("aBBc"));
    EXPECT_EQ(b.group(1), "BB");
    Pcre c = std::move(b);
    EXPECT_TRUE(c.matched());
    EXPECT_EQ(c.group(1), "BB");
    Pcre d;
    EXPECT_FALSE(d.valid());
    d = a;
    EXPECT_TRUE(d.search("b"));
}

TEST(Pcre, PartialMatchReportsWhereItBegins) {
    Pcre re("assword:");
    EXPECT_FALSE(re.search("login ok\r\nPass", 0, PCRE2_PARTIAL_SOFT));
    EXPECT_TRUE(re.partial());
    EXPECT_EQ(re.start(), 11u);
    EXPECT_TRUE(re.search("Password:", 0, PCRE2_PARTIAL_SOFT));
    EXPECT_FALSE(re.partial());
    EXPECT_EQ(Pcre("(?<=ab)c").maxLookbehind(), 2u);
}

TEST(Pcre, SearchInPlaceGivesPositionsWithoutKeepingTheSubject) {
    Pcre re("(b+)c");
    std::string subject = "aabbbcd";
    ASSERT_TRUE(re.searchInPlace(subject.data(), subject.size(), 1));
    EXPECT_EQ(re.start(0), 2u);
    EXPECT_EQ(re.end(0), 6u);
    EXPECT_EQ(re.start(1), 2u);
    EXPECT_EQ(re.end(1), 5u);
    EXPECT_EQ(re.group(1), "") << "no copy of the subject is kept";
    EXPECT_FALSE(re.searchInPlace(subject.data(), 4, 0, PCRE2_PARTIAL_SOFT));
    EXPECT_TRUE(re.partial());
    EXPECT_EQ(re.start(0), 2u) << "the partial match begins at the b's";
    EXPECT_FALSE(re.searchInPlace(subject.data(), subject.size(), 8)) << "an offset past the end";
    // A copying search afterwards gives groups again.
    ASSERT_TRUE(re.searchRange(subject.data(), subject.size(), 0));
    EXPECT_EQ(re.group(1), "bbb");
}
