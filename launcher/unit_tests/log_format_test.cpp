#include "portable/log_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

void appendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Narrow text as ISO-8859-1 stands in for the ANSI code page here.
std::string latin1ToUtf8(const std::string& narrow) {
    std::string out;
    for (unsigned char c : narrow)
        appendUtf8(out, c);
    return out;
}

std::string wideToUtf8(const std::wstring& wide) {
    std::string out;
    for (wchar_t c : wide)
        appendUtf8(out, static_cast<uint32_t>(c));
    return out;
}

const LogTextConverters kConverters{latin1ToUtf8, wideToUtf8};

std::string format(const char* text, ...) {
    va_list arguments;
    va_start(arguments, text);
    std::string line = formatLogLine(kConverters, text, arguments);
    va_end(arguments);
    return line;
}

TEST(LogFormat, WideTextOutsideTheCodePageArrivesAsUtf8) {
    EXPECT_EQ(format("change working directory to %S", L"C:\\Users\\Łukasz"),
              "change working directory to C:\\Users\\Łukasz");
    EXPECT_EQ(format("%S|%ls|%ws", L"Временные", L"临时文件", L"x"), "Временные|临时文件|x");
    EXPECT_EQ(format("%C%lc", static_cast<int>(L'Ł'), static_cast<int>(L'临')), "Ł临");
}

TEST(LogFormat, NarrowTextGoesThroughItsCodePage) {
    EXPECT_EQ(format("%s and %hs and %hS", "Caf\xe9", "a", "b"), "Café and a and b");
    EXPECT_EQ(format("%c%hC", 'x', '\xe9'), "xé");
}

TEST(LogFormat, NumbersAsTheRuntimeFormatsThem) {
    EXPECT_EQ(format("%d %i %u %x %X %o", -5, 7, 4000000000u, 255u, 255u, 8u),
              "-5 7 4000000000 ff FF 10");
    EXPECT_EQ(format("%I64d %lld %I64u", -(INT64_C(1) << 40), INT64_C(1) << 40,
                     UINT64_MAX),
              "-1099511627776 1099511627776 18446744073709551615");
    EXPECT_EQ(format("[%5d][%-5d][%05d][%+d]", 42, 42, 42, 42), "[   42][42   ][00042][+42]");
    EXPECT_EQ(format("[%*d][%-*d]", 4, 7, 3, 7), "[   7][7  ]");
    EXPECT_EQ(format("%.1f %.0f%% %e", 1.25, 99.5, 2.0), "1.2 100% 2.000000e+00");
    EXPECT_EQ(format("%hd %hhu", 65537, 257), "1 1");
    EXPECT_EQ(format("%zu %Iu", static_cast<size_t>(12), static_cast<size_t>(34)), "12 34");
}

TEST(LogFormat, WidthAndPrecisionCountCharacters) {
    EXPECT_EQ(format("[%8S]", L"Łódź"), "[    Łódź]");
    EXPECT_EQ(format("[%-6S]", L"Łódź"), "[Łódź  ]");
    EXPECT_EQ(format("[%.2S][%.3s][%.*s]", L"Łódź", "abcdef", 2, "xyz"), "[Łó][abc][xy]");
}

TEST(LogFormat, NullStringsAndTheRest) {
    EXPECT_EQ(format("%s %S", static_cast<const char*>(nullptr),
                     static_cast<const wchar_t*>(nullptr)),
              "(null) (null)");
    EXPECT_EQ(format("100%% done"), "100% done");
    EXPECT_EQ(format(""), "");
    EXPECT_EQ(format("plain text"), "plain text");
}

TEST(LogFormat, AnUnknownConversionEndsTheFormatting) {
    EXPECT_EQ(format("%d %y then %s", 1, "never read"), "1 %y then %s");
    EXPECT_EQ(format("ends with %"), "ends with %");
}

} // namespace
