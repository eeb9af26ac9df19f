#include "installer/installer_state.h"
#include "installer/work_sequence.h"
#include "core/dll_search.h"
#include "core/errors.h"
#include "core/temp_lifetime.h"
#include "win/win32.h"

InstallerState& installerState() {
    static InstallerState state;
    return state;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int showCommand) {
    restrictDllSearch(DllSearch::SystemAndChosen);
    try {
        if (runCleanupIfAsked())
            return 0;
        return installerMain(instance, commandTail ? commandTail : "", showCommand);
    } catch (...) {
        fatalError("Internal Error: unexpected failure");
    }
}
