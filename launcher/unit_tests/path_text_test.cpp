#include "portable/path_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CollapseBackslashes, RunsBecomeOneButTheLeadingPairStays) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},
        {"\\", "\\"},
        {"\\\\", "\\\\"},
        {"a\\", "a\\"},
        {"\\\\\\", "\\\\"},
        {"\\\\server\\share", "\\\\server\\share"},
        {"\\\\server\\\\\\share\\\\f", "\\\\server\\share\\f"},
        {"\\\\\\server", "\\\\server"},          // a third leading backslash joins the pair
        {"\\a\\\\b", "\\a\\b"},
        {"c:\\\\dir\\\\\\file.exe", "c:\\dir\\file.exe"},
        {"c:\\dir\\", "c:\\dir\\"},
        {"c:\\dir\\\\", "c:\\dir\\"},
        {"a\\\\", "a\\"},                        // the second character may start a run
        {"no separators", "no separators"},
        {"x/\\\\y//z", "x/\\y//z"},              // only backslashes collapse
    };
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(path);
        EXPECT_EQ(collapseBackslashes(std::string(path)), expected);
        std::wstring wide(path, path + std::char_traits<char>::length(path));
        EXPECT_EQ(collapseBackslashes(wide),
                  std::wstring(expected, expected + std::char_traits<char>::length(expected)));
    }
}

// A wide character whose low byte is a backslash is an ordinary character.
TEST(CollapseBackslashes, WideCharactersAreNotBackslashes) {
    EXPECT_EQ(collapseBackslashes(std::u16string(u"c:\\\u015C\u015C\\\\x")), u"c:\\\u015C\u015C\\x");
}

} // namespace
