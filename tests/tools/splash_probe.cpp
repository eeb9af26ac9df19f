// Drives the splash screen from the inside for the integration tests. Packed like a launcher,
// it runs initLauncher and then its arguments as commands, in order, printing one JSON object
// per line on standard output:
//
//   show [N]         showSplashScreen with N, or with the show command this process got
//   hide             hideSplashScreen
//   status TEXT      setSplashStatusText
//   jvm-home DIR     makes DIR the chosen runtime's home and loads its bin\server\jvm.dll
//                    when it has one, as LoadDLL leaves it for the runtime's splash library
//   wait-visible     waits until this process's splash window is visible, then reports it
//   wait-hidden      waits until it is hidden, then reports it
//   report           reports the splash window: {"event":"window","exists",...}
//   wait-file PATH   waits until PATH exists
//   window           opens an ordinary visible top-level window on a thread of its own
//   fatal TEXT       fatalError(TEXT); reports the owner of the message box as it opens
//   sleep MS
//
// Waits give up after 60 s with {"event":"timeout"} and exit code 3.
//
// Unpacked, "splash-probe.exe spawn SHOW PROGRAM [ARG...]" starts PROGRAM with the show
// command SHOW, waits for it, reports {"event":"spawned","exitCode":N,"splashSeen":bool}
// (whether a splash window of it was ever seen visible) and ends with its exit code.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/configuration.h"
#include "core/errors.h"
#include "core/process.h"
#include "jvm/runtime_search.h"
#include "jvm/splash_screen.h"
#include "win/encoding.h"
#include "win/win32.h"

namespace {

constexpr char kSplashClass[] = "TarvoSplashScreen";
constexpr DWORD kPollMs = 10;
constexpr ULONGLONG kWaitLimitMs = 60000;

std::string jsonString(const std::string& utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

void emit(const std::string& json) {
    fputs((json + "\n").c_str(), stdout);
    fflush(stdout);
}

struct Search {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK findSplash(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    char name[64];
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && GetClassNameA(window, name, sizeof name) > 0 &&
        strcmp(name, kSplashClass) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND splashWindowOf(DWORD processId) {
    Search search{processId, nullptr};
    EnumWindows(findSplash, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string windowReport(HWND window) {
    if (!window)
        return R"({"event":"window","exists":false,"visible":false})";
    RECT rect{};
    GetWindowRect(window, &rect);
    char title[256] = "";
    GetWindowTextA(window, title, sizeof title);
    LONG exStyle = GetWindowLongA(window, GWL_EXSTYLE);
    LONG style = GetWindowLongA(window, GWL_STYLE);
    char json[1024];
    snprintf(json, sizeof json,
             R"({"event":"window","exists":true,"visible":%s,"rect":[%ld,%ld,%ld,%ld],)"
             R"("topmost":%s,"popup":%s,"owner":%s,"classStyle":%lu,"classIcon":%s,)"
             R"("classBackground":%lld,"title":%s})",
             IsWindowVisible(window) ? "true" : "false", rect.left, rect.top, rect.right,
             rect.bottom, (exStyle & WS_EX_TOPMOST) ? "true" : "false",
             (style & WS_POPUP) && !(style & (WS_CAPTION | WS_BORDER)) ? "true" : "false",
             GetWindow(window, GW_OWNER) ? "true" : "false", GetClassLongA(window, GCL_STYLE),
             GetClassLongPtrA(window, GCLP_HICON) ? "true" : "false",
             static_cast<long long>(GetClassLongPtrA(window, GCLP_HBRBACKGROUND)),
             jsonString(toNarrow(toWide(title), CP_UTF8)).c_str());
    return json;
}

template <class Condition>
void waitFor(Condition condition) {
    ULONGLONG giveUp = GetTickCount64() + kWaitLimitMs;
    while (!condition()) {
        if (GetTickCount64() > giveUp) {
            emit(R"({"event":"timeout"})");
            exitLauncher(3);
        }
        Sleep(kPollMs);
    }
}

int ownShowCommand() {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    return (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
}

LRESULT CALLBACK plainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

DWORD WINAPI plainWindowThread(LPVOID) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = plainWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "SplashProbeWindow";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "SplashProbeWindow", "probe window", WS_OVERLAPPEDWINDOW, 10,
                                  10, 200, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    return 0;
}

// Runs inside MessageBox on the thread that shows it, before the box exists on screen.
HHOOK boxHook = nullptr;
LRESULT CALLBACK watchBoxCreation(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        auto* creation = reinterpret_cast<CBT_CREATEWNDA*>(lParam);
        char name[64] = "";
        GetClassNameA(reinterpret_cast<HWND>(wParam), name, sizeof name);
        if (strcmp(name, "#32770") == 0) {
            HWND splash = splashWindowOf(GetCurrentProcessId());
            HWND owner = creation->lpcs->hwndParent;
            char json[256];
            snprintf(json, sizeof json,
                     R"({"event":"box","owner":%s,"ownerIsSplash":%s,"splashVisible":%s})",
                     owner ? "true" : "false", owner && owner == splash ? "true" : "false",
                     splash && IsWindowVisible(splash) ? "true" : "false");
            emit(json);
        }
    }
    return CallNextHookEx(boxHook, code, wParam, lParam);
}

struct SpawnWatch {
    DWORD processId;
    bool seen;
};

int spawn(int argc, wchar_t** argv) {
    if (argc < 4) {
        fputs("usage: splash-probe spawn SHOW PROGRAM [ARG...]\n", stderr);
        return 2;
    }
    std::wstring commandLine;
    for (int i = 3; i < argc; ++i) {
        if (i > 3)
            commandLine += L' ';
        commandLine += L'"' + std::wstring(argv[i]) + L'"';
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(_wtoi(argv[2]));
    PROCESS_INFORMATION process{};
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    if (!CreateProcessW(argv[3], buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        fprintf(stderr, "CreateProcessW failed with %lu\n", GetLastError());
        return 2;
    }
    CloseHandle(process.hThread);
    bool seen = false;
    while (WaitForSingleObject(process.hProcess, kPollMs) == WAIT_TIMEOUT) {
        HWND splash = splashWindowOf(process.dwProcessId);
        seen = seen || (splash && IsWindowVisible(splash));
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    char json[128];
    snprintf(json, sizeof json, R"({"event":"spawned","exitCode":%lu,"splashSeen":%s})", exitCode,
             seen ? "true" : "false");
    emit(json);
    return static_cast<int>(exitCode);
}

int run(int argc, wchar_t** argv) {
    ArgumentList arguments;
    splitCommandLine(GetCommandLineW(), arguments);
    initLauncher(GetModuleHandleW(nullptr), &arguments);
    DWORD self = GetCurrentProcessId();
    for (int i = 1; i < argc; ++i) {
        std::wstring command = argv[i];
        auto next = [&]() -> std::wstring { return i + 1 < argc ? argv[++i] : L""; };
        if (command == L"show") {
            bool given = i + 1 < argc && iswdigit(argv[i + 1][0]);
            showSplashScreen(given ? _wtoi(next().c_str()) : ownShowCommand());
        } else if (command == L"hide") {
            hideSplashScreen();
        } else if (command == L"status") {
            setSplashStatusText(next());
        } else if (command == L"jvm-home") {
            std::wstring home = next();
            setJvmHome(toNarrow(home) + "\\bin\\java.exe");
            LoadLibraryW((home + L"\\bin\\server\\jvm.dll").c_str());
        } else if (command == L"wait-visible" || command == L"wait-hidden") {
            bool visible = command == L"wait-visible";
            waitFor([&] {
                HWND splash = splashWindowOf(self);
                return (splash && IsWindowVisible(splash)) == visible;
            });
            emit(windowReport(splashWindowOf(self)));
        } else if (command == L"report") {
            emit(windowReport(splashWindowOf(self)));
        } else if (command == L"wait-file") {
            std::wstring path = next();
            waitFor([&] { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; });
        } else if (command == L"window") {
            CloseHandle(CreateThread(nullptr, 0, plainWindowThread, nullptr, 0, nullptr));
        } else if (command == L"fatal") {
            std::string text = toNarrow(next());
            boxHook = SetWindowsHookExA(WH_CBT, watchBoxCreation, nullptr, GetCurrentThreadId());
            fatalError(text);
        } else if (command == L"sleep") {
            Sleep(static_cast<DWORD>(_wtoi(next().c_str())));
        } else {
            fprintf(stderr, "splash-probe: unknown command %ls\n", command.c_str());
            return 2;
        }
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 2 && wcscmp(argv[1], L"spawn") == 0)
        return spawn(argc, argv);
    return run(argc, argv);
}
