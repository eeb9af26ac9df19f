#include "core/process.h"

#include <cstdlib>
#include <vector>

#include "core/config_keys.h"
#include "core/dll_search.h"
#include "core/errors.h"
#include "core/expansion.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/temp_lifetime.h"
#include "core/test_seams.h"
#include "portable/command_line.h"
#include "portable/path_text.h"
#include "win/encoding.h"
#include "win/environment.h"
#include "win/handles.h"

namespace {

bool languageRestart = false;
std::string productWord = "quillon";
std::wstring productWordW = L"quillon";
char launcherFlavor = 0;
HINSTANCE moduleInstance = nullptr;

bool isLogSwitch(const std::wstring& word) {
    return word == L"-create-qln-log" || word == L"-create-tvo-log" ||
           word == L"/create-qln-log" || word == L"/create-tvo-log";
}

std::wstring queryEnvironment(const wchar_t* name) { return readEnvironmentW(name).value_or(L""); }

std::wstring queryCurrentDirectory() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetCurrentDirectoryW(buffer.size(), buffer.data());
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(length + 1);
    }
}

std::wstring queryTempPath() {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        DWORD length = GetTempPathW(buffer.size(), buffer.data());
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(length + 1);
    }
}

void changeWorkingDirectory() {
    std::wstring directory = getConfigWideString(key::kWorkingDirectory);
    if (directory.empty()) {
        logMessage("working directory unchanged");
        return;
    }
    expandVariables(directory, true);
    directory = normalizePathW(directory, true, true);
    SetCurrentDirectoryW(directory.c_str());
    logMessage("change working directory to %S", directory.c_str());
}

void offerToShowLog() {
    std::optional<std::wstring> path = getLogPath();
    std::wstring shown = path ? *path : std::wstring();
    std::wstring prompt = L"The following log file will be created:\n\n" + shown +
                          L"\n\nDo you want to open an Explorer window?";
    initCommonControls();
    if (MessageBoxW(nullptr, prompt.c_str(), productWordW.c_str(), MB_YESNO) != IDYES)
        return;
    wchar_t shortPath[MAX_PATH] = L"";
    DWORD length = GetShortPathNameW(shown.c_str(), shortPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        lstrcpynW(shortPath, shown.c_str(), MAX_PATH);
    wchar_t windowsDirectory[MAX_PATH] = L"";
    GetWindowsDirectoryW(windowsDirectory, MAX_PATH);
    std::wstring commandLine =
        std::wstring(windowsDirectory) + L"\\explorer.exe /select," + shortPath;
    logMessage("calling %S", commandLine.c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &startup, &process)) {
        logMessage("could not open explorer window %d", static_cast<int>(GetLastError()));
        return;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

} // namespace

void splitCommandLine(const std::wstring& text, ArgumentList& words) {
    ::splitCommandLine<wchar_t>(text, words);
}

void initLauncher(HINSTANCE instance, ArgumentList* arguments) {
    setLauncherTempDirectory("");
    bool logSwitch = false;
    if (arguments && arguments->size() >= 2 && isLogSwitch((*arguments)[1])) {
        arguments->erase(arguments->begin() + 1);
        requestLog();
        logSwitch = true;
    }
    readConfiguration(arguments);
    // A restarted run works in the directory an earlier run made; it keeps that alive
    // before any sweep looks at it.
    if (languageRestart)
        adoptTempDirectory(queryCurrentDirectory());
    sweepEndedTempDirectories(queryTempPath());

    moduleInstance = instance;
    std::string flavor = getConfigString(key::kFlavor, 2);
    launcherFlavor = flavor.empty() ? 0 : flavor[0];
    productWord = launcherFlavor == 't' ? "tarvo" : "quillon";
    productWordW = toWide(productWord);

    if (!languageRestart)
        changeWorkingDirectory();
    if (logSwitch)
        offerToShowLog();
}

void prependNativeLibraryPath() {
    constexpr size_t kPathBuffer = 48000;
    std::string directories = getConfigString(key::kNativeLibraryDirectories);
    logMessage("native lib dir is %s", directories.c_str());
    expandVariablesNarrow(directories);
    std::string front = resolvePathList(directories);
    // Where the DLL search is restricted, PATH does not count for the loader.
    for (const std::string& directory : splitList(front, ';'))
        allowDllDirectory(toWide(directory, fileCodePage()));
    if (!front.empty() && front.back() != ';')
        front += ';';
    // The old PATH stays UTF-16: its entries need not fit the ANSI code page.
    std::wstring path = cutToBuffer(toWide(front) + queryEnvironment(L"PATH"), kPathBuffer);
    std::string shown = toNarrow(path);
    if (SetEnvironmentVariableW(L"PATH", path.c_str()))
        logMessage("Setting PATH (native libs) %s", shown.c_str());
    else
        logMessage("Setting PATH (native libs) %s failed with error %d", shown.c_str(),
                   static_cast<int>(GetLastError()));
    // The C runtime keeps its own copy of the environment; keep both views the same.
    _wputenv((L"PATH=" + path).c_str());
}

void setLanguageRestart() { languageRestart = true; }
bool isLanguageRestart() { return languageRestart; }
const std::string& getProductWord() { return productWord; }
const std::wstring& getProductWordW() { return productWordW; }
char getLauncherFlavor() { return launcherFlavor; }
HINSTANCE getModuleInstance() { return moduleInstance; }

bool obtainConsole() {
    using AttachConsoleFunction = BOOL(WINAPI*)(DWORD);
    auto attach = reinterpret_cast<AttachConsoleFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "AttachConsole")));
    if (attach) {
        if (attach(ATTACH_PARENT_PROCESS) || GetLastError() == ERROR_ACCESS_DENIED)
            return true;
    }
    return AllocConsole() != FALSE;
}

void applyConsoleSwitches(const ConsoleSwitches& switches) {
    if (switches.quiet)
        setConsoleErrorMode();
    if (switches.console && !obtainConsole() && switches.consoleRequired) {
        initCommonControls();
        MessageBoxA(nullptr, "Error: Could not allocate console.", "quillon", MB_OK);
        exitLauncher(1);
    }
}

void rebootSystem() {
    // Tests cannot let Wine restart; they name a file that records the request instead.
    if (std::optional<std::string> testFile = testSeam("QLN_TEST_REBOOT_FILE")) {
        UniqueFile marker(CreateFileA(testFile->c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        return;
    }
    Sleep(5000);
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid)) {
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
        if (GetLastError() == 0)
            ExitWindowsEx(EWX_REBOOT, 0);
    }
    CloseHandle(token);
}
