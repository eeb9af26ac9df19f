#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "portable/option_words.h"

// What the launcher tells the Java side before main: its system properties and which
// command-line words reach main.

// Each launcher property is formatted into a buffer of this many bytes; java.library.path
// gets a larger one, since PATH is often long.
constexpr size_t kPropertyBuffer = 6000;
constexpr size_t kLibraryPathBuffer = 12000;
constexpr std::string_view kLibraryPathOption = "-Djava.library.path=";
// The longest PATH that fits kLibraryPathBuffer behind the option name; a longer one is
// passed as an empty value rather than cut in the middle of a directory.
constexpr size_t kMaxLibraryPath = kLibraryPathBuffer - 1 - kLibraryPathOption.size();

struct LauncherFacts {
    std::string semaphoreName;                  // empty: none set (language restart)
    bool manualJre = false;                     // installer's "-manual" switch
    bool quillonFlavor = false;
    bool service = false;
    std::string executablePath;
    std::optional<std::string> processCommFile; // single-instance mode only
    std::string tempDirectory;
    int64_t unextractedPosition = 0;
    std::string path;                           // PATH as the JVM should see it
    std::optional<uint32_t> consoleCodepage;    // none when MANPATH is set
};

// The launcher system properties, in the order the Java side may rely on.
std::vector<std::string> launcherSystemProperties(const LauncherFacts& facts);

// Where the payload's unextracted data starts: behind the last extracted file, or where the
// included-files area begins when there were none to extract; -1 in a language-restart run,
// which did not extract anything of its own.
int64_t unextractedPosition(bool languageRestart, uint32_t includedFilesStart,
                            uint32_t includedFilesEnd);

// Slash-separated launcher class by flavor: only "q" selects the quillon class.
std::string launcherClassName(char flavor);

// The command-line words from the second on that main receives: "-J" words stay with the
// JVM when they are JVM options (key 125), and the locale word always does.
template <class Char>
std::vector<std::basic_string<Char>>
forwardedArguments(const std::vector<std::basic_string<Char>>& words, bool jWordsAreJvmOptions) {
    std::vector<std::basic_string<Char>> forwarded;
    for (size_t i = 1; i < words.size(); ++i) {
        const std::basic_string<Char>& word = words[i];
        if ((jWordsAreJvmOptions && isJvmOptionWord(word)) || isLocaleFormatWord(word))
            continue;
        forwarded.push_back(word);
    }
    return forwarded;
}
