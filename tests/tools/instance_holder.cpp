// Plays a running first instance of a single-instance application, so that tests can start
// launchers against it: it holds the instance semaphore, registers its process id, shows a
// window for the second instance to bring forward, and reads the notification files the way
// the application's Java side does. Options, all optional:
//
//   --semaphore NAME     create the semaphore NAME (count 1 of 1) and hold it; exit code 2 when
//                        it already exists
//   --hold NAME          take the one count of the semaphore NAME (created when missing) and
//                        give it back only when stopping, so that others queue behind it
//   --lock-file FILE     open FILE (created when missing) with no sharing and keep it open, as
//                        a launcher does with a lock it holds
//   --register VALUE     write the own process id as the REG_DWORD VALUE of the current
//                        user's key "SOFTWARE\brightwell\tarvo\pids\"
//   --window             show a visible top-level window
//   --minimized          show the main window minimised
//   --events FILE        append one line per event: "started" first, then for the window
//                        "main activate", "main deactivate", "main minimized" and "main
//                        restored", and at each notification read "notified main" or
//                        "notified other", telling whether the window was in front then
//   --notify FILE        poll every 10 ms for "<temp>tvo_p<pid>.tmp" (temp as GetTempPathW
//                        reports it), append its bytes unchanged to FILE, then delete it; a
//                        failed deletion is tried again at the next polls, without reading
//                        the file again, and noted as the event "delete failed <error>"
//   --watch-pid N        use N instead of the own process id in that file name
//   --keep               read each notification file once but leave it in place
//   --ready FILE         write "<pid>\n" to FILE once everything above is set up, or
//                        "failed <exit code>\n" when a step failed
//   --stop FILE          end with 0 when FILE exists
//
//   spawn REPORT CMDLINE start CMDLINE, write "pid <n>\n" to REPORT, wait for it, append
//                        "exit <code>\n" and end with its exit code
//
// Exit codes: 0 stopped, 2 the semaphore existed, 3 bad arguments or a failed set-up step.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>
#include <utility>

namespace {

constexpr int kExitExisted = 2;
constexpr int kExitUsage = 3;
constexpr DWORD kPollMs = 10;
constexpr wchar_t kPidsKey[] = L"SOFTWARE\\brightwell\\tarvo\\pids\\";
constexpr wchar_t kClassName[] = L"InstanceHolderWindow";

struct Options {
    std::wstring semaphore, hold, lockFile, registerValue, events, notify, ready, stop;
    bool window = false, minimized = false, keep = false;
    bool hasWatchPid = false;
    DWORD watchPid = 0;
};

Options options;
HWND mainWindow = nullptr;

bool appendBytes(const std::wstring &path, const void *data, DWORD size) {
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool done = size == 0 || (WriteFile(file, data, size, &written, nullptr) && written == size);
    CloseHandle(file);
    return done;
}

void appendLine(const std::wstring &path, const std::string &line) {
    if (path.empty())
        return;
    std::string text = line + "\n";
    appendBytes(path, text.data(), static_cast<DWORD>(text.size()));
}

void event(const std::string &line) { appendLine(options.events, line); }

bool exists(const std::wstring &path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ACTIVATE:
        event(LOWORD(wParam) == WA_INACTIVE ? "main deactivate" : "main activate");
        break;
    case WM_SIZE:
        if (wParam == SIZE_MINIMIZED)
            event("main minimized");
        else if (wParam == SIZE_RESTORED)
            event("main restored");
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool showWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    if (!RegisterClassW(&windowClass))
        return false;
    std::wstring title = L"instance holder " + std::to_wstring(GetCurrentProcessId());
    mainWindow = CreateWindowExW(0, kClassName, title.c_str(), WS_OVERLAPPEDWINDOW, 40, 40, 240,
                                 120, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (mainWindow == nullptr)
        return false;
    ShowWindow(mainWindow, options.minimized ? SW_SHOWMINIMIZED : SW_SHOW);
    return true;
}

bool registerProcessId() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kPidsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    DWORD pid = GetCurrentProcessId();
    LONG status = RegSetValueExW(key, options.registerValue.c_str(), 0, REG_DWORD,
                                 reinterpret_cast<const BYTE *>(&pid), sizeof pid);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

std::wstring notificationPath() {
    wchar_t temp[MAX_PATH + 1] = L"";
    GetTempPathW(MAX_PATH + 1, temp);
    DWORD pid = options.hasWatchPid ? options.watchPid : GetCurrentProcessId();
    return std::wstring(temp) + L"tvo_p" + std::to_wstring(pid) + L".tmp";
}

// Reads the notification file when it is there and complete: the writer keeps it open
// without sharing until it has written everything, so opening fails until then.
bool readNotification(const std::wstring &path, std::string &content) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    content.clear();
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        content.append(buffer, got);
    CloseHandle(file);
    return true;
}

class NotificationReader {
public:
    explicit NotificationReader(std::wstring path) : path_(std::move(path)) {}

    void poll() {
        if (!exists(path_)) {
            seen_ = false;
            return;
        }
        if (seen_) {
            if (!options.keep)
                remove();
            return;
        }
        std::string content;
        if (!readNotification(path_, content))
            return;
        // The content is recorded before the file goes, so that a second instance that saw
        // it go can rely on its arguments having arrived.
        appendBytes(options.notify, content.data(), static_cast<DWORD>(content.size()));
        bool front = mainWindow != nullptr && GetForegroundWindow() == mainWindow;
        event(front ? "notified main" : "notified other");
        seen_ = true;
        if (!options.keep)
            remove();
    }

private:
    // Recorded already, so a file that could not be deleted is not read again: the next polls
    // only try the deletion again. No writer makes a new file while this one is there.
    void remove() {
        DWORD error = DeleteFileW(path_.c_str()) ? ERROR_SUCCESS : GetLastError();
        if (error == ERROR_SUCCESS && exists(path_))
            event("still there after delete");
        if (error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND) {
            seen_ = false;
            deleteFailed_ = false;
            return;
        }
        if (!deleteFailed_)
            event("delete failed " + std::to_string(error));
        deleteFailed_ = true;
    }

    std::wstring path_;
    bool seen_ = false;
    bool deleteFailed_ = false;
};

int spawn(const std::wstring &report, const std::wstring &commandLine) {
    std::wstring buffer = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return kExitUsage;
    CloseHandle(process.hThread);
    appendLine(report, "pid " + std::to_string(process.dwProcessId));
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    appendLine(report, "exit " + std::to_string(code));
    return static_cast<int>(code);
}

bool parse(int argc, wchar_t **argv) {
    for (int i = 1; i < argc; ++i) {
        std::wstring name = argv[i];
        auto value = [&](std::wstring &target) {
            if (i + 1 >= argc)
                return false;
            target = argv[++i];
            return true;
        };
        if (name == L"--semaphore") {
            if (!value(options.semaphore))
                return false;
        } else if (name == L"--hold") {
            if (!value(options.hold))
                return false;
        } else if (name == L"--lock-file") {
            if (!value(options.lockFile))
                return false;
        } else if (name == L"--register") {
            if (!value(options.registerValue))
                return false;
        } else if (name == L"--events") {
            if (!value(options.events))
                return false;
        } else if (name == L"--notify") {
            if (!value(options.notify))
                return false;
        } else if (name == L"--ready") {
            if (!value(options.ready))
                return false;
        } else if (name == L"--stop") {
            if (!value(options.stop))
                return false;
        } else if (name == L"--watch-pid") {
            std::wstring number;
            if (!value(number))
                return false;
            options.watchPid = static_cast<DWORD>(std::wcstoul(number.c_str(), nullptr, 10));
            options.hasWatchPid = true;
        } else if (name == L"--window") {
            options.window = true;
        } else if (name == L"--minimized") {
            options.minimized = options.window = true;
        } else if (name == L"--keep") {
            options.keep = true;
        } else {
            return false;
        }
    }
    return true;
}

int failed(int code) {
    appendLine(options.ready, "failed " + std::to_string(code));
    return code;
}

int hold() {
    event("started");
    HANDLE instance = nullptr;
    if (!options.semaphore.empty()) {
        instance = CreateSemaphoreW(nullptr, 1, 1, options.semaphore.c_str());
        if (instance == nullptr)
            return failed(kExitUsage);
        if (GetLastError() == ERROR_ALREADY_EXISTS)
            return failed(kExitExisted);
    }
    HANDLE held = nullptr;
    if (!options.hold.empty()) {
        held = CreateSemaphoreW(nullptr, 1, 1, options.hold.c_str());
        if (held == nullptr || WaitForSingleObject(held, INFINITE) != WAIT_OBJECT_0)
            return failed(kExitUsage);
    }
    HANDLE lock = INVALID_HANDLE_VALUE;
    if (!options.lockFile.empty()) {
        lock = CreateFileW(options.lockFile.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (lock == INVALID_HANDLE_VALUE)
            return failed(kExitUsage);
    }
    if (!options.registerValue.empty() && !registerProcessId())
        return failed(kExitUsage);
    if (options.window && !showWindow())
        return failed(kExitUsage);
    NotificationReader reader(notificationPath());
    appendLine(options.ready, std::to_string(GetCurrentProcessId()));

    for (;;) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kPollMs, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (!options.notify.empty())
            reader.poll();
        if (!options.stop.empty() && exists(options.stop))
            break;
    }
    if (held != nullptr)
        ReleaseSemaphore(held, 1, nullptr);
    if (lock != INVALID_HANDLE_VALUE)
        CloseHandle(lock);
    // Closing the last handle removes the name: that is how launchers see the end.
    if (instance != nullptr)
        CloseHandle(instance);
    return 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr)
        return kExitUsage;
    if (argc == 4 && std::wstring(argv[1]) == L"spawn")
        return spawn(argv[2], argv[3]);
    if (!parse(argc, argv))
        return kExitUsage;
    return hold();
}
