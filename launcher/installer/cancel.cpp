#include "installer/cancel.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "core/errors.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/temp_lifetime.h"
#include "core/test_seams.h"
#include "installer/dialogs.h"
#include "win/win32.h"

namespace {

// Long enough for any step between two safe points; the pack200 step of a large runtime is
// the longest.
constexpr DWORD kParkTimeoutMillis = 60000;

std::atomic<bool> cancelled{false};

// Manual-reset events, made before the worker starts: parked, no safe point left.
HANDLE workerEvent(int which) {
    static HANDLE events[2] = {CreateEventW(nullptr, TRUE, FALSE, nullptr),
                               CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    return events[which];
}

} // namespace

void requestCancel() {
    workerEvent(0);
    setCancelledExitCode(0);
    cancelled = true;
}

void cancelPoint() {
    if (cancelled)
        throw InstallCancelled{};
}

// "STEP:MS" sleeps MS at every pass through the step. "STEP:hold:N" holds the worker at the
// N-th pass, after logging so, until a cancel arrives (two minutes at most): a test presses
// Cancel while the worker is known to be inside the step, with no race against the clock.
void pauseForTests(const char* step) {
    std::optional<std::string> seam = testSeam("QLN_TEST_STEP_PAUSE");
    if (!seam)
        return;
    size_t length = strlen(step);
    if (seam->compare(0, length, step) != 0 || seam->size() <= length || (*seam)[length] != ':')
        return;
    const char* rest = seam->c_str() + length + 1;
    if (strncmp(rest, "hold:", 5) != 0) {
        Sleep(static_cast<DWORD>(strtoul(rest, nullptr, 10)));
        return;
    }
    static unsigned long passes = 0;
    if (++passes != strtoul(rest + 5, nullptr, 10))
        return;
    logMessage("Test seam holds the worker at %s", step);
    for (DWORD waited = 0; !cancelled && waited < 120000; waited += 10)
        Sleep(10);
}

void leaveSafePoints() {
    cancelPoint();
    SetEvent(workerEvent(1));
}

void workerEnded() { SetEvent(workerEvent(1)); }

void parkAfterCancel() {
    logMessage("Worker stopped after cancel");
    SetEvent(workerEvent(0));
    for (;;)
        Sleep(INFINITE);
}

void endAfterCancel() {
    HANDLE events[2] = {workerEvent(0), workerEvent(1)};
    DWORD started = GetTickCount();
    for (;;) {
        DWORD waited = GetTickCount() - started;
        if (waited >= kParkTimeoutMillis) {
            logError("The worker did not stop after cancel");
            break;
        }
        // Messages sent to this thread (a worker's progress update) must not wait for us.
        DWORD result = MsgWaitForMultipleObjects(2, events, FALSE, kParkTimeoutMillis - waited,
                                                 QS_SENDMESSAGE);
        if (result != WAIT_OBJECT_0 + 2)
            break;
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    }
    setInstallStarted(false, true, true);
    // The current directory may lie inside the directory that goes now. A cancelled
    // installer leaves nothing, not even the deeper levels of a half unpacked runtime
    // that the ordinary end leaves to the next start's sweep.
    SetCurrentDirectoryA(getTempDirectory().c_str());
    if (removeOwnTempDirectory(getLauncherTempDirectory()))
        setLauncherTempDirectory("");
    exitLauncher(0);
}
