#include "portable/path_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

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

namespace {

TEST(IsRelativePath, Table) {
    struct Case {
        const char* path;
        bool relative;
    };
    const Case cases[] = {
        {"c:\\java", false},  {"C:\\", false},         {"\\\\server\\share", false},
        {"\"c:\\java\"", false}, {"\"c:\\", false},     {"\"c:", true},
        {"jre", true},        {"c:", true},            {"c:/java", true},
        {"\\java", true},     {"..\\jre", true},       {"", true},
        {"ab", true},         {"\"\\\\server", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(isRelativePath(std::string(c.path)), c.relative);
        EXPECT_EQ(isRelativePath(std::u16string(c.path, c.path + strlen(c.path))), c.relative);
    }
}

TEST(IsDriveRoot, Table) {
    struct Case {
        const char* path;
        bool root;
    };
    const Case cases[] = {
        {"C:\\", true},  {"c:\\.", true},   {"C:\\.\\.", true}, {"C:", false},
        {"C:\\x", false}, {"C:\\..", false}, {"C:/", false},    {"C:\\.\\.\\.", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(isDriveRoot(std::string(c.path)), c.root);
    }
}

TEST(ListingPattern, ExtensionWithOrWithoutDot) {
    EXPECT_EQ(listingPattern(std::string("C:\\lib"), std::string("jar")), "C:\\lib\\*.jar");
    EXPECT_EQ(listingPattern(std::string("C:\\lib"), std::string(".jar")), "C:\\lib\\*.jar");
}

TEST(SplitList, SkipsEmptyPieces) {
    using List = std::vector<std::string>;
    EXPECT_EQ(splitList(std::string("a;;b;"), ';'), (List{"a", "b"}));
    EXPECT_EQ(splitList(std::string(";"), ';'), List{});
    EXPECT_EQ(splitList(std::string(""), ';'), List{});
    EXPECT_EQ(splitList(std::string("lib\\a.dll"), ';'), List{"lib\\a.dll"});
}

} // namespace

namespace {

struct DeviceCase {
    const char* name;
    bool device;
};

class DeviceNames : public ::testing::TestWithParam<DeviceCase> {};

TEST_P(DeviceNames, AreRecognised) {
    const DeviceCase& c = GetParam();
    EXPECT_EQ(isDeviceName(std::string(c.name)), c.device) << c.name;
    std::u16string wide(c.name, c.name + strlen(c.name));
    EXPECT_EQ(isDeviceName(wide), c.device) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, DeviceNames,
    ::testing::Values(DeviceCase{"CON", true}, DeviceCase{"con", true}, DeviceCase{"Nul.txt", true},
                      DeviceCase{"AUX.tar.gz", true}, DeviceCase{"prn", true},
                      DeviceCase{"COM1", true}, DeviceCase{"com9.log", true},
                      DeviceCase{"LPT1", true}, DeviceCase{"lpt0.x", true},
                      DeviceCase{"CON .txt", true}, DeviceCase{"nul ", true},
                      DeviceCase{"CONSOLE", false}, DeviceCase{"CON1", false},
                      DeviceCase{"COM", false}, DeviceCase{"COM10", false},
                      DeviceCase{"LPTX", false}, DeviceCase{"xcon", false},
                      DeviceCase{"NULL.txt", false}, DeviceCase{".con", false},
                      DeviceCase{"", false}, DeviceCase{"c\xC3\xB6n", false}));

} // namespace
