#include "portable/start_switches.h"

StartMarkers readStartMarkers(std::string_view commandTail) {
    StartMarkers markers;
    markers.reboot = commandTail == "__qln_reboot";
    markers.languageRestart = commandTail.substr(0, 18) == "__qln_lang_restart";
    markers.internalQuiet = commandTail.substr(0, 15) == "-q_qln_internal";
    return markers;
}

SwitchSet applicationSwitchSet(bool allConsoleSwitches, bool consoleSwitchOnly) {
    if (allConsoleSwitches)
        return SwitchSet::Application;
    return consoleSwitchOnly ? SwitchSet::ConsoleOnly : SwitchSet::None;
}
