#include "portable/class_path_entry.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

using Entry = std::tuple<char, bool, std::string>;

std::vector<Entry> parse(const std::string& list) {
    std::vector<Entry> entries;
    for (const ClassPathEntry& e : parseClassPathEntries(list))
        entries.emplace_back(e.type, e.required, e.value);
    return entries;
}

TEST(ParseClassPathEntries, TypeRequiredAndValue) {
    const std::pair<const char*, std::vector<Entry>> cases[] = {
        {"", {}},
        {";;;", {}},
        {"A1lib\\app.jar", {{'A', true, "lib\\app.jar"}}},
        {"D0classes;S1lib;E0EXTRA_CP",
         {{'D', false, "classes"}, {'S', true, "lib"}, {'E', false, "EXTRA_CP"}}},
        {"A0a.jar;;A0b.jar;", {{'A', false, "a.jar"}, {'A', false, "b.jar"}}},
        {";;A1x.jar", {{'A', true, "x.jar"}}},
        {"Axopt.jar", {{'A', false, "opt.jar"}}},         // any second character but "1"
        {"A2opt.jar", {{'A', false, "opt.jar"}}},
        {"A", {{'A', false, ""}}},
        {"S1", {{'S', true, ""}}},
        {"a1lower.jar", {{'a', true, "lower.jar"}}},       // the type letter is kept as written
        {"A0${launcher:sys.launcherDirectory}x.jar",
         {{'A', false, "${launcher:sys.launcherDirectory}x.jar"}}},
    };
    for (const auto& [list, entries] : cases) {
        SCOPED_TRACE(list);
        EXPECT_EQ(parse(list), entries);
    }
}

TEST(UnquoteVariableValue, OnlyAPairAroundTheWholeValueGoes) {
    const std::pair<const char*, const char*> cases[] = {
        {"\"C:\\Program Files\\x.jar\"", "C:\\Program Files\\x.jar"},
        {"\"a.jar\";\"b.jar\"", "a.jar\";\"b.jar"},
        {"\"\"", ""},
        {"\"", "\""},
        {"\"a.jar", "\"a.jar"},
        {"a.jar\"", "a.jar\""},
        {"a \"b\" c", "a \"b\" c"},
        {"'a.jar'", "'a.jar'"},
        {"plain.jar", "plain.jar"},
    };
    for (const auto& [value, unquoted] : cases) {
        SCOPED_TRACE(value);
        EXPECT_EQ(unquoteVariableValue(value), unquoted);
    }
}

TEST(BoundedText, HoldsItsLimitAndReportsTheCut) {
    BoundedText text(10);
    text.append("-Dcp=");
    text.append("a;");
    EXPECT_EQ(text.text(), "-Dcp=a;");
    EXPECT_TRUE(text.endsWith(';'));
    EXPECT_FALSE(text.cut());

    text.append("bcd");  // exactly full
    EXPECT_EQ(text.text(), "-Dcp=a;bcd");
    EXPECT_FALSE(text.cut());

    text.append("");
    EXPECT_FALSE(text.cut());
    text.append(";");
    EXPECT_EQ(text.text(), "-Dcp=a;bcd");
    EXPECT_TRUE(text.cut());
    EXPECT_FALSE(text.endsWith(';'));
}

TEST(BoundedText, ALongPieceIsCutAtTheLimit) {
    BoundedText text(kMaxClassPathOption);
    text.append("-Djava.class.path=");
    text.append(std::string(50000, 'x'));
    EXPECT_EQ(text.text().size(), kMaxClassPathOption);
    EXPECT_TRUE(text.cut());
    text.append("more");
    EXPECT_EQ(text.text().size(), kMaxClassPathOption);
}

TEST(BoundedText, EmptyTextEndsWithNothing) {
    BoundedText text(5);
    EXPECT_FALSE(text.endsWith(';'));
    EXPECT_FALSE(text.cut());
}

} // namespace
