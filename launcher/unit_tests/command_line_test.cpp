#include "portable/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

using Words = std::vector<std::string>;

// Splits ASCII text as Char text and narrows the words again for comparison.
template <class Char>
Words split(std::string_view ascii) {
    std::basic_string<Char> text(ascii.begin(), ascii.end());
    std::vector<std::basic_string<Char>> words;
    splitCommandLine<Char>(text, words);
    Words narrow;
    for (const auto& word : words)
        narrow.emplace_back(word.begin(), word.end());
    return narrow;
}

struct SplitCase {
    const char* name;
    const char* text;
    Words words;
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << "[" << c.text << "]"; }

class SplitCommandLine : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLine, Words) {
    const SplitCase& c = GetParam();
    EXPECT_EQ(split<char>(c.text), c.words);
    EXPECT_EQ(split<char16_t>(c.text), c.words);
    EXPECT_EQ(split<wchar_t>(c.text), c.words);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SplitCommandLine,
    ::testing::Values(
        SplitCase{"empty", "", {}},
        SplitCase{"only_spaces", "    ", {}},
        SplitCase{"plain_words", "app.exe -a b", {"app.exe", "-a", "b"}},
        SplitCase{"runs_of_spaces", "a   b    c", {"a", "b", "c"}},
        SplitCase{"leading_and_trailing_spaces", "   a b   ", {"a", "b"}},
        SplitCase{"tab_is_not_a_separator", "a\tb c", {"a\tb", "c"}},
        SplitCase{"quoted_program_path",
                  "\"C:\\Program Files\\App\\app.exe\" -x",
                  {"C:\\Program Files\\App\\app.exe", "-x"}},
        SplitCase{"quoted_part_joins_text_before", "-Dkey=\"a b\" c", {"-Dkey=a b", "c"}},
        SplitCase{"text_after_closing_quote_is_a_new_word", "\"a b\"c d", {"a b", "c", "d"}},
        SplitCase{"joined_and_split_at_once", "ab\"c d\"ef", {"abc d", "ef"}},
        SplitCase{"space_before_a_later_quote", "ab cd\"e f\"", {"ab", "cde f"}},
        SplitCase{"single_quotes_group", "'a b' c", {"a b", "c"}},
        SplitCase{"single_quote_inside_double", "\"it's here\" x", {"it's here", "x"}},
        SplitCase{"double_quote_inside_single", "'say \"hi\"' x", {"say \"hi\"", "x"}},
        SplitCase{"earlier_single_quote_wins", "a 'b\"c' d", {"a", "b\"c", "d"}},
        SplitCase{"backslash_is_literal", "C:\\dir\\ x", {"C:\\dir\\", "x"}},
        SplitCase{"backslash_does_not_escape_a_quote", "\\\"a b\" c", {"\\a b", "c"}},
        SplitCase{"unterminated_double_quote", "x \"rest of line", {"x", "rest of line"}},
        SplitCase{"unterminated_single_quote", "x 'rest  of line ", {"x", "rest  of line "}},
        SplitCase{"unterminated_double_quote_joined", "a\"b c", {"ab c"}},
        SplitCase{"apostrophe_inside_a_word", "C:\\docs\\Bob's.txt x",
                  {"C:\\docs\\Bob's.txt", "x"}},
        SplitCase{"apostrophe_does_not_group_across_blanks", "don't stop", {"don't", "stop"}},
        SplitCase{"two_apostrophes_inside_words", "it's Bob's", {"it's", "Bob's"}},
        SplitCase{"apostrophe_ends_a_word", "cats' toys", {"cats'", "toys"}},
        SplitCase{"apostrophe_after_closing_quote_opens", "\"a\"'b c'", {"a", "b c"}},
        SplitCase{"apostrophe_before_a_double_quote", "O'Neil\"s x\" y", {"O'Neils x", "y"}},
        SplitCase{"single_quote_opening_a_later_word", "a 'b c' d", {"a", "b c", "d"}},
        SplitCase{"empty_quoted_argument", "x \"\" y", {"x", "", "y"}},
        SplitCase{"empty_single_quoted_argument", "''", {""}},
        SplitCase{"only_a_quote", "\"", {""}},
        SplitCase{"consecutive_quoted_words", "\"a\" \"b\"", {"a", "b"}},
        SplitCase{"spaces_after_closing_quote", "\"a\"   b", {"a", "b"}},
        SplitCase{"trailing_space_after_quote", "\"a\" ", {"a"}},
        SplitCase{"quotes_back_to_back", "\"a\"\"b\"", {"a", "b"}},
        SplitCase{"mixed_quotes_back_to_back", "'a'\"b c\"", {"a", "b c"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SplitCommandLineAppend, KeepsWordsAlreadyInTheList) {
    std::vector<std::u16string> words = {u"first"};
    splitCommandLine<char16_t>(u"second third", words);
    EXPECT_EQ(words, (std::vector<std::u16string>{u"first", u"second", u"third"}));
}

// Wide characters whose low byte equals a space or a quote are ordinary characters.
TEST(SplitCommandLineWide, OnlyTheRealSeparatorsCount) {
    std::vector<std::u16string> words;
    splitCommandLine<char16_t>(u"\u4E20\u0122\u0127x \"\u00E4 \u20AC\"", words);
    EXPECT_EQ(words, (std::vector<std::u16string>{u"\u4E20\u0122\u0127x", u"\u00E4 \u20AC"}));
}

} // namespace
