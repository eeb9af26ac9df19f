// A GUI program that behaves like a launcher from the outside, so the runner and the test
// harness can be checked without a launcher. It works through its arguments as a list of
// actions, in order:
//
//   cmdline              print "cmdline=" and GetCommandLineW()
//   argv                 print "arg=" and each argument as the C runtime split them
//   env                  print "env=NAME=VALUE" for each entry of the environment block
//   cwd                  print "cwd=" and the current directory
//   lcid                 print "lcid=0x%04X" with GetUserDefaultLCID()
//   acp                  print "acp=%u" with GetACP()
//   short PATH           print "short=" and GetShortPathNameW(PATH)
//   out TEXT / err TEXT  write TEXT and a line feed to standard output / standard error
//   box CAPTION TEXT TYPE    MessageBoxW with TYPE (decimal or 0x hex); print "box=<result>"
//   boxa CAPTION TEXT TYPE   the same through MessageBoxA, texts in the ANSI code page
//   dialog CAPTION TEXT MS   show a dialog window that is no message box (a text and an OK
//                        button, no icon control) for MS milliseconds, then close it
//   stdin                copy standard input to standard output until end of file
//   file PATH TEXT       write TEXT, as UTF-8 like the launchers' logs, to a new file PATH
//   priority PID         print "priority=0x%X" with GetPriorityClass of process PID
//   loadlib NAME         LoadLibraryW(NAME) with the default search, as a program that takes
//                        a DLL by bare name; print "loadlib=" and the loaded file, or "-"
//   sleep MS             sleep
//   exit CODE            end the process with CODE at once
//
// Everything printed is UTF-8. Without "exit" the process ends with 0.
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

std::string toUtf8(const std::wstring &text) {
    if (text.empty())
        return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                   nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::string toAnsi(const std::wstring &text) {
    if (text.empty())
        return {};
    int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

void writeBytes(DWORD which, const std::string &bytes) {
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void printLine(DWORD which, const std::wstring &line) {
    writeBytes(which, toUtf8(line) + "\n");
}

void printLine(const std::wstring &line) { printLine(STD_OUTPUT_HANDLE, line); }

UINT parseNumber(const wchar_t *text) { return static_cast<UINT>(std::wcstoul(text, nullptr, 0)); }

void printEnvironment() {
    wchar_t *block = GetEnvironmentStringsW();
    for (const wchar_t *entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1)
        printLine(std::wstring(L"env=") + entry);
    FreeEnvironmentStringsW(block);
}

void copyStdin() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0)
        writeBytes(STD_OUTPUT_HANDLE, std::string(buffer, got));
}

void writeFile(const wchar_t *path, const std::string &bytes) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE) {
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
}

// A window of the dialog class with a text and an OK button but no icon control: a program's
// own dialog that must not be taken for a message box. It closes itself after `milliseconds`.
void showDialog(const wchar_t *caption, const wchar_t *text, UINT milliseconds) {
    HWND dialog = CreateWindowExW(0, L"#32770", caption, WS_POPUP | WS_CAPTION, 100, 100, 300,
                                  150, nullptr, nullptr, nullptr, nullptr);
    CreateWindowExW(0, L"Static", text, WS_CHILD | WS_VISIBLE, 10, 10, 270, 20, dialog,
                    reinterpret_cast<HMENU>(0xFFFF), nullptr, nullptr);
    CreateWindowExW(0, L"Button", L"OK", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, 10, 40, 80,
                    24, dialog, reinterpret_cast<HMENU>(IDOK), nullptr, nullptr);
    // Shown once complete, as the dialog manager shows a dialog after WM_INITDIALOG.
    ShowWindow(dialog, SW_SHOW);
    const ULONGLONG end = GetTickCount64() + milliseconds;
    MSG message;
    while (GetTickCount64() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    DestroyWindow(dialog);
}

void fail(const std::wstring &why) {
    printLine(STD_ERROR_HANDLE, L"msgbox-probe: " + why);
    ExitProcess(2);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    const int argc = __argc;
    wchar_t **const argv = __wargv;
    for (int i = 1; i < argc; ++i) {
        const std::wstring action = argv[i];
        auto operand = [&](int count) {
            if (i + count >= argc)
                fail(action + L" needs " + std::to_wstring(count) + L" operand(s)");
        };
        if (action == L"cmdline") {
            printLine(std::wstring(L"cmdline=") + GetCommandLineW());
        } else if (action == L"argv") {
            for (int j = 0; j < argc; ++j)
                printLine(std::wstring(L"arg=") + argv[j]);
        } else if (action == L"env") {
            printEnvironment();
        } else if (action == L"cwd") {
            wchar_t dir[MAX_PATH * 4];
            GetCurrentDirectoryW(MAX_PATH * 4, dir);
            printLine(std::wstring(L"cwd=") + dir);
        } else if (action == L"lcid") {
            wchar_t text[16];
            swprintf(text, 16, L"0x%04X", static_cast<unsigned>(GetUserDefaultLCID()));
            printLine(std::wstring(L"lcid=") + text);
        } else if (action == L"acp") {
            printLine(L"acp=" + std::to_wstring(GetACP()));
        } else if (action == L"short") {
            operand(1);
            wchar_t shortPath[MAX_PATH * 4] = L"";
            GetShortPathNameW(argv[++i], shortPath, MAX_PATH * 4);
            printLine(std::wstring(L"short=") + shortPath);
        } else if (action == L"out" || action == L"err") {
            operand(1);
            printLine(action == L"out" ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE, argv[++i]);
        } else if (action == L"box") {
            operand(3);
            int result = MessageBoxW(nullptr, argv[i + 2], argv[i + 1], parseNumber(argv[i + 3]));
            i += 3;
            printLine(L"box=" + std::to_wstring(result));
        } else if (action == L"boxa") {
            operand(3);
            int result = MessageBoxA(nullptr, toAnsi(argv[i + 2]).c_str(),
                                     toAnsi(argv[i + 1]).c_str(), parseNumber(argv[i + 3]));
            i += 3;
            printLine(L"box=" + std::to_wstring(result));
        } else if (action == L"dialog") {
            operand(3);
            showDialog(argv[i + 1], argv[i + 2], parseNumber(argv[i + 3]));
            i += 3;
        } else if (action == L"stdin") {
            copyStdin();
        } else if (action == L"file") {
            operand(2);
            writeFile(argv[i + 1], toUtf8(argv[i + 2]));
            i += 2;
        } else if (action == L"priority") {
            operand(1);
            HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                         static_cast<DWORD>(parseNumber(argv[++i])));
            wchar_t text[32];
            swprintf(text, 32, L"priority=0x%X", process ? GetPriorityClass(process) : 0u);
            printLine(text);
            if (process)
                CloseHandle(process);
        } else if (action == L"loadlib") {
            operand(1);
            HMODULE module = LoadLibraryW(argv[++i]);
            wchar_t path[MAX_PATH] = L"-";
            if (module)
                GetModuleFileNameW(module, path, MAX_PATH);
            printLine(std::wstring(L"loadlib=") + path);
        } else if (action == L"sleep") {
            operand(1);
            Sleep(parseNumber(argv[++i]));
        } else if (action == L"loadlib") {
            // Loads a DLL by its bare name, the way a planted DLL would be taken.
            operand(1);
            LoadLibraryW(argv[++i]);
        } else if (action == L"exit") {
            operand(1);
            ExitProcess(parseNumber(argv[++i]));
        } else {
            fail(L"unknown action " + action);
        }
    }
    return 0;
}
