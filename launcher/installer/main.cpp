#include "installer/installer_state.h"
#include "installer/work_sequence.h"
#include "core/errors.h"
#include "win/win32.h"

InstallerState& installerState() {
    static InstallerState state;
    return state;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int showCommand) {
    try {
        return installerMain(instance, commandTail ? commandTail : "", showCommand);
    } catch (...) {
        fatalError("Internal Error: unexpected failure");
    }
}
