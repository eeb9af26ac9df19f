#pragma once

#include <optional>
#include <string>
#include <vector>

namespace option_words {

template <class String>
bool startsWithAscii(const String& word, const char* prefix) {
    size_t n = std::char_traits<char>::length(prefix);
    if (word.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (word[i] != static_cast<typename String::value_type>(prefix[i]))
            return false;
    return true;
}

template <class String>
bool equalsAscii(const String& word, const char* text) {
    return word.size() == std::char_traits<char>::length(text) && startsWithAscii(word, text);
}

} // namespace option_words

// A command-line word "-J<option>" carries a JVM option when the configuration says so.
template <class String>
bool isJvmOptionWord(const String& word) {
    return option_words::startsWithAscii(word, "-J");
}

// "-Dsun.locale.formatasdefault=<value>" goes to the JVM, never to main.
template <class String>
bool isLocaleFormatWord(const String& word) {
    return option_words::startsWithAscii(word, "-Dsun.locale.formatasdefault=");
}

template <class String>
bool isLocaleFormatTrue(const String& word) {
    return option_words::equalsAscii(word, "-Dsun.locale.formatasdefault=true");
}

// The last locale format word decides, as it does for the locale selection.
template <class String>
std::optional<String> lastLocaleFormatWord(const std::vector<String>& words) {
    std::optional<String> last;
    for (const String& word : words)
        if (isLocaleFormatWord(word))
            last = word;
    return last;
}

// The words of the configured JVM options as option texts: "-include-options" takes the
// next word as its file; as the last word it stays an option of its own.
template <class String>
std::vector<String> joinIncludeOptionWords(const std::vector<String>& words) {
    std::vector<String> options;
    for (size_t i = 0; i < words.size(); ++i) {
        if (option_words::equalsAscii(words[i], "-include-options") && i + 1 < words.size()) {
            String joined = words[i];
            joined += static_cast<typename String::value_type>(' ');
            joined += words[++i];
            options.push_back(std::move(joined));
        } else {
            options.push_back(words[i]);
        }
    }
    return options;
}
