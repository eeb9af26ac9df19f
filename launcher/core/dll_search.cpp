#include "core/dll_search.h"

#include <map>
#include <mutex>

#include "core/log.h"

#include <commctrl.h>

namespace {

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR 0x00000100
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#define LOAD_LIBRARY_SEARCH_USER_DIRS 0x00000400
#endif

bool restricted = false;

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
using AddDllDirectoryFunction = void*(WINAPI*)(const wchar_t*);
using RemoveDllDirectoryFunction = BOOL(WINAPI*)(void*);

// Older systems lack these; kernel32 is loaded in every process, so nothing is searched for.
template <class Function>
Function kernelFunction(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

// Each directory once; the cookie withdraws it again.
std::map<std::wstring, void*>& addedDirectories() {
    static std::map<std::wstring, void*> added;
    return added;
}

std::wstring withoutTrailingBackslash(std::wstring directory) {
    while (directory.size() > 3 && directory.back() == L'\\')
        directory.pop_back();
    return directory;
}

} // namespace

void restrictDllSearch(DllSearch search) {
    SetDllDirectoryW(L"");
    if (search != DllSearch::SystemAndChosen)
        return;
    if (auto setDefault =
            kernelFunction<SetDefaultDllDirectoriesFunction>("SetDefaultDllDirectories"))
        restricted = setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS);
}

HMODULE loadLibraryRestricted(const std::wstring& path) {
    // The flags are given as well: some loaders apply the default directories only to
    // loads by name, not to what a library loaded by path imports.
    if (restricted)
        return LoadLibraryExW(path.c_str(), nullptr,
                              LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32 |
                                  LOAD_LIBRARY_SEARCH_USER_DIRS);
    return LoadLibraryW(path.c_str());
}

bool allowDllDirectory(const std::wstring& directory) {
    auto add = kernelFunction<AddDllDirectoryFunction>("AddDllDirectory");
    std::wstring key = withoutTrailingBackslash(directory);
    if (!add || key.empty() || addedDirectories().count(key))
        return false;
    void* cookie = add(key.c_str());
    if (!cookie) {
        logMessage("DLL directory %S not added (%d)", key.c_str(), static_cast<int>(GetLastError()));
        return false;
    }
    addedDirectories()[key] = cookie;
    return true;
}

void withdrawDllDirectory(const std::wstring& directory) {
    auto remove = kernelFunction<RemoveDllDirectoryFunction>("RemoveDllDirectory");
    auto found = addedDirectories().find(withoutTrailingBackslash(directory));
    if (!remove || found == addedDirectories().end())
        return;
    remove(found->second);
    addedDirectories().erase(found);
}

FARPROC systemFunction(const wchar_t* library, const char* name) {
    HMODULE module = GetModuleHandleW(library);
    // By name, so that a side-by-side manifest still picks the common controls it asks for;
    // the flag keeps every other directory out. Systems without the flag get the full path.
    if (!module && kernelFunction<AddDllDirectoryFunction>("AddDllDirectory"))
        module = LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module) {
        wchar_t system[MAX_PATH];
        UINT length = GetSystemDirectoryW(system, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return nullptr;
        std::wstring path = std::wstring(system, length) + L"\\" + library;
        module = LoadLibraryExW(path.c_str(), nullptr, 0);
    }
    return module ? GetProcAddress(module, name) : nullptr;
}

void initCommonControls() {
    static std::once_flag done;
    std::call_once(done, [] {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        if (auto init = systemFunctionAs<BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*)>(
                L"comctl32.dll", "InitCommonControlsEx"))
            init(&controls);
    });
}
