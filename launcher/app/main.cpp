#include <cstring>

#include "core/config_keys.h"
#include "core/configuration.h"
#include "core/dll_search.h"
#include "core/errors.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/single_instance.h"
#include "core/temp_lifetime.h"
#include "core/startup_cache.h"
#include "jvm/java_vm_launcher.h"
#include "jvm/runtime_search.h"
#include "jvm/splash_screen.h"
#include "win/win32.h"

#include <commctrl.h>

namespace {

int runApplicationLauncher(HINSTANCE instance, const char* commandTail, int showCommand) {
    StartMarkers markers = readStartMarkers(commandTail);
    if (markers.reboot) {
        rebootSystem();
        return 0;
    }
    if (strncmp(commandTail, kStartupCacheMakerWord, strlen(kStartupCacheMakerWord)) == 0)
        return runStartupCacheMaker(commandTail);
    if (markers.languageRestart)
        setLanguageRestart();
    if (markers.internalQuiet)
        setConsoleErrorMode();

    ArgumentList arguments;
    splitCommandLine(GetCommandLineW(), arguments);
    initLauncher(instance, &arguments);
    SwitchSet switches = applicationSwitchSet(getConfigInt(key::kConsoleSwitches) != 0,
                                              getConfigInt(key::kConsoleSwitchOnly) != 0);
    applyConsoleSwitches(readConsoleSwitches(arguments, switches));
    if (!isLanguageRestart())
        enforceSingleInstance(true, true);

    // The runtime's own splash library exists only once a runtime was chosen.
    bool splash = getConfigInt(key::kSplashScreen) != 0;
    bool runtimeSplash = getConfigInt(key::kRuntimeSplashLibrary) != 0;
    if (splash && !runtimeSplash) {
        initCommonControls();
        showSplashScreen(showCommand);
    }

    enableStartupCache();
    if (extractIncludedFiles(true) != 0)
        fatalMessage(key::kMessageInternalError, "16");
    prependNativeLibraryPath();

    if (!LoadDLL(true, nullptr, false))
        exitLauncher(83);
    if (splash && runtimeSplash) {
        initCommonControls();
        showSplashScreen(showCommand);
    }

    if (!launchJavaProgram(arguments, true))
        fatalMessageW(key::kMessageStartFailed, nullptr);
    // Ends here rather than through the runtime's exit: the temp directory goes, and no
    // global is destroyed under the splash thread.
    exitLauncher(0);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int showCommand) {
    restrictDllSearch(DllSearch::NoCurrentDirectory);
    try {
        if (runCleanupIfAsked())
            return 0;
        return runApplicationLauncher(instance, commandTail ? commandTail : "", showCommand);
    } catch (...) {
        fatalError("Internal Error: unexpected failure");
    }
}
