#pragma once

#include "win/win32.h"

// The installer's process-wide flags. The entry sets them before the worker starts, except
// `includedRuntime` and `progressBase`, which only the work sequence and the download step
// write.
struct InstallerState {
    bool quietMode = false;
    bool verifyIntegrity = true;
    bool manualRuntime = false;
    bool includedRuntime = false;
    // Where the wait for the Java window starts on the 0 to 400 progress scale.
    int progressBase = 100;
    HINSTANCE instance = nullptr;
};

InstallerState& installerState();
