// The family value: every family text from the router type's os, and the
// two family tests.
#include "util/DeviceFamily.h"

#include <gtest/gtest.h>

TEST(DeviceFamily, OnlyTheExactOsTextsSelect) {
    EXPECT_TRUE(DeviceFamily("qx.CLI").isQxCli());
    EXPECT_TRUE(DeviceFamily("NEXA").isNexa());
    // Any other text is served as NEXA, but is not "NEXA" for the rules
    // that need the exact text (the inventory readers).
    for (const char* other : {"", "nexa", "Nexa", "NEXA ", "qx.cli", "QX.CLI", "qx.CLI ", "OTHER"}) {
        DeviceFamily family(other);
        EXPECT_FALSE(family.isQxCli()) << "'" << other << "'";
        EXPECT_FALSE(family.isNexa()) << "'" << other << "'";
        EXPECT_EQ(family.shellPrompt, ">") << "'" << other << "'";
        EXPECT_EQ(family.loginPrompt, "Login:") << "'" << other << "'";
    }
    EXPECT_FALSE(DeviceFamily().isQxCli());
}

TEST(DeviceFamily, PromptsBeforeAndAfterThePrefixIsKnown) {
    DeviceFamily nexa("NEXA");
    DeviceFamily::Prompts n = nexa.promptsWithPrefix("\nignored");
    EXPECT_EQ(n.main, ">");
    EXPECT_EQ(n.admin, ":admin>");
    EXPECT_EQ(n.yesNo, "(y or n)");
    EXPECT_EQ(n.plus, "");
    EXPECT_EQ(n.configEnd, "");

    DeviceFamily qx("qx.CLI");
    EXPECT_EQ(qx.loginPrompt, "User:");
    EXPECT_EQ(qx.passwordPrompt, "Password:");
    DeviceFamily::Prompts start = qx.initialPrompts();
    EXPECT_EQ(start.main, "*");
    EXPECT_EQ(start.sftp, "\nsftp>");
    DeviceFamily::Prompts q = qx.promptsWithPrefix("\nqx1");
    EXPECT_EQ(q.main, "\nqx1*");
    EXPECT_EQ(q.plus, "\nqx1+");
    EXPECT_EQ(q.config, "\nqx1Config>");
    EXPECT_EQ(q.configEnd, "\nqx1Config$");
    EXPECT_EQ(q.ftpConfig, "\nqx1FTP config$");
    // The SFTP prompt and the NEXA-only prompts carry no prefix.
    EXPECT_EQ(q.sftp, "\nsftp>");
    EXPECT_EQ(q.admin, "");
    EXPECT_EQ(std::string(qx.defaultPasswords[3]), "") << "the last factory password of qx.CLI is empty";
}
