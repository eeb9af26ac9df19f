#pragma once

#include <cstdint>
#include <string>

#include "win/win32.h"

// Shows an error in a message box or on standard error, by the error display mode, with
// the log path appended when there is a log.
void showErrorMessage(const std::string& text);
void showErrorMessageW(const std::wstring& text);
// The message of a key, with its first "{0}" replaced by the argument (none: unchanged).
void showMessage(int32_t key, const char* argument);
void showMessageW(int32_t key, const wchar_t* argument);

[[noreturn]] void fatalError(const std::string& text);
[[noreturn]] void fatalMessage(int32_t key, const char* argument);
[[noreturn]] void fatalMessageW(int32_t key, const wchar_t* argument);
[[noreturn]] void fatalLocalizedMessage(int32_t key);

// Deletes the launcher temp directory and ends the process at once with `code`. The first
// thread to get here ends the process; another one that follows waits for that end.
[[noreturn]] void exitLauncher(int code);

// After the user cancelled, the process ends with `code` whatever fails next: a worker that
// finds its files deleted under it shows no message and cannot turn the cancel into a failure.
void setCancelledExitCode(int code);
bool cancelledExit();

// Errors go to standard error from now on; there is no way back.
void setConsoleErrorMode();
bool errorDialogMode();
void setErrorOwnerWindow(HWND window);

// The splash screen registers how to hide itself before an error box appears.
void setSplashHideHandler(void (*hide)());
