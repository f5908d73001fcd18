// The normalisation of the software version a NEXA device reports.
#include <gtest/gtest.h>

#include "main/Tarvo.h"

TEST(getSwVersionFromMib, TableOfTexts) {
    struct Case {
        const char* text;
        const char* version;
    } cases[] = {
        {"V.10.1.5.101", "10.1.5.101"},
        {"NEXA V.10.1.5.101 (build 7)", "10.1.5.101"},
        {"V.10.1.5.101.9", "10.1.5.101"},
        {"V.7.10 Rev. 3 (Patch 12)", "7.10.3 Patch 12"},
        {"V.7.10 Rev. 3 IPSec", "7.10.3"},
        {"V.7.10 Rev. 3 (Patch)", "7.10.3"},
        {"V.7.10  Rel.  12  [SP 4]", "7.10.12 SP 4"},
        // The first form wins when both could apply.
        {"V.7.10 Rev. 3 (Patch 12) V.1.2.3.4", "1.2.3.4"},
        // Neither form: no version.
        {"", ""},
        {"V.10.1.5", ""},
        {"v.10.1.5.101", ""},
        {"10.1.5.101", ""},
        {"V.7.10 Rev. 3", ""},
        {"V.7.10 Rev 3 (Patch 12)", ""},
        {"INVALID", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(Tarvo::getSwVersionFromMib(c.text), c.version) << "'" << c.text << "'";
}
