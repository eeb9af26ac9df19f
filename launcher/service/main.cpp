#include "core/errors.h"
#include "core/log.h"
#include "core/process.h"
#include "win/win32.h"

// The service commands are not built yet: the launcher reads its configuration (only the
// environment requests its log, since it passes no argument list) and ends.
int main() {
    try {
        initLauncher(GetModuleHandleW(nullptr), nullptr);
        logMessage("service commands not available in this build");
        return 0;
    } catch (...) {
        fatalError("Internal Error: unexpected failure");
    }
}
