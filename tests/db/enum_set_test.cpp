#include <gtest/gtest.h>

#include <map>
#include <string>

#include "db/enum_t.h"
#include "db/set_t.h"

namespace {
using NameTable = std::map<std::string, unsigned long long>;

NameTable connectMethods() {
    return {{"NONE", 1}, {"ONLY_ISDN", 2}, {"ONLY_IP", 3}, {"IP_ISDN", 4}, {"ISDN_IP", 5}};
}
}  // namespace

TEST(enum_t, NamesToValuesAndBack) {
    NameTable table = connectMethods();
    enum_t method(table);
    EXPECT_EQ(method.Value(), 0);
    EXPECT_EQ(method.String(), "");  // no name carries 0
    EXPECT_EQ(method = std::string("ONLY_IP"), 3);
    EXPECT_EQ(method.Value(), 3);
    EXPECT_TRUE(method == static_cast<unsigned short>(3));
    EXPECT_EQ(method.String(), "ONLY_IP");
    EXPECT_STREQ(method.c_str(), "ONLY_IP");
    method = static_cast<unsigned short>(5);
    EXPECT_EQ(method.String(), "ISDN_IP");
    method = static_cast<unsigned short>(9);
    EXPECT_EQ(method.String(), "");  // a value without a name is written as ""

    NameTable types{{"Telnet", 1}, {"SSH", 2}};
    enum_t conntype(types);
    conntype = std::string("SSH");
    EXPECT_TRUE(conntype == std::string("ssh"));
    EXPECT_FALSE(conntype != std::string("sSh"));
    EXPECT_TRUE(conntype != std::string("Telnet"));
    // A name spelled differently is not in the table: value 0, kept as spelled.
    EXPECT_EQ(conntype = std::string("ssh"), 0);
    EXPECT_EQ(conntype.String(), "ssh");
    EXPECT_TRUE(conntype == std::string("SSH"));
}

TEST(enum_t, UnknownNamesJoinTheTableWithZero) {
    NameTable table = connectMethods();
    enum_t method(table);
    EXPECT_EQ(method = std::string("MODEM"), 0);
    EXPECT_EQ(table.count("MODEM"), 1u);
    EXPECT_EQ(table["MODEM"], 0u);
    EXPECT_EQ(method.String(), "MODEM");  // written back unchanged
    // A second unknown name: the later one in byte order carries 0.
    EXPECT_EQ(method = std::string("ADSL"), 0);
    EXPECT_EQ(method.String(), "MODEM");
    EXPECT_EQ(method = std::string("ZIGBEE"), 0);
    EXPECT_EQ(method.String(), "ZIGBEE");
    // Known names still work after the table grew.
    method = std::string("NONE");
    EXPECT_EQ(method.Value(), 1);
    EXPECT_EQ(method.String(), "NONE");

    // Numbers are cut to 16 bits.
    NameTable wide{{"big", 0x10002}};
    enum_t e(wide);
    EXPECT_EQ(e = std::string("big"), 2);
    EXPECT_EQ(e.String(), "big");
}

TEST(set_t, ListsOfNamesAndBits) {
    NameTable table{{"a", 1}, {"b", 2}, {"c", 4}};
    set_t set(table);
    EXPECT_EQ(set.Value(), 0u);
    EXPECT_EQ(set.String(), "");
    set = std::string("a,b");
    EXPECT_EQ(set.Value(), 3u);
    EXPECT_EQ(set.String(), "a,b");
    set -= std::string("a");
    EXPECT_EQ(set.String(), "b");
    EXPECT_FALSE(set.in_set("c"));
    EXPECT_TRUE(set.in_set("b"));
    set += std::string("c,a");
    EXPECT_EQ(set.Value(), 7u);
    EXPECT_STREQ(set.c_str(), "a,b,c");
    set = std::string("c");  // assignment clears first
    EXPECT_EQ(set.Value(), 4u);

    set = 0ull;
    set |= 5ull;
    EXPECT_EQ(set.String(), "a,c");
    set &= 4ull;
    EXPECT_EQ(set.String(), "c");

    // Pieces are not trimmed; unknown ones join the table with 0.
    set = std::string("a, b");
    EXPECT_EQ(set.Value(), 1u);
    EXPECT_EQ(table.count(" b"), 1u);
    EXPECT_FALSE(set.in_set("unknown"));
    EXPECT_EQ(table.count("unknown"), 1u);
    set = std::string("");
    EXPECT_EQ(set.Value(), 0u);
    EXPECT_EQ(table.count(""), 1u);
    EXPECT_EQ(table[""], 0u);
}
