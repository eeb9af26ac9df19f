#pragma once

#include <string>
#include <string_view>

// Replaces the first "{0}" of a message by the argument; later ones stay. Without an
// argument the text stays as it is.
template <class Char>
std::basic_string<Char> replaceFirstPlaceholder(std::basic_string_view<Char> text,
                                                const Char* argument) {
    static constexpr Char kPlaceholder[] = {'{', '0', '}', 0};
    std::basic_string<Char> result(text);
    size_t at = text.find(kPlaceholder);
    if (argument != nullptr && at != std::basic_string_view<Char>::npos)
        result.replace(at, 3, argument);
    return result;
}

// The launchers keep texts in fixed buffers of `size` characters including the
// terminator: a longer value is cut to size - 1 characters.
template <class String>
String cutToBuffer(String text, size_t size) {
    if (size == 0)
        return String();
    if (text.size() > size - 1)
        text.resize(size - 1);
    return text;
}

constexpr size_t kMaxText = 6000;
