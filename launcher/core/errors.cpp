#include "core/errors.h"

#include <atomic>
#include <cstdio>

#include "core/config_keys.h"
#include "core/configuration.h"
#include "core/dll_search.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/temp_lifetime.h"
#include "portable/message_text.h"
#include "win/encoding.h"

namespace {

bool dialogMode = true;
HWND ownerWindow = nullptr;
void (*hideSplash)() = nullptr;
std::atomic<int> cancelledCode{-1};
std::atomic<DWORD> exitingThread{0};

std::wstring longPathOrSame(const std::wstring& path) {
    wchar_t buffer[kMaxText];
    DWORD length = GetLongPathNameW(path.c_str(), buffer, kMaxText);
    return length > 0 && length < kMaxText ? std::wstring(buffer, length) : path;
}

// The log line that follows the text, or nothing without a log.
std::optional<std::wstring> logLine() {
    std::optional<std::wstring> path = getLogPath();
    if (!path)
        return std::nullopt;
    return L"\n\nLog: " + longPathOrSame(*path);
}

void writeToStandardError(const std::string& text) {
    fputs(text.c_str(), stderr);
    fputs("\n", stderr);
    fflush(stderr);
}

} // namespace

void showErrorMessage(const std::string& text) {
    if (cancelledExit()) {
        logMessage("after cancel: %s", text.c_str());
        return;
    }
    if (hideSplash)
        hideSplash();
    std::string composed = text;
    if (std::optional<std::wstring> line = logLine())
        composed += toNarrow(*line);
    composed = cutToBuffer(composed, kMaxText);
    if (dialogMode) {
        std::string caption = getConfigString(key::kMessageCaption);
        initCommonControls();
        MessageBoxA(ownerWindow, composed.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
    } else {
        writeToStandardError(composed);
    }
}

void showErrorMessageW(const std::wstring& text) {
    if (cancelledExit()) {
        logMessage("after cancel: %S", text.c_str());
        return;
    }
    if (hideSplash)
        hideSplash();
    std::wstring composed = text;
    if (std::optional<std::wstring> line = logLine())
        composed += *line;
    composed = cutToBuffer(composed, kMaxText);
    if (dialogMode) {
        std::wstring caption = getConfigWideString(key::kMessageCaption);
        initCommonControls();
        MessageBoxW(ownerWindow, composed.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
    } else {
        writeToStandardError(toNarrow(composed));
    }
}

void showMessage(int32_t key, const char* argument) {
    std::string text = getConfigString(key);
    showErrorMessage(cutToBuffer(replaceFirstPlaceholder<char>(text, argument), kMaxText));
}

void showMessageW(int32_t key, const wchar_t* argument) {
    std::wstring text = getConfigWideString(key);
    showErrorMessageW(cutToBuffer(replaceFirstPlaceholder<wchar_t>(text, argument), kMaxText));
}

void fatalError(const std::string& text) {
    showErrorMessage(text);
    exitLauncher(1);
}

void fatalMessage(int32_t key, const char* argument) {
    showMessage(key, argument);
    exitLauncher(1);
}

void fatalMessageW(int32_t key, const wchar_t* argument) {
    showMessageW(key, argument);
    exitLauncher(1);
}

void fatalLocalizedMessage(int32_t key) {
    showErrorMessageW(getConfigMessage(key));
    exitLauncher(1);
}

void exitLauncher(int code) {
    DWORD self = GetCurrentThreadId();
    DWORD none = 0;
    if (!exitingThread.compare_exchange_strong(none, self) && none != self) {
        // Another thread is deleting the directory and ending the process; this one must
        // neither write into it nor end the process with its own code first.
        for (;;)
            Sleep(INFINITE);
    }
    if (cancelledExit())
        code = cancelledCode;
    const std::string& directory = getLauncherTempDirectory();
    // Files the runtime holds open, or a process this one started, may keep the directory;
    // the cleanup that waits for this process, or a later start, removes it then.
    if (!directory.empty())
        removeOwnTempDirectory(directory);
    markDirectProcessEnd();
    fflush(nullptr);
    ExitProcess(static_cast<UINT>(code));
}

void setCancelledExitCode(int code) { cancelledCode = code; }
bool cancelledExit() { return cancelledCode >= 0; }

void setConsoleErrorMode() { dialogMode = false; }
bool errorDialogMode() { return dialogMode; }
void setErrorOwnerWindow(HWND window) { ownerWindow = window; }
void setSplashHideHandler(void (*hide)()) { hideSplash = hide; }
