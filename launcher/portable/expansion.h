#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Values the variable references of configuration texts resolve to. The Windows layer
// fills them in the form the caller asked for (long paths or ANSI-compatible forms).
template <class Char>
struct ExpansionValues {
    using String = std::basic_string<Char>;
    String launcherDirectory;     // with its trailing backslash
    String launcherTempDirectory; // empty until created
    String jvmHome;               // empty before a runtime was chosen
    String systemTempDirectory;   // with its trailing backslash
    std::vector<std::pair<String, String>> environment; // in the order of the block
};

// Replaces every occurrence of `pattern`, searching on behind each inserted value, so a
// value that contains its own reference cannot loop. The text never grows past
// `bufferSize - 1` characters: a longer result is cut, and the return value says so.
// `onReplace(pattern, value, text)` is called after each substitution.
template <class Char, class OnReplace>
bool replaceAll(std::basic_string<Char>& text, std::basic_string_view<Char> pattern,
                std::basic_string_view<Char> value, size_t bufferSize, OnReplace&& onReplace) {
    bool complete = true;
    if (pattern.empty() || bufferSize == 0)
        return complete;
    size_t limit = bufferSize - 1;
    size_t at = text.find(pattern);
    while (at != std::basic_string<Char>::npos) {
        text.replace(at, pattern.size(), value);
        if (text.size() > limit) {
            text.resize(limit);
            complete = false;
        }
        onReplace(pattern, value, static_cast<const std::basic_string<Char>&>(text));
        size_t next = at + value.size();
        if (next >= text.size())
            break;
        at = text.find(pattern, next);
    }
    return complete;
}

template <class Char>
std::basic_string<Char> fromAscii(const char* ascii) {
    std::basic_string<Char> result;
    for (; *ascii; ++ascii)
        result += static_cast<Char>(*ascii);
    return result;
}

// The launcher's own variables, in the order they are substituted; then every variable of
// the environment block as "${Name}" exactly as stored and as "${NAME}" upper-cased.
// Returns false when the text had to be cut to fit its buffer.
template <class Char, class OnReplace>
bool expandVariableReferences(std::basic_string<Char>& text, const ExpansionValues<Char>& values,
                              size_t bufferSize, OnReplace&& onReplace) {
    using String = std::basic_string<Char>;
    using View = std::basic_string_view<Char>;
    const String separator = fromAscii<Char>(";");
    const std::pair<const char*, const String*> launcherVariables[] = {
        {"%TARVO_EXEDIR%", &values.launcherDirectory},
        {"%QUILLON_EXEDIR%", &values.launcherDirectory},
        {"%TARVO_TEMPDIR%", &values.launcherTempDirectory},
        {"%QUILLON_TEMPDIR%", &values.launcherTempDirectory},
        {"%TARVO_PATHLIST_SEPARATOR%", &separator},
        {"%QUILLON_PATHLIST_SEPARATOR%", &separator},
        {"%TARVO_JVM_HOME%", &values.jvmHome},
        {"%QUILLON_JVM_HOME%", &values.jvmHome},
        {"${TARVO_EXEDIR}", &values.launcherDirectory},
        {"${QUILLON_EXEDIR}", &values.launcherDirectory},
        {"${TARVO_TEMPDIR}", &values.launcherTempDirectory},
        {"${QUILLON_TEMPDIR}", &values.launcherTempDirectory},
        {"${TARVO_PATHLIST_SEPARATOR}", &separator},
        {"${QUILLON_PATHLIST_SEPARATOR}", &separator},
        {"${TARVO_JVM_HOME}", &values.jvmHome},
        {"${QUILLON_JVM_HOME}", &values.jvmHome},
        {"${launcher:sys.launcherDirectory}", &values.launcherDirectory},
        {"${launcher:sys.launcherTempDirectory}", &values.launcherTempDirectory},
        {"${launcher:sys.pathlistSeparator}", &separator},
        {"${launcher:sys.jvmHome}", &values.jvmHome},
        {"${launcher:sys.tempDir}", &values.systemTempDirectory},
    };
    bool complete = true;
    for (const auto& [pattern, value] : launcherVariables) {
        String wanted = fromAscii<Char>(pattern);
        complete &= replaceAll<Char>(text, View(wanted), View(*value), bufferSize, onReplace);
    }
    for (const auto& [name, value] : values.environment) {
        String reference = fromAscii<Char>("${") + name + fromAscii<Char>("}");
        complete &= replaceAll<Char>(text, View(reference), View(value), bufferSize, onReplace);
        String upper = reference;
        for (Char& c : upper)
            if (c >= 'a' && c <= 'z')
                c = static_cast<Char>(c - 'a' + 'A');
        // A name already in upper case was replaced above; a second pass would expand a
        // reference inside the inserted value.
        if (upper != reference)
            complete &= replaceAll<Char>(text, View(upper), View(value), bufferSize, onReplace);
    }
    return complete;
}
