#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Lines of an options file are read into a buffer of this size, terminator included: a
// longer line goes on as the next line.
constexpr size_t kOptionsLineBuffer = 6000;

// The options of an options file's bytes, one per line and not yet expanded. The file is
// read as the C runtime's text mode gives it (CR LF is one line end, Ctrl-Z ends the file);
// line ends and surrounding blanks (U+0020 only) are removed, and empty lines and lines
// starting with "#" are skipped. A line is never split into words.
std::vector<std::string> readOptionLines(std::string_view bytes);

// Option texts that are instructions to the launcher rather than JVM options. The blank
// belongs to the prefix, so "-classpath" alone is an ordinary option.
enum class OptionDirective {
    kNone,
    kIncludeOptions,    // "-include-options <file>"
    kClassPath,         // "-classpath <path>": replaces the configured class path
    kClassPathPrepend,  // "-classpath/p <path>"
    kClassPathAppend,   // "-classpath/a <path>"
};

template <class Char>
struct ClassifiedOption {
    OptionDirective directive;
    std::basic_string_view<Char> rest;  // behind the prefix; the whole text for kNone
};

template <class Char>
ClassifiedOption<Char> classifyOption(std::basic_string_view<Char> text) {
    static constexpr std::pair<const char*, OptionDirective> kPrefixes[] = {
        {"-include-options ", OptionDirective::kIncludeOptions},
        {"-classpath ", OptionDirective::kClassPath},
        {"-classpath/p ", OptionDirective::kClassPathPrepend},
        {"-classpath/a ", OptionDirective::kClassPathAppend},
    };
    for (const auto& [prefix, directive] : kPrefixes) {
        size_t n = std::char_traits<char>::length(prefix);
        if (text.size() < n)
            continue;
        bool match = true;
        for (size_t i = 0; i < n && match; ++i)
            match = text[i] == static_cast<Char>(prefix[i]);
        if (match)
            return {directive, text.substr(n)};
    }
    return {OptionDirective::kNone, text};
}
