#include "core/temp_lifetime.h"

#include <cstring>
#include <vector>

#include "core/log.h"
#include "win/encoding.h"
#include "win/handles.h"

namespace {

// The name file of the directory this process made, and those of adopted directories;
// they stay open until the process ends.
HANDLE ownNameFile = INVALID_HANDLE_VALUE;
std::vector<HANDLE> adoptedNameFiles;

// The form that lifts the 260-character limit of the wide file functions.
std::wstring extendedPath(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\", 0) == 0)
        return path;
    if (path.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + path.substr(2);
    if (path.size() >= 2 && path[1] == L':')
        return L"\\\\?\\" + path;
    return path;
}

// The name file of "<name>_dir<time>", or empty when the directory is not named so.
std::wstring nameFileOf(const std::wstring& directory) {
    size_t mark = directory.rfind(L"_dir");
    if (mark == std::wstring::npos || mark + 4 == directory.size())
        return {};
    for (size_t i = mark + 4; i < directory.size(); ++i)
        if (directory[i] < L'0' || directory[i] > L'9')
            return {};
    return directory.substr(0, mark);
}

HANDLE openNameFile(const std::wstring& path, DWORD access, DWORD share, bool inheritable) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, inheritable ? TRUE : FALSE};
    return CreateFileW(extendedPath(path).c_str(), access, share, &attributes, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Written into the name file by an owner that holds it. Launchers that knew nothing of
// holding left their name files empty; a directory of theirs may belong to a run that is
// still going, so the sweep never touches it.
constexpr char kOwnerMark[] = "held by its launcher\r\n";
constexpr DWORD kOwnerMarkSize = sizeof kOwnerMark - 1;

bool carriesOwnerMark(HANDLE file) {
    char text[kOwnerMarkSize] = {};
    DWORD read = 0;
    return ReadFile(file, text, kOwnerMarkSize, &read, nullptr) && read == kOwnerMarkSize &&
           memcmp(text, kOwnerMark, kOwnerMarkSize) == 0;
}

// Shared among all holders, but never with a deleter.
HANDLE holdNameFile(const std::wstring& path) {
    return openNameFile(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        true);
}

// Removes everything below `directory` (in extended form); false when something stays.
bool removeContents(const std::wstring& directory) {
    WIN32_FIND_DATAW entry;
    UniqueFind search(FindFirstFileW((directory + L"\\*").c_str(), &entry));
    if (!search)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    bool all = true;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        std::wstring path = directory + L"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        bool directoryEntry = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        // A linked directory is removed as a link; what it points to is not ours.
        if (directoryEntry && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            all = removeContents(path) && all;
        bool removed = directoryEntry ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str());
        all = removed && all;
    } while (FindNextFileW(search.get(), &entry));
    return all;
}

// Removes a directory whose name file no process holds; the exclusive open proves that and
// keeps a late holder out while the directory goes.
void removeIfEnded(const std::wstring& directory) {
    std::wstring nameFile = nameFileOf(directory);
    if (nameFile.empty())
        return;
    UniqueFile exclusive(openNameFile(nameFile, GENERIC_READ, 0, false));
    if (!exclusive || !carriesOwnerMark(exclusive.get()))
        return;  // still held, not ours, or of a launcher that never held its name
    std::wstring extended = extendedPath(directory);
    bool emptied = removeContents(extended);
    if (emptied && RemoveDirectoryW(extended.c_str())) {
        exclusive.reset();
        DeleteFileW(extendedPath(nameFile).c_str());
        logMessage("removed ended temp dir %S", directory.c_str());
    }
}

} // namespace

bool holdTempName(const std::string& nameFile) {
    releaseTempName();
    ownNameFile = holdNameFile(toWide(nameFile, fileCodePage()));
    if (ownNameFile == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    WriteFile(ownNameFile, kOwnerMark, kOwnerMarkSize, &written, nullptr);
    return true;
}

void releaseTempName() {
    if (ownNameFile != INVALID_HANDLE_VALUE)
        CloseHandle(ownNameFile);
    ownNameFile = INVALID_HANDLE_VALUE;
}

void adoptTempDirectory(const std::wstring& directory) {
    std::wstring path = directory;
    while (!path.empty() && path.back() == L'\\')
        path.pop_back();
    std::wstring nameFile = nameFileOf(path);
    if (nameFile.empty())
        return;
    HANDLE held = holdNameFile(nameFile);
    if (held == INVALID_HANDLE_VALUE)
        return;
    adoptedNameFiles.push_back(held);
    logMessage("holding temp dir %S", path.c_str());
}

bool takeTempDirectoryAlone(const std::string& directory) {
    std::wstring nameFile = nameFileOf(toWide(directory, fileCodePage()));
    if (nameFile.empty())
        return true;
    releaseTempName();
    ownNameFile = openNameFile(nameFile, GENERIC_READ, 0, false);
    if (ownNameFile != INVALID_HANDLE_VALUE)
        return true;
    return GetLastError() != ERROR_SHARING_VIOLATION;
}

bool removeOwnTempDirectory(const std::string& directory) {
    if (directory.empty() || !takeTempDirectoryAlone(directory))
        return false;
    std::wstring wide = toWide(directory, fileCodePage());
    std::wstring extended = extendedPath(wide);
    if (!removeContents(extended) || !RemoveDirectoryW(extended.c_str()))
        return false;
    std::wstring nameFile = nameFileOf(wide);
    if (!nameFile.empty()) {
        releaseTempName();
        DeleteFileW(extendedPath(nameFile).c_str());
    }
    logMessage("removed temp dir %s", directory.c_str());
    return true;
}

void sweepEndedTempDirectories(const std::wstring& tempDirectory) {
    if (tempDirectory.empty())
        return;
    std::wstring base = tempDirectory;
    if (base.back() != L'\\')
        base += L'\\';
    WIN32_FIND_DATAW entry;
    UniqueFind search(FindFirstFileW(extendedPath(base + L"tvo*.tmp_dir*").c_str(), &entry));
    if (!search)
        return;
    std::vector<std::wstring> candidates;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            candidates.push_back(base + entry.cFileName);
    } while (FindNextFileW(search.get(), &entry));
    search.reset();
    for (const std::wstring& directory : candidates)
        removeIfEnded(directory);
}
