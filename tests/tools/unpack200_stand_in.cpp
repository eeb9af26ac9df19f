// Stand-in for a runtime's unpack200.exe in the integration tests. Started as the
// launchers start it, with the command line -r "X.jar.pack" "X.jar", it copies the packed
// file to the jar. Each run appends "begin <command line>" and, when done, "end" to
// "unpack200-runs.txt" beside it. It ends with 0, or 2 when the arguments are not those.
#include <windows.h>

#include <string>

namespace {

std::wstring besideMe(const wchar_t* name) {
    wchar_t path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring directory(path, length);
    return directory.substr(0, directory.find_last_of(L'\\') + 1) + name;
}

void appendLine(const std::wstring& line) {
    std::wstring file = besideMe(L"unpack200-runs.txt");
    HANDLE handle = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return;
    std::wstring text = line + L"\n";
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                   nullptr, 0, nullptr, nullptr);
    std::string utf8(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], size,
                        nullptr, nullptr);
    DWORD written = 0;
    WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    CloseHandle(handle);
}

} // namespace

// The command line has no program name: the C runtime takes "-r" as argv[0].
int wmain(int argc, wchar_t** argv) {
    appendLine(std::wstring(L"begin ") + GetCommandLineW());
    if (argc != 3 || std::wstring(argv[0]) != L"-r")
        return 2;
    CopyFileW(argv[1], argv[2], FALSE);
    appendLine(L"end");
    return 0;
}
