#include "portable/windows_command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

using Words = std::vector<std::string>;

template <class Char>
Words split(std::string_view ascii) {
    std::basic_string<Char> text(ascii.begin(), ascii.end());
    Words narrow;
    for (const auto& word : splitWindowsCommandLine<Char>(text))
        narrow.emplace_back(word.begin(), word.end());
    return narrow;
}

struct SplitCase {
    const char* name;
    const char* text;
    Words words;
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << "[" << c.text << "]"; }

class SplitWindowsCommandLine : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitWindowsCommandLine, Words) {
    const SplitCase& c = GetParam();
    EXPECT_EQ(split<char>(c.text), c.words);
    EXPECT_EQ(split<char16_t>(c.text), c.words);
    EXPECT_EQ(split<wchar_t>(c.text), c.words);
}

// The documented examples of the C runtime's argument parsing, and the program path rule.
INSTANTIATE_TEST_SUITE_P(
    Rules, SplitWindowsCommandLine,
    ::testing::Values(
        SplitCase{"empty", "", {""}},
        SplitCase{"program_only", "app.exe", {"app.exe"}},
        SplitCase{"quoted_program_keeps_backslash_quote",
                  "\"C:\\a b\\\"x y", {"C:\\a b\\", "x", "y"}},
        SplitCase{"blanks_and_tabs", "p a\t\tb  c ", {"p", "a", "b", "c"}},
        SplitCase{"quotes_group", "p \"abc\" d e", {"p", "abc", "d", "e"}},
        SplitCase{"lone_backslashes_literal", "p a\\\\\\b d\"e f\"g h",
                  {"p", "a\\\\\\b", "de fg", "h"}},
        SplitCase{"odd_backslashes_escape_quote", "p a\\\\\\\"b c d", {"p", "a\\\"b", "c", "d"}},
        SplitCase{"even_backslashes_then_group", "p a\\\\\\\\\"b c\" d e",
                  {"p", "a\\\\b c", "d", "e"}},
        SplitCase{"doubled_quote_in_group", "p a\"b\"\" c d", {"p", "ab\" c d"}},
        SplitCase{"empty_word", "p \"\" x", {"p", "", "x"}},
        SplitCase{"unclosed_group_runs_to_end", "p \"a b", {"p", "a b"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct QuoteCase {
    const char* name;
    const char* word;
    const char* quoted;
};

class QuoteWindowsArgument : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(QuoteWindowsArgument, QuotedFormAndRoundTrip) {
    const QuoteCase& c = GetParam();
    EXPECT_EQ(quoteWindowsArgument<char>(c.word), c.quoted);
    std::string line = std::string("p ") + c.quoted;
    EXPECT_EQ(split<char>(line), (Words{"p", c.word}));
}

INSTANTIATE_TEST_SUITE_P(
    Forms, QuoteWindowsArgument,
    ::testing::Values(
        QuoteCase{"plain", "abc", "abc"},
        QuoteCase{"backslashes_without_quote_stay", "C:\\dir\\", "C:\\dir\\"},
        QuoteCase{"empty", "", "\"\""},
        QuoteCase{"blank", "a b", "\"a b\""},
        QuoteCase{"tab", "a\tb", "\"a\tb\""},
        QuoteCase{"quote", "a\"b", "\"a\\\"b\""},
        QuoteCase{"backslash_before_quote", "a\\\"b", "\"a\\\\\\\"b\""},
        QuoteCase{"trailing_backslash_in_group", "a b\\", "\"a b\\\\\""},
        QuoteCase{"option_injection", "a\" -J-Dx=1 \"b", "\"a\\\" -J-Dx=1 \\\"b\""}),
    [](const auto& info) { return std::string(info.param.name); });

// Every word of up to four characters from the characters that matter splits back to itself,
// alone and among neighbours.
TEST(JoinWindowsCommandLine, IsTheInverseOfTheSplitter) {
    const std::string alphabet = "a \t\"\\'";
    std::vector<std::string> words{""};
    size_t begin = 0;
    for (int length = 1; length <= 4; ++length) {
        size_t end = words.size();
        for (size_t i = begin; i < end; ++i) {
            for (char c : alphabet)
                words.push_back(words[i] + c);
        }
        begin = end;
    }
    for (const std::string& word : words) {
        Words line{"C:\\Program Files\\svc.exe", word, "middle", word, "__last"};
        std::string joined = joinWindowsCommandLine<char>(line);
        ASSERT_EQ(split<char>(joined), line) << "[" << joined << "]";
        std::u16string wide(joined.begin(), joined.end());
        ASSERT_EQ(splitWindowsCommandLine<char16_t>(wide).size(), line.size());
    }
}

} // namespace
