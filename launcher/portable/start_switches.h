#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "portable/option_words.h"

// The words a launcher acts on before the Java side sees its command line: markers that the
// launchers write at the start of a child's command tail, and the console switches a user
// types anywhere on the command line.

struct StartMarkers {
    bool reboot = false;          // the whole tail is "__qln_reboot"
    bool languageRestart = false; // the tail begins with "__qln_lang_restart"
    bool internalQuiet = false;   // the tail begins with "-q_qln_internal"
};

// `commandTail` is the narrow text after the program name, as the entry receives it.
StartMarkers readStartMarkers(std::string_view commandTail);

// Which switches a launcher accepts: the application launcher only those its configuration
// enables, the installer all of its own.
enum class SwitchSet {
    None,
    ConsoleOnly, // "-console"
    Application, // "-q", "-c", "-console"
    Installer,   // "-q", "-c", "-console", "-splash", "-nocheck", "-manual", "/manual"
};

SwitchSet applicationSwitchSet(bool allConsoleSwitches, bool consoleSwitchOnly);

struct ConsoleSwitches {
    bool quiet = false;           // "-q", "-c": errors go to the standard error stream
    bool console = false;         // "-console", "-c": attach to or allocate a console
    bool consoleRequired = false; // "-c": a run without a console ends
    bool splash = false;          // "-splash"
    bool noCheck = false;         // "-nocheck"
    bool manualRuntime = false;   // "-manual", "/manual"
};

// Looks at every word, the program path included; comparisons are exact and case-sensitive.
// Other words are left for the Java side.
template <class String>
ConsoleSwitches readConsoleSwitches(const std::vector<String>& words, SwitchSet set) {
    using option_words::equalsAscii;
    ConsoleSwitches found;
    if (set == SwitchSet::None)
        return found;
    bool all = set != SwitchSet::ConsoleOnly;
    bool installer = set == SwitchSet::Installer;
    for (const String& word : words) {
        if (equalsAscii(word, "-console")) {
            found.console = true;
        } else if (all && equalsAscii(word, "-q")) {
            found.quiet = true;
        } else if (all && equalsAscii(word, "-c")) {
            found.quiet = found.console = found.consoleRequired = true;
        } else if (installer && equalsAscii(word, "-splash")) {
            found.splash = true;
        } else if (installer && equalsAscii(word, "-nocheck")) {
            found.noCheck = true;
        } else if (installer && (equalsAscii(word, "-manual") || equalsAscii(word, "/manual"))) {
            found.manualRuntime = true;
        }
    }
    return found;
}
