#pragma once

// Cancel of the progress dialog while its worker thread runs. The worker notices it at its
// safe points and unwinds with InstallCancelled, closing on the way what it has open; then
// it parks, and the dialog's thread deletes the launcher temp directory with nothing writing
// into it or holding a file in it.
struct InstallCancelled {};

// The dialog's thread, on Cancel: from now on the process ends with 0, whatever fails.
void requestCancel();
// The worker: throws InstallCancelled once a cancel came.
void cancelPoint();
// For the tests: pauses in `step` ("integrity": each checked block, "extract": before the
// included files, "unpack": each entry of the runtime archive) by the milliseconds that
// the seam QLN_TEST_STEP_PAUSE gives as "STEP:MS", so that a cancel lands inside the step.
void pauseForTests(const char* step);
// The worker, when no safe point follows any more (the JVM takes over).
void leaveSafePoints();
// The worker's thread when its task ended without a cancel.
void workerEnded();
// The worker's thread once it unwound: lets the dialog's thread go on and waits for the end.
[[noreturn]] void parkAfterCancel();
// The dialog's thread after Cancel: waits until the worker parked or has no safe point
// left, deletes both "InstallStarted" values once more (the worker may have written them
// since) and ends the launcher with 0.
[[noreturn]] void endAfterCancel();
