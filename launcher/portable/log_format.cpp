#include "portable/log_format.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

enum class Length { Default, Char, Short, Long, LongLong, Pointer, LongDouble };

struct Conversion {
    std::string flags;
    int width = -1;
    int precision = -1;
    Length length = Length::Default;
    char type = '\0';
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A run of digits or "*"; -1 when there is neither.
int readCount(const char*& p, va_list& arguments) {
    if (*p == '*') {
        ++p;
        return va_arg(arguments, int);
    }
    if (!isDigit(*p))
        return -1;
    int value = 0;
    for (; isDigit(*p); ++p)
        value = value < 100000 ? value * 10 + (*p - '0') : value;
    return value;
}

Length readLength(const char*& p) {
    if (strncmp(p, "I64", 3) == 0) {
        p += 3;
        return Length::LongLong;
    }
    if (strncmp(p, "I32", 3) == 0) {
        p += 3;
        return Length::Default;
    }
    if (strncmp(p, "hh", 2) == 0 || strncmp(p, "ll", 2) == 0) {
        Length length = *p == 'h' ? Length::Char : Length::LongLong;
        p += 2;
        return length;
    }
    switch (*p) {
    case 'h':
        ++p;
        return Length::Short;
    case 'l':
    case 'w':
        ++p;
        return Length::Long;
    case 'q':
    case 'j':
        ++p;
        return Length::LongLong;
    case 'I':
    case 'z':
    case 't':
        ++p;
        return Length::Pointer;
    case 'L':
        ++p;
        return Length::LongDouble;
    default:
        return Length::Default;
    }
}

size_t utf8Characters(const std::string& text) {
    size_t count = 0;
    for (unsigned char c : text)
        count += (c & 0xC0) != 0x80;
    return count;
}

void appendPadded(std::string& out, const std::string& text, const Conversion& conversion) {
    size_t length = utf8Characters(text);
    size_t width = conversion.width > 0 ? static_cast<size_t>(conversion.width) : 0;
    std::string padding(width > length ? width - length : 0, ' ');
    bool left = conversion.flags.find('-') != std::string::npos;
    out += left ? text + padding : padding + text;
}

// The conversion alone, with the width and precision resolved and the given length modifier.
std::string singleFormat(const Conversion& conversion, const char* length) {
    std::string format = "%" + conversion.flags;
    if (conversion.width >= 0)
        format += std::to_string(conversion.width);
    if (conversion.precision >= 0)
        format += "." + std::to_string(conversion.precision);
    return format + length + conversion.type;
}

template <class T>
void appendFormatted(std::string& out, const std::string& format, T value) {
    int length = snprintf(nullptr, 0, format.c_str(), value);
    if (length <= 0)
        return;
    std::string text(static_cast<size_t>(length) + 1, '\0');
    snprintf(&text[0], text.size(), format.c_str(), value);
    out.append(text.data(), static_cast<size_t>(length));
}

long long signedArgument(Length length, va_list& arguments) {
    switch (length) {
    case Length::Char:
        return static_cast<signed char>(va_arg(arguments, int));
    case Length::Short:
        return static_cast<short>(va_arg(arguments, int));
    case Length::Long:
        return va_arg(arguments, long);
    case Length::LongLong:
        return va_arg(arguments, long long);
    case Length::Pointer:
        return va_arg(arguments, intptr_t);
    default:
        return va_arg(arguments, int);
    }
}

unsigned long long unsignedArgument(Length length, va_list& arguments) {
    switch (length) {
    case Length::Char:
        return static_cast<unsigned char>(va_arg(arguments, unsigned));
    case Length::Short:
        return static_cast<unsigned short>(va_arg(arguments, unsigned));
    case Length::Long:
        return va_arg(arguments, unsigned long);
    case Length::LongLong:
        return va_arg(arguments, unsigned long long);
    case Length::Pointer:
        return va_arg(arguments, uintptr_t);
    default:
        return va_arg(arguments, unsigned);
    }
}

std::string stringArgument(const LogTextConverters& converters, bool wide, int precision,
                           va_list& arguments) {
    if (wide) {
        const wchar_t* text = va_arg(arguments, const wchar_t*);
        if (!text)
            return "(null)";
        size_t length = precision >= 0 ? wcsnlen(text, static_cast<size_t>(precision)) : wcslen(text);
        return converters.wideToUtf8(std::wstring(text, length));
    }
    const char* text = va_arg(arguments, const char*);
    if (!text)
        return "(null)";
    size_t length = precision >= 0 ? strnlen(text, static_cast<size_t>(precision)) : strlen(text);
    return converters.narrowToUtf8(std::string(text, length));
}

std::string charArgument(const LogTextConverters& converters, bool wide, va_list& arguments) {
    int value = va_arg(arguments, int);
    if (wide)
        return converters.wideToUtf8(std::wstring(1, static_cast<wchar_t>(value)));
    return converters.narrowToUtf8(std::string(1, static_cast<char>(value)));
}

} // namespace

std::string formatLogLine(const LogTextConverters& converters, const char* format,
                          va_list arguments) {
    va_list rest;
    va_copy(rest, arguments);
    std::string out;
    const char* p = format;
    while (*p) {
        if (*p != '%') {
            const char* next = strchr(p, '%');
            size_t run = next ? static_cast<size_t>(next - p) : strlen(p);
            out.append(p, run);
            p += run;
            continue;
        }
        const char* start = p++;
        Conversion conversion;
        while (*p && strchr("-+ #0", *p))
            conversion.flags += *p++;
        conversion.width = readCount(p, rest);
        if (conversion.width < -1) {
            conversion.flags += '-';
            conversion.width = -conversion.width;
        }
        if (*p == '.') {
            ++p;
            conversion.precision = readCount(p, rest);
            if (conversion.precision < 0)
                conversion.precision = *(p - 1) == '*' ? -1 : 0;
        }
        conversion.length = readLength(p);
        conversion.type = *p ? *p++ : '\0';
        Length length = conversion.length;
        switch (conversion.type) {
        case '%':
            out += '%';
            break;
        case 'd':
        case 'i':
            appendFormatted(out, singleFormat(conversion, "ll"), signedArgument(length, rest));
            break;
        case 'u':
        case 'o':
        case 'x':
        case 'X':
            appendFormatted(out, singleFormat(conversion, "ll"), unsignedArgument(length, rest));
            break;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (length == Length::LongDouble)
                appendFormatted(out, singleFormat(conversion, "L"), va_arg(rest, long double));
            else
                appendFormatted(out, singleFormat(conversion, ""), va_arg(rest, double));
            break;
        case 'p':
            appendFormatted(out, singleFormat(conversion, ""), va_arg(rest, void*));
            break;
        case 's':
        case 'S': {
            bool wide = conversion.type == 's' ? length == Length::Long : length != Length::Short;
            appendPadded(out, stringArgument(converters, wide, conversion.precision, rest),
                         conversion);
            break;
        }
        case 'c':
        case 'C': {
            bool wide = conversion.type == 'c' ? length == Length::Long : length != Length::Short;
            appendPadded(out, charArgument(converters, wide, rest), conversion);
            break;
        }
        case 'n':
            va_arg(rest, void*);
            break;
        default:
            out += start;
            va_end(rest);
            return out;
        }
    }
    va_end(rest);
    return out;
}
