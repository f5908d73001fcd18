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
    nexa.usePromptPrefix("\nignored");
    EXPECT_EQ(nexa.promptMain, ">");
    EXPECT_EQ(nexa.promptAdmin, ":admin>");
    EXPECT_EQ(nexa.promptYesNo, "(y or n)");
    EXPECT_EQ(nexa.promptPlus, "");
    EXPECT_EQ(nexa.promptConfigEnd, "");

    DeviceFamily qx("qx.CLI");
    EXPECT_EQ(qx.loginPrompt, "User:");
    EXPECT_EQ(qx.passwordPrompt, "Password:");
    EXPECT_EQ(qx.promptMain, "*");
    EXPECT_EQ(qx.promptSftp, "\nsftp>");
    // A second login's prefix replaces the first one's.
    qx.usePromptPrefix("\nold");
    qx.usePromptPrefix("\nqx1");
    EXPECT_EQ(qx.promptMain, "\nqx1*");
    EXPECT_EQ(qx.promptPlus, "\nqx1+");
    EXPECT_EQ(qx.promptConfig, "\nqx1Config>");
    EXPECT_EQ(qx.promptConfigEnd, "\nqx1Config$");
    EXPECT_EQ(qx.promptFtpConfig, "\nqx1FTP config$");
    // The SFTP prompt and the NEXA-only prompts carry no prefix.
    EXPECT_EQ(qx.promptSftp, "\nsftp>");
    EXPECT_EQ(qx.promptAdmin, "");
    EXPECT_EQ(std::string(qx.defaultPasswords[3]), "") << "the last factory password of qx.CLI is empty";
}
