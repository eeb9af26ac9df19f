#include "portable/message_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

struct PlaceholderCase {
    const char* name;
    const char* text;
    std::optional<std::string> argument;
    const char* expected;
};

template <class Char>
std::basic_string<Char> widen(std::string_view ascii) {
    return std::basic_string<Char>(ascii.begin(), ascii.end());
}

template <class Char>
void expectReplacement(const PlaceholderCase& c) {
    std::basic_string<Char> text = widen<Char>(c.text);
    std::optional<std::basic_string<Char>> argument;
    if (c.argument)
        argument = widen<Char>(*c.argument);
    std::basic_string<Char> result = replaceFirstPlaceholder<Char>(
        text, argument ? argument->c_str() : nullptr);
    EXPECT_EQ(result, widen<Char>(c.expected));
}

TEST(ReplaceFirstPlaceholder, OnlyTheFirstOccurrence) {
    const PlaceholderCase cases[] = {
        {"replaced", "Cannot find {0}.", "java.exe", "Cannot find java.exe."},
        {"two placeholders", "{0} and {0}", "x", "x and {0}"},
        {"at the end", "Error code: {0}", "7", "Error code: 7"},
        {"no placeholder", "Nothing to fill", "x", "Nothing to fill"},
        {"other index", "Value {1}", "x", "Value {1}"},
        {"incomplete", "Value {0", "x", "Value {0"},
        {"no argument", "Cannot find {0}.", std::nullopt, "Cannot find {0}."},
        {"empty argument", "a{0}b", "", "ab"},
        {"argument not scanned again", "{0}-{0}", "<{0}>", "<{0}>-{0}"},
        {"empty text", "", "x", ""},
    };
    for (const PlaceholderCase& c : cases) {
        SCOPED_TRACE(c.name);
        expectReplacement<char>(c);
        expectReplacement<char16_t>(c);
        expectReplacement<wchar_t>(c);
    }
}

TEST(CutToBuffer, KeepsAtMostSizeMinusOneCharacters) {
    ASSERT_EQ(kMaxText, 6000u);
    const std::pair<size_t, size_t> lengths[] = {{0, 0}, {5998, 5998}, {5999, 5999},
                                                 {6000, 5999}, {6001, 5999}, {20000, 5999}};
    for (const auto& [length, kept] : lengths) {
        SCOPED_TRACE(length);
        std::string text(length, 'x');
        if (length > 0)
            text[0] = 'a';
        std::string cut = cutToBuffer(text, kMaxText);
        EXPECT_EQ(cut.size(), kept);
        EXPECT_EQ(cut, text.substr(0, kept));
        EXPECT_EQ(cutToBuffer(std::u16string(length, u'\u20AC'), kMaxText).size(), kept);
    }
}

TEST(CutToBuffer, TinyBuffers) {
    EXPECT_EQ(cutToBuffer(std::string("abc"), 0), "");
    EXPECT_EQ(cutToBuffer(std::string("abc"), 1), "");
    EXPECT_EQ(cutToBuffer(std::string("abc"), 3), "ab");
    EXPECT_EQ(cutToBuffer(std::string("abc"), 4), "abc");
}

} // namespace
