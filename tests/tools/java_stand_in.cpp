// Stand-in for a Java runtime's java.exe (and javaw.exe) in the integration tests. What it
// does comes from "stand-in.cfg" beside it, one instruction a line (UTF-8):
//
//   err TEXT     write TEXT and CR LF to standard error, as a runtime prints its version
//   exit CODE    end with CODE (decimal) once the lines are written; default 0
//   hang         never end once the lines are written
//   linger MS    leave a process behind that holds every inherited handle for MS ms
//
// Before anything else each run appends its command line to "stand-in-runs.txt" beside it,
// so tests can count the probes. Without a "stand-in.cfg" it ends with 2.
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

std::wstring besideMe(const wchar_t* name) {
    wchar_t path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring directory(path, length);
    return directory.substr(0, directory.find_last_of(L'\\') + 1) + name;
}

std::string toUtf8(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                   nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size,
                        nullptr, nullptr);
    return out;
}

void appendLine(const std::wstring& file, const std::string& line) {
    HANDLE handle = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return;
    std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(handle);
}

bool readFile(const std::wstring& file, std::string& content) {
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(handle, buffer, sizeof buffer, &read, nullptr) && read > 0)
        content.append(buffer, read);
    CloseHandle(handle);
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wstring(argv[1]) == L"--linger") {
        Sleep(static_cast<DWORD>(_wtoi(argv[2])));
        return 0;
    }
    appendLine(besideMe(L"stand-in-runs.txt"), toUtf8(GetCommandLineW()));
    std::string config;
    if (!readFile(besideMe(L"stand-in.cfg"), config))
        return 2;
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    int exitCode = 0;
    bool hang = false;
    size_t start = 0;
    while (start < config.size()) {
        size_t end = config.find('\n', start);
        if (end == std::string::npos)
            end = config.size();
        std::string line = config.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.compare(0, 4, "err ") == 0) {
            std::string text = line.substr(4) + "\r\n";
            DWORD written = 0;
            WriteFile(error, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        } else if (line.compare(0, 5, "exit ") == 0) {
            exitCode = atoi(line.c_str() + 5);
        } else if (line == "hang") {
            hang = true;
        } else if (line.compare(0, 7, "linger ") == 0) {
            wchar_t self[MAX_PATH * 4];
            GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
            std::wstring commandLine = L"java --linger " + std::to_wstring(atoi(line.c_str() + 7));
            STARTUPINFOW startup{};
            startup.cb = sizeof startup;
            PROCESS_INFORMATION process{};
            if (CreateProcessW(self, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &startup, &process)) {
                CloseHandle(process.hThread);
                CloseHandle(process.hProcess);
            }
        }
    }
    if (hang)
        Sleep(INFINITE);
    return exitCode;
}
