#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Locale code ("de_AT", "en", "no_NO_NY") for a Windows language identifier: an exact
// match first, then the primary language, then "en".
const char* localeCodeForLanguageId(uint16_t languageId);
size_t languageTableSize();

struct LocaleParts {
    std::string language;
    std::optional<std::string> country; // only for five-character codes
};

LocaleParts splitLocaleCode(std::string_view code);

// The last "-Dsun.locale.formatasdefault=" argument decides; without one the flag is true.
template <class String>
bool formatAsDefault(const std::vector<String>& arguments) {
    static constexpr char kPrefix[] = "-Dsun.locale.formatasdefault=";
    static constexpr char kTrue[] = "-Dsun.locale.formatasdefault=true";
    auto equalsAscii = [](const String& word, const char* ascii, bool prefixOnly) {
        size_t n = std::char_traits<char>::length(ascii);
        if (word.size() < n || (!prefixOnly && word.size() != n))
            return false;
        for (size_t i = 0; i < n; ++i)
            if (word[i] != static_cast<typename String::value_type>(ascii[i]))
                return false;
        return true;
    };
    bool flag = true;
    for (const String& word : arguments) {
        if (equalsAscii(word, kTrue, false))
            flag = true;
        else if (equalsAscii(word, kPrefix, true))
            flag = false;
    }
    return flag;
}
