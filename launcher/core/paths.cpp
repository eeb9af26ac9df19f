#include "core/paths.h"

#include <vector>

#include "core/log.h"
#include "portable/path_text.h"
#include "win/encoding.h"
#include "win/handles.h"

namespace {

std::string launcherTempDirectory;

bool endsWithExe(const std::string& path) {
    return path.size() >= 4 && lstrcmpiA(path.c_str() + path.size() - 4, ".exe") == 0;
}

UINT fileCodePage() { return AreFileApisANSI() ? CP_ACP : CP_OEMCP; }

std::wstring longPathOf(const std::wstring& path) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetLongPathNameW(path.c_str(), buffer.data(), buffer.size());
        if (length == 0)
            return path;
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(length + 1);
    }
}

std::wstring shortPathOf(const std::wstring& path) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetShortPathNameW(path.c_str(), buffer.data(), buffer.size());
        if (length == 0)
            return std::wstring();
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(length + 1);
    }
}

std::string narrowIfUsable(const std::wstring& path) {
    if (path.empty() || !fitsCodePage(path, fileCodePage()))
        return std::string();
    std::string narrow = toNarrow(path, fileCodePage());
    return endsWithExe(narrow) ? narrow : std::string();
}

std::string narrowModuleFileName() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameA(nullptr, buffer.data(), buffer.size());
        if (length < buffer.size())
            return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace

std::wstring getModuleFileName() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, buffer.data(), buffer.size());
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

const std::wstring& getExecutablePathW() {
    static const std::wstring path = collapseBackslashes(longPathOf(getModuleFileName()));
    return path;
}

const std::string& getExecutablePath() {
    static const std::string path = [] {
        std::string narrow = narrowIfUsable(getExecutablePathW());
        if (narrow.empty())
            narrow = narrowIfUsable(shortPathOf(getExecutablePathW()));
        if (narrow.empty()) {
            std::string module = narrowModuleFileName();
            std::vector<char> buffer(module.size() + MAX_PATH);
            DWORD length = GetShortPathNameA(module.c_str(), buffer.data(), buffer.size());
            narrow = length > 0 && length < buffer.size() ? std::string(buffer.data(), length)
                                                          : module;
        }
        return toNarrow(collapseBackslashes(toWide(narrow, fileCodePage())), fileCodePage());
    }();
    return path;
}

const std::string& getLauncherTempDirectory() { return launcherTempDirectory; }

void setLauncherTempDirectory(const std::string& directory) {
    launcherTempDirectory = directory;
}

void deleteDirectoryTree(const std::string& path, bool recurse) {
    if (path.empty() || path[0] == '.')
        return;
    logMessage("emptying %s", path.c_str());
    std::string base = path;
    if (base.back() != '\\')
        base += '\\';
    WIN32_FIND_DATAA entry;
    UniqueFind search(FindFirstFileA((base + "*.*").c_str(), &entry));
    if (!search)
        return;
    do {
        std::string name = entry.cFileName;
        if (name == "." || name == "..")
            continue;
        std::string entryPath = base + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            logMessage("attempting to remove %s (%d)", entryPath.c_str(), recurse ? 1 : 0);
            if (recurse)
                deleteDirectoryTree(entryPath, false);
            RemoveDirectoryA(entryPath.c_str());
        } else {
            logMessage("attempting to delete %s", entryPath.c_str());
            DeleteFileA(entryPath.c_str());
        }
    } while (FindNextFileA(search.get(), &entry));
}
