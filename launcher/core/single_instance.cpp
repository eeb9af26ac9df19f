#include "core/single_instance.h"

#include <algorithm>

#include "core/config_keys.h"
#include "core/configuration.h"
#include "core/errors.h"
#include "core/log.h"
#include "core/paths.h"
#include "win/encoding.h"
#include "win/handles.h"

namespace {

constexpr wchar_t kPidsKey[] = L"SOFTWARE\\brightwell\\tarvo\\pids\\";
constexpr int kPollInterval = 50;
constexpr int kMaxPolls = 200;
constexpr int kLivenessEvery = 5;

std::string instanceSemaphoreName;

// The console window is looked up once; the sentinel marks "not yet".
HWND const kNotLookedUp = reinterpret_cast<HWND>(-1);
HWND consoleWindow = kNotLookedUp;

std::string baseSemaphoreName() {
    std::string name = getConfigInt(key::kGlobalSemaphore) ? "Global\\" : "Local\\";
    std::string path = normalizePath(getExecutablePath(), false);
    std::replace(path.begin(), path.end(), '\\', '_');
    std::replace(path.begin(), path.end(), ' ', '_');
    return name + path;
}

// Widened with the code page the narrow path was made in.
std::wstring registryValueName() {
    return toWide(normalizePath(getExecutablePath(), false),
                  AreFileApisANSI() ? CP_ACP : CP_OEMCP);
}

void registerProcessId() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kPidsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    UniqueRegistryKey owner(key);
    DWORD pid = GetCurrentProcessId();
    RegSetValueExW(key, registryValueName().c_str(), 0, REG_DWORD,
                   reinterpret_cast<const BYTE*>(&pid), sizeof pid);
}

DWORD registeredProcessId() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kPidsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    UniqueRegistryKey owner(key);
    DWORD pid = 0;
    DWORD size = sizeof pid;
    DWORD type = 0;
    if (RegQueryValueExW(key, registryValueName().c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(&pid), &size) != ERROR_SUCCESS ||
        size != sizeof pid)
        return 0;
    return pid;
}

// The first instance holds its semaphore as long as it lives. Creating the name anew
// succeeds only after it has ended.
bool firstInstanceAlive() {
    HANDLE semaphore = CreateSemaphoreA(nullptr, 1, 1, instanceSemaphoreName.c_str());
    if (!semaphore || GetLastError() == ERROR_ALREADY_EXISTS) {
        if (semaphore)
            CloseHandle(semaphore);
        return true;
    }
    if (!ReleaseSemaphore(semaphore, 1, nullptr))
        logMessage("release semaphore 2 failed %d", static_cast<int>(GetLastError()));
    CloseHandle(semaphore);
    logMessage("main process already released semaphore.");
    return false;
}

// Polls while `path` exists; false when the first instance was found gone.
bool waitWhileFileExists(const std::string& path) {
    for (int poll = 0; poll < kMaxPolls && fileExists(path); ++poll) {
        if (poll % kLivenessEvery == 0 && !firstInstanceAlive())
            return false;
        Sleep(kPollInterval);
    }
    return true;
}

// The command line without the program name.
std::wstring argumentsOfCommandLine() {
    std::wstring line = GetCommandLineW();
    size_t position = 0;
    if (!line.empty() && line[0] == L'"') {
        size_t closing = line.find(L'"', 1);
        if (closing == std::wstring::npos)
            return std::wstring();
        position = closing;
    }
    size_t blank = line.find(L' ', position);
    if (blank == std::wstring::npos)
        return std::wstring();
    size_t start = line.find_first_not_of(L' ', blank);
    return start == std::wstring::npos ? std::wstring() : line.substr(start);
}

// A process that ends holding the notification semaphore never gives its count back, and
// every later second instance would wait for it for ever.
[[noreturn]] void abandonHandOver(HANDLE notification, const char* reason) {
    if (notification)
        ReleaseSemaphore(notification, 1, nullptr);
    fatalMessage(key::kMessageInternalError, reason);
}

void handOver(DWORD otherPid) {
    std::string file = makePidTempFileName(otherPid);
    logMessage("notification via %s", file.c_str());
    std::string notificationName = instanceSemaphoreName + "_notification";
    UniqueKernelHandle notification(CreateSemaphoreA(nullptr, 1, 1, notificationName.c_str()));
    if (!notification)
        logMessage("semaphore creation failed %d", static_cast<int>(GetLastError()));
    logMessage("waiting for notification semaphore");
    DWORD waited = notification ? WaitForSingleObject(notification.get(), INFINITE) : WAIT_FAILED;
    logMessage("wait returned %d", static_cast<int>(waited));

    if (firstInstanceAlive() && waitWhileFileExists(file)) {
        UniqueFile target(CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!target) {
            logMessage("CreateFile failed %d", static_cast<int>(GetLastError()));
            abandonHandOver(notification.get(), "21");
        }
        std::wstring content = argumentsOfCommandLine() + L"\n";
        DWORD bytes = static_cast<DWORD>(content.size() * sizeof(wchar_t));
        DWORD written = 0;
        if (!WriteFile(target.get(), content.data(), bytes, &written, nullptr) || written != bytes) {
            logError("WriteFile failed %d", static_cast<int>(GetLastError()));
            abandonHandOver(notification.get(), "22");
        }
        target.reset();
        logMessage("waiting for file deletion");
        if (!waitWhileFileExists(file))
            DeleteFileA(file.c_str());
    }
    if (notification && !ReleaseSemaphore(notification.get(), 1, nullptr))
        logMessage("release semaphore failed %d", static_cast<int>(GetLastError()));
}

struct WindowSearch {
    DWORD processId;
    bool restore;
    HWND exclude;
    int count;
};

BOOL CALLBACK activateWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window))
        return TRUE;
    logMessage("found window %p", static_cast<void*>(window));
    if (search->restore && IsIconic(window)) {
        logMessage("restore");
        ShowWindow(window, SW_RESTORE);
    }
    logMessage("foreground");
    SetForegroundWindow(window);
    logMessage("popup");
    SetForegroundWindow(GetLastActivePopup(window));
    logMessage("done");
    return TRUE;
}

BOOL CALLBACK countWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window) && window != search->exclude)
        ++search->count;
    return TRUE;
}

HWND lookUpConsoleWindow() {
    if (consoleWindow != kNotLookedUp)
        return consoleWindow;
    consoleWindow = nullptr;
    wchar_t savedTitle[1024];
    if (getConfigInt(key::kApplicationType) == 1 || GetConsoleTitleW(savedTitle, 1024) == 0)
        return consoleWindow;
    wchar_t uniqueTitle[64];
    wsprintfW(uniqueTitle, L"%d/%d", static_cast<int>(GetTickCount()),
              static_cast<int>(GetCurrentProcessId()));
    SetConsoleTitleW(uniqueTitle);
    Sleep(40);
    consoleWindow = FindWindowW(nullptr, uniqueTitle);
    SetConsoleTitleW(savedTitle);
    return consoleWindow;
}

} // namespace

void enforceSingleInstance(bool allowMultiple, bool notifyFirstInstance) {
    std::string base = baseSemaphoreName();
    if (allowMultiple && getConfigInt(key::kSingleInstance) == 0) {
        HANDLE semaphore = nullptr;
        DWORD error = 0;
        for (int number = 0;; ++number) {
            instanceSemaphoreName = base + std::to_string(number);
            semaphore = CreateSemaphoreA(nullptr, 1, 1, instanceSemaphoreName.c_str());
            error = GetLastError();
            if (error != ERROR_ALREADY_EXISTS || number >= 100000)
                break;
            CloseHandle(semaphore);
        }
        logMessage("semaphore name %s, code %d, value %p", instanceSemaphoreName.c_str(),
                   static_cast<int>(error), static_cast<void*>(semaphore));
        return; // the handle stays open for the life of the process
    }

    logMessage("single instance mode");
    instanceSemaphoreName = base;
    HANDLE semaphore = CreateSemaphoreA(nullptr, 1, 1, instanceSemaphoreName.c_str());
    DWORD error = GetLastError();
    logMessage("semaphore name %s, code %d, value %p", instanceSemaphoreName.c_str(),
               static_cast<int>(error), static_cast<void*>(semaphore));
    if (!semaphore || error != ERROR_ALREADY_EXISTS) {
        registerProcessId();
        return;
    }
    CloseHandle(semaphore);
    DWORD otherPid = registeredProcessId();
    logMessage("other pid %d", static_cast<int>(otherPid));
    activateProcessWindows(otherPid, true);
    if (notifyFirstInstance)
        handOver(otherPid);
    logMessage("exiting");
    exitLauncher(0);
}

const std::string& getInstanceSemaphoreName() { return instanceSemaphoreName; }

void activateProcessWindows(DWORD processId, bool restore) {
    WindowSearch search{processId, restore, nullptr, 0};
    EnumWindows(activateWindow, reinterpret_cast<LPARAM>(&search));
}

int countProcessWindows(DWORD processId) {
    WindowSearch search{processId, false, lookUpConsoleWindow(), 0};
    EnumWindows(countWindow, reinterpret_cast<LPARAM>(&search));
    return search.count;
}
