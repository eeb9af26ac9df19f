#include "installer/dialogs.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "core/config_keys.h"
#include "core/configuration.h"
#include "core/errors.h"
#include "core/log.h"
#include "core/process.h"
#include "core/single_instance.h"
#include "core/test_seams.h"
#include "installer/installer_state.h"
#include "installer/resource_ids.h"
#include "portable/message_text.h"
#include "win/handles.h"

#include <commctrl.h>

namespace {

const char kHandOverKey[] = "SOFTWARE\\brightwell\\tarvo";
const char kInstallStarted[] = "InstallStarted";
constexpr int kWatcherPollMillis = 100;
constexpr int kWatcherTimeoutPolls = 2400;

// Four minutes are too long for a test; a test build can shorten the wait.
int watcherTimeoutPolls() {
    if (std::optional<std::string> polls = testSeam("QLN_TEST_WATCHER_POLLS"))
        return std::max(1, atoi(polls->c_str()));
    return kWatcherTimeoutPolls;
}
constexpr int kWatcherLastPosition = 390;

using SetDlgItemTextWFunction = BOOL(WINAPI*)(HWND, int, LPCWSTR);
using SetWindowTextWFunction = BOOL(WINAPI*)(HWND, LPCWSTR);

struct WideSetters {
    SetDlgItemTextWFunction setDlgItemText = nullptr;
    SetWindowTextWFunction setWindowText = nullptr;
};

// Looked up once: very old systems have only the narrow setters.
const WideSetters& wideSetters() {
    static const WideSetters setters = [] {
        WideSetters found;
        HMODULE user32 = GetModuleHandleA("user32.dll");
        // A test build can act as a system without the wide setters.
        if (user32 && !testSeam("QLN_TEST_NARROW_SETTERS")) {
            found.setDlgItemText = reinterpret_cast<SetDlgItemTextWFunction>(
                reinterpret_cast<void*>(GetProcAddress(user32, "SetDlgItemTextW")));
            found.setWindowText = reinterpret_cast<SetWindowTextWFunction>(
                reinterpret_cast<void*>(GetProcAddress(user32, "SetWindowTextW")));
        }
        return found;
    }();
    return setters;
}

std::string toAnsi(const std::wstring& text) {
    char buffer[kMaxText];
    int length = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, buffer, kMaxText, nullptr,
                                     nullptr);
    if (length <= 0) {
        // Too long for the buffer: keep what fits.
        length = WideCharToMultiByte(CP_ACP, 0, text.c_str(),
                                     static_cast<int>(std::min<size_t>(text.size(), kMaxText - 1)),
                                     buffer, kMaxText - 1, nullptr, nullptr);
        buffer[length > 0 ? length : 0] = '\0';
    }
    return buffer;
}

} // namespace

void registerDialogClass() {
    WNDCLASSW windowClass{};
    windowClass.style = CS_DBLCLKS | CS_SAVEBITS | CS_BYTEALIGNWINDOW;
    windowClass.lpfnWndProc = DefDlgProcW;
    windowClass.cbWndExtra = DLGWINDOWEXTRA;
    windowClass.hInstance = installerState().instance;
    windowClass.hIcon =
        LoadIconW(installerState().instance, MAKEINTRESOURCEW(IDI_APPLICATION_ICON));
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    windowClass.lpszClassName = L"MyDialogClass";
    RegisterClassW(&windowClass);
}

void centerWindow(HWND window) {
    HWND parent = GetParent(window);
    if (!parent)
        parent = GetDesktopWindow();
    RECT outer, own;
    GetWindowRect(parent, &outer);
    GetWindowRect(window, &own);
    int left = outer.left + ((outer.right - outer.left) - (own.right - own.left)) / 2;
    int top = outer.top + ((outer.bottom - outer.top) - (own.bottom - own.top)) / 2;
    SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void setDialogItemText(HWND window, int itemId, const std::wstring& text) {
    if (wideSetters().setDlgItemText)
        wideSetters().setDlgItemText(window, itemId, text.c_str());
    else
        SetDlgItemTextA(window, itemId, toAnsi(text).c_str());
}

void setWindowTitle(HWND window, const std::wstring& text) {
    if (wideSetters().setWindowText)
        wideSetters().setWindowText(window, text.c_str());
    else
        SetWindowTextA(window, toAnsi(text).c_str());
}

void setProgressRange(HWND dialog, int low, int high) {
    if (dialog)
        SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETRANGE32, static_cast<WPARAM>(low),
                            static_cast<LPARAM>(high));
}

void setProgressPosition(HWND dialog, int position) {
    if (dialog)
        SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

std::string perProcessValueName() {
    char name[64];
    snprintf(name, sizeof name, "%s_%d", kInstallStarted, static_cast<int>(GetCurrentProcessId()));
    return name;
}

void setInstallStarted(bool set, bool perProcess, bool general) {
    if (isLanguageRestart())
        return;
    HKEY raw = nullptr;
    // Registry errors leave things as they are.
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kHandOverKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &raw, nullptr) != ERROR_SUCCESS)
        return;
    UniqueRegistryKey handOver(raw);
    std::string names[2] = {perProcess ? perProcessValueName() : "",
                            general ? kInstallStarted : ""};
    for (const std::string& name : names) {
        if (name.empty())
            continue;
        if (set) {
            DWORD one = 1;
            RegSetValueExA(handOver.get(), name.c_str(), 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&one), sizeof one);
        } else {
            RegDeleteValueA(handOver.get(), name.c_str());
        }
    }
}

uint32_t readInstallStarted(bool perProcess) {
    HKEY raw = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kHandOverKey, 0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS)
        return 0;
    UniqueRegistryKey handOver(raw);
    std::string name = perProcess ? perProcessValueName() : kInstallStarted;
    DWORD value = 0, type = 0, size = sizeof value;
    if (RegQueryValueExA(handOver.get(), name.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value)
        return 0;
    return value;
}

DWORD WINAPI javaWindowWatcher(LPVOID parameter) {
    try {
        HWND dialog = static_cast<HWND>(parameter);
        int base = installerState().progressBase;
        int position = base;
        int polls = 0;
        DWORD processId = GetCurrentProcessId();
        while (countProcessWindows(processId) < 2 && readInstallStarted(true) != 2) {
            polls++;
            if (polls % 5 == 0) {
                position = std::min(position + (400 - base) / 4, kWatcherLastPosition);
                setProgressPosition(dialog, position);
            }
            if (polls == watcherTimeoutPolls() && readInstallStarted(true) == 1 &&
                getConfigInt(key::kNoStartTimeout) == 0) {
                logMessage("timeout");
                fatalLocalizedMessage(key::kTextStartTimeout);
            }
            Sleep(kWatcherPollMillis);
        }
        setInstallStarted(false, true, false);
        logMessage("Java window visible");
        ShowWindow(dialog, SW_HIDE);
    } catch (...) {
        logError("Java window watcher failed");
    }
    return 0;
}

void startJavaWindowWatcher(HWND progressDialog) {
    HANDLE thread = CreateThread(nullptr, 0, javaWindowWatcher, progressDialog, 0, nullptr);
    if (!thread) {
        logError("Could not start the Java window watcher (%d)", static_cast<int>(GetLastError()));
        return;
    }
    SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL);
    CloseHandle(thread);
}
