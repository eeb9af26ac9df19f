#include <cstring>

#include "core/config_keys.h"
#include "core/configuration.h"
#include "core/errors.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/single_instance.h"
#include "core/startup_cache.h"
#include "jvm/java_vm_launcher.h"
#include "jvm/runtime_search.h"
#include "jvm/splash_screen.h"
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

int runApplicationLauncher(HINSTANCE instance, const char* commandTail, int showCommand) {
    InitCommonControls();
    if (commandTail[0] != '\0' && strcmp(commandTail, "__qln_reboot") == 0) {
        rebootSystem();
        return 0;
    }
    if (strncmp(commandTail, kStartupCacheMakerWord, strlen(kStartupCacheMakerWord)) == 0)
        return runStartupCacheMaker(commandTail);
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

    // The runtime's own splash library exists only once a runtime was chosen.
    bool splash = getConfigInt(key::kSplashScreen) != 0;
    bool runtimeSplash = getConfigInt(key::kRuntimeSplashLibrary) != 0;
    if (splash && !runtimeSplash)
        showSplashScreen(showCommand);

    enableStartupCache();
    if (extractIncludedFiles(true) != 0)
        fatalMessage(key::kMessageInternalError, "16");
    prependNativeLibraryPath();

    if (!LoadDLL(true, nullptr, false))
        exitLauncher(83);
    if (splash && runtimeSplash)
        showSplashScreen(showCommand);

    if (!launchJavaProgram(arguments, true))
        fatalMessageW(key::kMessageStartFailed, nullptr);
    // Ends here rather than through the runtime's exit: the temp directory goes, and no
    // global is destroyed under the splash thread.
    exitLauncher(0);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int showCommand) {
    try {
        return runApplicationLauncher(instance, commandTail ? commandTail : "", showCommand);
    } catch (...) {
        fatalError("Internal Error: unexpected failure");
    }
}
