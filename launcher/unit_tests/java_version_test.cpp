#include "portable/java_version.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace {

TEST(VersionComponents, SplitAtEverySeparatorSkippingEmptyPieces) {
    struct Case {
        const char* version;
        std::vector<std::string_view> components;
    };
    const Case cases[] = {
        {"1.8.0_20-ea", {"1", "8", "0", "20", "ea"}},
        {"11.0.2+9", {"11", "0", "2", "9"}},
        {"9", {"9"}},
        {"1..8.", {"1", "8"}},
        {"-ea", {"ea"}},
        {"", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        EXPECT_EQ(versionComponents(c.version), c.components);
    }
}

// The examples of the version range; the comments mark where plain byte order answered
// differently and was wrong.
TEST(IsInVersionRange, Table) {
    struct Case {
        const char* min;
        const char* max;
        const char* version;
        bool accepted;
    };
    const Case cases[] = {
        {"1.6", "1.8", "1.7.0_45", true},
        {"1.6", "1.7", "1.8", false},
        {"1.6", "1.8", "9", false},
        {"1.6", "", "9", true},
        {"1.8", "", "10", true},
        {"1.6", "", "1.10", true},           // byte order: 1.10 below 1.6
        {"9", "", "11.0.2", true},           // byte order: 11 below 9
        {"1.7.0_5", "", "1.7.0_45", true},   // byte order: _45 below _5
        {"", "1.8.0_45", "1.8.0_101", false}, // byte order: _101 below _45
        // A bound matches as a prefix of the version's components.
        {"", "1.8", "1.8.0_101", true},
        {"1.6", "", "1.6.0", true},
        {"1.6", "", "1.6", true},
        {"9", "9", "9.0.4", true},
        {"", "9", "9-ea", true},
        {"11", "11", "11.0.2+9", true},
        // A version with fewer components than the bound sorts below it.
        {"1.6.0_10", "", "1.6", false},
        {"", "1.6.0_10", "1.6", true},
        {"1.8", "", "", false},
        // Digit components by value: leading zeros and very long numbers.
        {"1.8.0_5", "1.8.0_5", "1.8.0_05", true},
        {"1.8.0_99999999999999999999", "", "1.8.0_100000000000000000000", true},
        {"", "1.8.0_99999999999999999999", "1.8.0_100000000000000000000", false},
        // A digit component ranks below any other component.
        {"1.8.0_20", "", "1.8.0-ea", true},
        {"", "1.8.0_20", "1.8.0-ea", false},
        // Different separators with equal components match.
        {"1.7.0.5", "1.7.0.5", "1.7.0_5", true},
        // Empty bounds are no bounds.
        {"", "", "", true},
        {"", "", "anything", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.min) + " .. " + c.max + " : " + c.version);
        EXPECT_EQ(isInVersionRange(c.version, c.min, c.max), c.accepted);
    }
}

TEST(CompareVersions, Table) {
    struct Case {
        const char* a;
        const char* b;
        int order;
    };
    const Case cases[] = {
        {"1.8.0_5", "1.8.0_45", -1},
        {"1.8.0_45", "1.8.0_101", -1},
        {"9", "10", -1},
        {"1.8", "1.8.0", -1},          // runs out first
        {"1.8", "1.8.0_45", -1},
        {"1.8.0_45", "1.8.0_45", 0},
        {"1.8.0_05", "1.8.0_5", -1},   // equal components: byte order decides
        {"1.8.0.45", "1.8.0_45", -1},  // '.' below '_'
        {"1.8.0-ea", "1.8.0_20", 1},   // a word above a number
        {"1.8.0_20-b03", "1.8.0_20-ea", -1},
        {"", "1", -1},
        {"", "", 0},
        {"11.0.2+9", "11.0.10", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " <=> " + c.b);
        EXPECT_EQ(compareVersions(c.a, c.b), c.order);
        EXPECT_EQ(compareVersions(c.b, c.a), -c.order);
    }
}

TEST(CompareVersions, SortsRegistryNamesNewestLast) {
    std::vector<std::string> names = {"1.8.0_101", "10", "1.8", "9", "1.8.0_5", "1.7", "1.8.0_45"};
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return compareVersions(a, b) < 0;
    });
    const std::vector<std::string> ascending = {"1.7",       "1.8", "1.8.0_5", "1.8.0_45",
                                                "1.8.0_101", "9",   "10"};
    EXPECT_EQ(names, ascending);
}

TEST(IsRegistryNameInRange, ComparesOverTheShorterComponentCount) {
    struct Case {
        const char* name;
        const char* min;
        const char* max;
        bool accepted;
    };
    const Case cases[] = {
        {"1.8", "1.8.0_20", "", true},
        {"1.7", "1.8.0_20", "", false},
        {"", "1.8", "1.9", true},
        {"1.8.0_45", "", "1.8", true},
        {"1.8.0_101", "1.8.0_45", "", true},
        {"1.8.0_101", "", "1.8.0_45", false},
        {"1.9", "", "1.8.0_45", false},
        {"11", "9", "", true},
        {"10", "1.8", "", true},
        {"9", "1.6", "1.8", false},
        {"1.6", "1.6", "1.6", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.min) + " .. " + c.max + " : " + c.name);
        EXPECT_EQ(isRegistryNameInRange(c.name, c.min, c.max), c.accepted);
    }
}

TEST(IsPreReleaseVersion, MarkersAnywhereCaseSensitive) {
    const std::pair<const char*, bool> cases[] = {
        {"1.8.0_20-ea", true}, {"1.7.0-beta", true},  {"9-rc", true},
        {"1.8.0_45", false},   {"12.0.1+12", false},  {"1.8.0_45-b14", false},
        {"1.6.0-EA", false},   {"11-search", true},   {"rc1", true},
    };
    for (const auto& [version, preRelease] : cases) {
        SCOPED_TRACE(version);
        EXPECT_EQ(isPreReleaseVersion(version), preRelease);
    }
}

std::string repeat(char c, size_t n) { return std::string(n, c); }

TEST(ParseVersionOutput, Table) {
    struct Case {
        std::string output;
        std::optional<std::string> version;
    };
    const std::string notice = "Picked up JAVA_TOOL_OPTIONS: -Dfile.encoding=UTF-8\n";
    const Case cases[] = {
        {"java version \"1.8.0_45\"\nJava(TM) SE Runtime Environment\n", "1.8.0_45"},
        {"openjdk version \"1.8.0_45\"\n", "1.8.0_45"},
        {"openjdk version \"11.0.2\" 2019-01-15\nOpenJDK Runtime Environment\n", "11.0.2"},
        {"openjdk version \"17.0.1\" 2021-10-19 LTS\r\n", "17.0.1"},
        {"java version \"1.8.0_20-ea\"\r\n", "1.8.0_20-ea"},
        {"java version \"9\"", "9"},  // no line end at all
        {notice + "java version \"1.8.0_45\"\n", "1.8.0_45"},
        {"\n\njava version \"1.7.0_45\"\n", "1.7.0_45"},
        // A line without its closing quote fails, also when a good line follows.
        {"java version \"1.8.0_45\n", std::nullopt},
        {"java version \"1.8.0_45\njava version \"1.8.0_45\"\n", std::nullopt},
        {"java version \"\"\n", std::nullopt},
        {"Java version \"1.8.0_45\"\n", std::nullopt},
        {" java version \"1.8.0_45\"\n", std::nullopt},
        {"java version 1.8.0_45\n", std::nullopt},
        {"Error: could not find java.dll\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        EXPECT_EQ(parseVersionOutput(c.output), c.version);
    }
}

TEST(ParseVersionOutput, LooksAtTenLines) {
    std::string nine, ten;
    for (int i = 0; i < 9; ++i)
        nine += "notice " + std::to_string(i) + "\n";
    ten = nine + "notice 9\n";
    EXPECT_EQ(parseVersionOutput(nine + "java version \"1.8.0_45\"\n"), "1.8.0_45");
    EXPECT_EQ(parseVersionOutput(ten + "java version \"1.8.0_45\"\n"), std::nullopt);
}

TEST(ParseVersionOutput, LooksAtNinetyNineCharactersOfALine) {
    // "java version \"" is 14 characters: a closing quote at index 98 is still seen.
    EXPECT_EQ(parseVersionOutput("java version \"" + repeat('1', 84) + "\"\n"), repeat('1', 84));
    EXPECT_EQ(parseVersionOutput("java version \"" + repeat('1', 85) + "\"\n"), std::nullopt);
    // A long notice is one line, however long.
    EXPECT_EQ(parseVersionOutput(repeat('x', 1000) + "\njava version \"9\"\n"), "9");
}

TEST(IsUsableCachedVersion, Table) {
    const std::pair<const char*, bool> cases[] = {
        {"1.8.0_45", true},  {"11.0.2\" 2019-01-15", false}, {"11.0.2\"", false},
        {"1.8 0", false},    {"1.7.", false},                {"1.6.", false},
        {"1.5.", false},     {"1.4.", true},                 {"1.7.0", true},
        {"", true},          {"1.0.0", true},
    };
    for (const auto& [version, usable] : cases) {
        SCOPED_TRACE(version);
        EXPECT_EQ(isUsableCachedVersion(version), usable);
    }
}

} // namespace
