#include "core/configuration.h"
#include "core/errors.h"
#include "core/log.h"
#include "core/process.h"
#include "win/win32.h"

// The installer's work sequence is not built yet: it reads its configuration, which
// already reports a damaged or missing payload, and writes its log.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    try {
        setLogPolicy(LogPolicy::AlwaysDeleteUnlessKept);
        ArgumentList arguments;
        splitCommandLine(GetCommandLineW(), arguments);
        initLauncher(instance, &arguments);
        logMessage("installer work sequence not available in this build");
        return 0;
    } catch (...) {
        fatalError("Internal Error: unexpected failure");
    }
}
