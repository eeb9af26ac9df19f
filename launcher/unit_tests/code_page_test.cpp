#include "portable/code_page.h"

#include <gtest/gtest.h>

namespace {

TEST(NarrowConversionRules, FollowTheCodePage) {
    struct Case {
        unsigned codePage;
        unsigned long flags;
        bool reportsDefaultUsed;
    };
    const Case cases[] = {
        {1252, kNoBestFitChars, true},  // Western European
        {932, kNoBestFitChars, true},   // Japanese
        {437, kNoBestFitChars, true},   // an OEM code page
        {65001, 0, false},              // the "Unicode UTF-8" system setting
        {65000, 0, false},
        {54936, 0, true},               // GB18030
        {50220, 0, true},
        {50229, 0, true},
        {57002, 0, true},
        {57011, 0, true},
        {42, 0, true},
        {57012, kNoBestFitChars, true},
        {50230, kNoBestFitChars, true},
    };
    for (const Case& c : cases) {
        NarrowConversionRules rules = narrowConversionRules(c.codePage);
        EXPECT_EQ(rules.flags, c.flags) << c.codePage;
        EXPECT_EQ(rules.reportsDefaultUsed, c.reportsDefaultUsed) << c.codePage;
    }
}

} // namespace
