#include "portable/options_file.h"
#include "portable/option_words.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

struct LineCase {
    const char* name;
    std::string bytes;
    Lines options;
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

class ReadOptionLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(ReadOptionLines, Options) {
    EXPECT_EQ(readOptionLines(GetParam().bytes), GetParam().options);
}

INSTANTIATE_TEST_SUITE_P(
    LineRules, ReadOptionLines,
    ::testing::Values(
        LineCase{"empty_file", "", {}},
        LineCase{"lf_line_ends", "-a\n-b\n", {"-a", "-b"}},
        LineCase{"crlf_line_ends", "-a\r\n-b\r\n", {"-a", "-b"}},
        LineCase{"no_final_line_end", "-a\n-b", {"-a", "-b"}},
        LineCase{"blanks_around_an_option", "   -Xmx512m   \r\n", {"-Xmx512m"}},
        LineCase{"comment_line", "# heap\n-Xmx1g\n", {"-Xmx1g"}},
        LineCase{"comment_after_blanks", "   # heap\n", {}},
        LineCase{"hash_inside_an_option", "-Dx=#1 # not a comment\n", {"-Dx=#1 # not a comment"}},
        LineCase{"blank_only_line", "-a\n     \n-b\n", {"-a", "-b"}},
        LineCase{"empty_lines", "\n\r\n\n-a\n\n", {"-a"}},
        LineCase{"tabs_stay", "\t-Xss2m\t\n", {"\t-Xss2m\t"}},
        LineCase{"tab_before_a_hash_is_no_comment", "\t# x\n", {"\t# x"}},
        LineCase{"property_with_a_blank", "-Dapp.title=My App\n", {"-Dapp.title=My App"}},
        LineCase{"line_is_not_split_into_words", "-Xms1g -Xmx2g\n", {"-Xms1g -Xmx2g"}},
        LineCase{"quotes_stay", "\"-Da=b c\"\n", {"\"-Da=b c\""}},
        LineCase{"all_line_end_characters_go", "-a\r\r\r\n", {"-a"}},
        LineCase{"lone_cr_inside_stays", "-a\rb\n", {"-a\rb"}},
        LineCase{"cr_before_a_trailing_blank_stays", "-a\r \r\n", {"-a\r"}},
        LineCase{"cr_alone_ends_no_line", "-a\r-b\r", {"-a\r-b"}},
        LineCase{"ctrl_z_ends_the_file", "-a\n\x1a-b\n", {"-a"}},
        LineCase{"nul_ends_the_line", std::string("-a\0ignored\n-b\n", 14), {"-a", "-b"}},
        LineCase{"eight_bit_bytes_stay", "-Duser.name=Jos\xe9\n", {"-Duser.name=Jos\xe9"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Lines go through a buffer of 6000 bytes: 5999 bytes, line feed included, form one line
// and the rest of a longer line is read as the next one.
TEST(ReadOptionLinesLimit, LongLinesContinueAsTheNextLine) {
    const std::string x5998(5998, 'x'), x5999(5999, 'x');
    struct Case {
        const char* name;
        std::string bytes;
        Lines options;
    };
    const Case cases[] = {
        {"5998 and a line feed fit", x5998 + "\nnext\n", {x5998, "next"}},
        {"5999 leave the line feed for an empty line", x5999 + "\nnext\n", {x5999, "next"}},
        {"6000 carry one byte over", x5999 + "y\nnext\n", {x5999, "y", "next"}},
        {"two buffers and a bit", x5999 + x5999 + "zz", {x5999, x5999, "zz"}},
        {"cr lf counts as one byte", x5998 + "\r\nnext", {x5998, "next"}},
        {"blanks count before they are trimmed", "  " + x5998 + "\n",
         {std::string(5997, 'x'), "x"}},
        {"the carried part is trimmed on its own", x5999 + "   y  \n", {x5999, "y"}},
        {"a carried hash is a comment", x5999 + "# rest\n", {x5999}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(readOptionLines(c.bytes), c.options);
    }
}

struct DirectiveCase {
    const char* text;
    OptionDirective directive;
    const char* rest;
};

TEST(ClassifyOption, DirectivesArePrefixesWithTheirBlank) {
    const DirectiveCase cases[] = {
        {"-include-options more.vmoptions", OptionDirective::kIncludeOptions, "more.vmoptions"},
        {"-include-options ", OptionDirective::kIncludeOptions, ""},
        {"-include-options", OptionDirective::kNone, "-include-options"},
        {"-include-optionsx y", OptionDirective::kNone, "-include-optionsx y"},
        {"-classpath a.jar;b.jar", OptionDirective::kClassPath, "a.jar;b.jar"},
        {"-classpath  two blanks", OptionDirective::kClassPath, " two blanks"},
        {"-classpath", OptionDirective::kNone, "-classpath"},
        {"-classpath/p first.jar", OptionDirective::kClassPathPrepend, "first.jar"},
        {"-classpath/a last.jar", OptionDirective::kClassPathAppend, "last.jar"},
        {"-classpath/a", OptionDirective::kNone, "-classpath/a"},
        {"-classpath/ax.jar", OptionDirective::kNone, "-classpath/ax.jar"},
        {"-classpath/x y", OptionDirective::kNone, "-classpath/x y"},
        {"-CLASSPATH a.jar", OptionDirective::kNone, "-CLASSPATH a.jar"},
        {" -classpath a.jar", OptionDirective::kNone, " -classpath a.jar"},
        {"-cp a.jar", OptionDirective::kNone, "-cp a.jar"},
        {"-Xmx1g", OptionDirective::kNone, "-Xmx1g"},
        {"", OptionDirective::kNone, ""},
    };
    for (const DirectiveCase& c : cases) {
        SCOPED_TRACE(c.text);
        ClassifiedOption<char> narrow = classifyOption<char>(c.text);
        EXPECT_EQ(narrow.directive, c.directive);
        EXPECT_EQ(narrow.rest, c.rest);
        std::u16string text(c.text, c.text + std::char_traits<char>::length(c.text));
        std::u16string rest(c.rest, c.rest + std::char_traits<char>::length(c.rest));
        ClassifiedOption<char16_t> wide = classifyOption<char16_t>(text);
        EXPECT_EQ(wide.directive, c.directive);
        EXPECT_EQ(wide.rest, rest);
    }
}

// A UTF-16 code unit whose low byte matches an ASCII character is still a different one.
TEST(ClassifyOption, WideCharactersDoNotMatchByTheirLowByte) {
    std::u16string text = u"-classpath\u0120a.jar";  // U+0120 ends in 0x20, a blank
    EXPECT_EQ(classifyOption<char16_t>(text).directive, OptionDirective::kNone);
}

TEST(JoinIncludeOptionWords, IncludeTakesTheNextWord) {
    using Words = std::vector<std::string>;
    const std::pair<Words, Words> cases[] = {
        {{}, {}},
        {{"-include-options", "a.vmoptions", "-Xmx1g"}, {"-include-options a.vmoptions", "-Xmx1g"}},
        {{"-Xmx1g", "-include-options"}, {"-Xmx1g", "-include-options"}},
        {{"-include-options", "-include-options", "x"}, {"-include-options -include-options", "x"}},
        {{"-include-options a.vmoptions"}, {"-include-options a.vmoptions"}},
        {{"-classpath/a", "x.jar"}, {"-classpath/a", "x.jar"}},
        {{"-Include-options", "x"}, {"-Include-options", "x"}},
    };
    for (const auto& [words, options] : cases) {
        EXPECT_EQ(joinIncludeOptionWords(words), options);
    }
}

TEST(OptionWords, JvmOptionAndLocaleWords) {
    struct Case {
        const char* word;
        bool jvmOption, localeFormat, localeTrue;
    };
    const Case cases[] = {
        {"-J-Xmx1g", true, false, false},
        {"-J", true, false, false},
        {"-j-Xmx1g", false, false, false},
        {"x-J-Xmx1g", false, false, false},
        {"-Dsun.locale.formatasdefault=true", false, true, true},
        {"-Dsun.locale.formatasdefault=false", false, true, false},
        {"-Dsun.locale.formatasdefault=", false, true, false},
        {"-Dsun.locale.formatasdefault=TRUE", false, true, false},
        {"-Dsun.locale.formatasdefault=true ", false, true, false},
        {"-Dsun.locale.formatasdefault", false, false, false},
        {"-Dsun.locale.formatAsDefault=true", false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        std::wstring wide(c.word, c.word + std::char_traits<char>::length(c.word));
        EXPECT_EQ(isJvmOptionWord(wide), c.jvmOption);
        EXPECT_EQ(isLocaleFormatWord(wide), c.localeFormat);
        EXPECT_EQ(isLocaleFormatTrue(wide), c.localeTrue);
    }
}

TEST(OptionWords, TheLastLocaleWordCounts) {
    using Words = std::vector<std::string>;
    EXPECT_EQ(lastLocaleFormatWord(Words{"app.exe", "-J-Xmx1g"}), std::nullopt);
    EXPECT_EQ(lastLocaleFormatWord(Words{"-Dsun.locale.formatasdefault=no", "x",
                                         "-Dsun.locale.formatasdefault=true", "y"}),
              "-Dsun.locale.formatasdefault=true");
    EXPECT_EQ(lastLocaleFormatWord(Words{"-Dsun.locale.formatasdefault=true",
                                         "-Dsun.locale.formatasdefault=no"}),
              "-Dsun.locale.formatasdefault=no");
}

} // namespace
