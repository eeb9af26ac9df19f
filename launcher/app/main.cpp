#include <cstring>

#include "core/config_keys.h"
#include "core/configuration.h"
#include "core/errors.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/single_instance.h"
#include "jvm/runtime_search.h"
#include "win/win32.h"

#include <commctrl.h>

namespace {

// Console switches are honoured only when the configuration enables them.
void handleConsoleSwitches(const ArgumentList& arguments) {
    bool allSwitches = getConfigInt(key::kConsoleSwitches) != 0;
    bool consoleOnly = getConfigInt(key::kConsoleSwitchOnly) != 0;
    if (!allSwitches && !consoleOnly)
        return;
    for (const std::wstring& word : arguments) {
        if (allSwitches && word == L"-q") {
            setConsoleErrorMode();
        } else if (word == L"-console") {
            obtainConsole();
        } else if (allSwitches && word == L"-c") {
            setConsoleErrorMode();
            if (obtainConsole())
                break;
            MessageBoxA(nullptr, "Error: Could not allocate console.", "quillon", MB_OK);
            exitLauncher(1);
        }
    }
}

int runApplicationLauncher(HINSTANCE instance, const char* commandTail) {
    InitCommonControls();
    if (commandTail[0] != '\0' && strcmp(commandTail, "__qln_reboot") == 0) {
        rebootSystem();
        return 0;
    }
    if (strncmp(commandTail, "__qln_lang_restart", 18) == 0)
        setLanguageRestart();
    if (strncmp(commandTail, "-q_qln_internal", 15) == 0)
        setConsoleErrorMode();

    ArgumentList arguments;
    splitCommandLine(GetCommandLineW(), arguments);
    initLauncher(instance, &arguments);
    handleConsoleSwitches(arguments);
    if (!isLanguageRestart())
        enforceSingleInstance(true, true);

    if (extractIncludedFiles(true) != 0)
        fatalMessage(key::kMessageInternalError, "16");
    prependNativeLibraryPath();

    if (!LoadDLL(true, nullptr, false))
        exitLauncher(83);
    return 0;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int) {
    try {
        return runApplicationLauncher(instance, commandTail ? commandTail : "");
    } catch (...) {
        fatalError("Internal Error: unexpected failure");
    }
}
