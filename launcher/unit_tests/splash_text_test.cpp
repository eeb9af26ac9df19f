#include "portable/splash_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

TEST(StatusTextFromUtf16, KeepsLatin1AndEndsBeforeTheFirstWiderUnit) {
    struct Case {
        const char* name;
        std::u16string text;
        std::string expected;
    };
    const Case cases[] = {
        {"ascii", u"Loading modules", "Loading modules"},
        {"latin-1 letters become single bytes", u"Gr\u00FC\u00DFe \u00FF", "Gr\xFC\xDF" "e \xFF"},
        {"ends before a unit above U+00FF", u"Stage \u0100 two", "Stage "},
        {"euro sign first", u"\u20AC 5", ""},
        {"surrogate pair", u"a\U0001F600b", "a"},
        {"empty", u"", ""},
        {"embedded NUL is a unit like any other", std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(statusTextFromUtf16(c.text), c.expected) << c.name;
}

TEST(StatusTextFromUtf16, CutsToTheBuffer) {
    struct Case {
        size_t length;
        size_t expected;
    };
    const Case cases[] = {{5999, 5999}, {6000, 5999}, {6001, 5999}, {10, 10}};
    for (const Case& c : cases) {
        std::u16string text(c.length, u'x');
        EXPECT_EQ(statusTextFromUtf16(text).size(), c.expected) << c.length;
    }
    EXPECT_EQ(statusTextFromUtf16(u"abcdef", 4), "abc");
    EXPECT_EQ(statusTextFromUtf16(u"abc", 0), "");
}

TEST(CentredOrigin, CentresInTheRectangle) {
    struct Case {
        const char* name;
        int left, top, right, bottom, width, height;
        int x, y;
    };
    const Case cases[] = {
        {"screen", 0, 0, 1024, 768, 400, 300, 312, 234},
        {"odd leftover rounds down", 0, 0, 1025, 769, 400, 300, 312, 234},
        {"the origin of the rectangle is subtracted, not added", 100, 50, 1124, 818, 400, 300, 312, 234},
        {"as large as the screen", 0, 0, 800, 600, 800, 600, 0, 0},
        {"larger than the screen", 0, 0, 800, 600, 1000, 700, -100, -50},
        {"odd negative leftover rounds towards zero", 0, 0, 800, 600, 801, 601, 0, 0},
        // Extreme sizes are capped instead of overflowing.
        {"largest width and height", 0, 0, 800, 600, INT_MAX, INT_MAX, -8388208, -8388308},
        {"smallest width and height", 0, 0, 800, 600, INT_MIN, INT_MIN, 8389008, 8388908},
        {"extreme rectangle", INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0, 0, 16777216, 16777216},
    };
    for (const Case& c : cases) {
        WindowOrigin origin = centredOrigin(c.left, c.top, c.right, c.bottom, c.width, c.height);
        EXPECT_EQ(origin.x, c.x) << c.name;
        EXPECT_EQ(origin.y, c.y) << c.name;
    }
}

} // namespace
