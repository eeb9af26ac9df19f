#include "core/included_files_cache.h"

#include <optional>
#include <vector>

#include "core/config_keys.h"
#include "core/configuration.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/startup_cache.h"
#include "portable/path_text.h"
#include "portable/payload.h"
#include "portable/startup_cache.h"
#include "win/encoding.h"
#include "win/file_reader.h"
#include "win/handles.h"

namespace {

std::string includedFilesDirectory;
// Held open for the whole run: a directory whose marker cannot be deleted is in use.
HANDLE heldMarker = INVALID_HANDLE_VALUE;

constexpr wchar_t kMarker[] = L".complete";
constexpr wchar_t kPrefix[] = L"files-";
// A damaged extraction is left for the sweep and redone beside it, at most this often.
constexpr int kMaxAttempts = 5;
// How long a start waits for another one that extracts the same files.
constexpr DWORD kExtractionWaitMs = 120000;
constexpr DWORD kExtractionPollMs = 50;

struct Included {
    std::string name;
    int64_t size = 0;
};

std::wstring wide(const std::string& narrow) { return toWide(narrow, fileCodePage()); }

bool sizeIs(const std::wstring& path, int64_t expected) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return false;
    int64_t size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return size == expected;
}

// The marker lists every file with its size; it is written only once they are all there.
std::string markerText(const std::vector<Included>& files) {
    std::string text;
    for (const Included& file : files)
        text += file.name + "|" + std::to_string(file.size) + "\n";
    return text;
}

// Opens the marker for reading and keeps others from deleting it; none when the
// directory is incomplete or a file is missing or has the wrong size.
UniqueFile openCompleteDirectory(const std::wstring& directory, const std::vector<Included>& files) {
    UniqueFile marker(CreateFileW((directory + L"\\" + kMarker).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!marker)
        return marker;
    std::string expected = markerText(files);
    std::string text(expected.size() + 1, '\0');
    DWORD read = 0;
    if (!ReadFile(marker.get(), &text[0], static_cast<DWORD>(text.size()), &read, nullptr) ||
        text.substr(0, read) != expected)
        return UniqueFile();
    for (const Included& file : files)
        if (file.size > 0 && !sizeIs(directory + L"\\" + wide(file.name), file.size))
            return UniqueFile();
    return marker;
}

// The sizes of the included files, read from their headers without extracting them.
std::optional<std::vector<Included>> readSizes(HANDLE launcher, const std::vector<std::string>& names,
                                               uint64_t& endOut) {
    LARGE_INTEGER position;
    position.QuadPart = getIncludedFilesStart();
    if (!SetFilePointerEx(launcher, position, nullptr, FILE_BEGIN))
        return std::nullopt;
    std::vector<Included> files;
    FileReader reader(launcher);
    for (const std::string& name : names) {
        ReadFailure failure;
        int64_t size = 0;
        if (!readLong(reader, size, failure))
            return std::nullopt;
        files.push_back({name, size > 0 ? size : 0});
        LARGE_INTEGER skip;
        skip.QuadPart = files.back().size;
        if (!SetFilePointerEx(launcher, skip, &position, FILE_CURRENT))
            return std::nullopt;
    }
    endOut = static_cast<uint64_t>(position.QuadPart);
    return files;
}

bool extractInto(const std::wstring& directory, HANDLE launcher, const std::vector<Included>& files) {
    LARGE_INTEGER position;
    position.QuadPart = getIncludedFilesStart();
    if (!SetFilePointerEx(launcher, position, nullptr, FILE_BEGIN))
        return false;
    for (const Included& file : files) {
        position.QuadPart = 8;  // the size header, read already
        if (!SetFilePointerEx(launcher, position, nullptr, FILE_CURRENT))
            return false;
        size_t slash = file.name.find('\\');
        if (slash != std::string::npos)
            CreateDirectoryW((directory + L"\\" + wide(file.name.substr(0, slash))).c_str(), nullptr);
        if (file.size == 0)
            continue;
        UniqueFile target(CreateFileW((directory + L"\\" + wide(file.name)).c_str(), GENERIC_WRITE,
                                      0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!target || copyPayloadBytes(launcher, target.get(), file.size, true) != 0)
            return false;
    }
    UniqueFile marker(CreateFileW((directory + L"\\" + kMarker).c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string text = markerText(files);
    DWORD written = 0;
    return marker &&
           WriteFile(marker.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size() && FlushFileBuffers(marker.get());
}

// Removes a directory's files and those of its sub-directories (the included files go one
// level deep), never following a link.
void removeTree(const std::wstring& directory, int depth) {
    WIN32_FIND_DATAW found;
    UniqueFind search(FindFirstFileW((directory + L"\\*").c_str(), &found));
    if (search) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring path = directory + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveDirectoryW(path.c_str());  // the link itself, not its target
                else
                    DeleteFileW(path.c_str());
            } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (depth > 0)
                    removeTree(path, depth - 1);
            } else {
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search.get(), &found));
    }
    RemoveDirectoryW(directory.c_str());
}

// The lock beside an extraction directory, held while one start looks at or fills it: a
// start that finds the directory half-written waits for the one writing it instead of
// writing a second copy (which would give the two starts different class paths).
UniqueFile lockExtraction(const std::wstring& directory) {
    std::wstring lock = directory + L".lock";
    for (DWORD waited = 0;; waited += kExtractionPollMs) {
        UniqueFile held(CreateFileW(lock.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD error = GetLastError();
        if (held || error != ERROR_SHARING_VIOLATION || waited >= kExtractionWaitMs)
            return held;
        Sleep(kExtractionPollMs);
    }
}

// Other extractions of this launcher (older builds, damaged ones) whose marker nobody holds.
void removeUnusedExtractions(const std::wstring& parent, const std::wstring& keep) {
    WIN32_FIND_DATAW found;
    UniqueFind search(FindFirstFileW((parent + L"\\" + kPrefix + L"*").c_str(), &found));
    if (!search)
        return;
    do {
        std::wstring path = parent + L"\\" + found.cFileName;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || path == keep)
            continue;
        // A start extracting into it holds its lock; one running from it holds its marker.
        std::wstring lockPath = path + L".lock";
        UniqueFile lock(CreateFileW(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!lock)
            continue;
        std::wstring marker = path + L"\\" + kMarker;
        if (!DeleteFileW(marker.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
            continue;
        removeTree(path, 1);
        lock.reset();
        DeleteFileW(lockPath.c_str());
    } while (FindNextFileW(search.get(), &found));
}

bool useCache() {
    // Switched off, the log stays as it was without the cache; the JVM start says why.
    if (startupCacheOffReason())
        return false;
    if (isLanguageRestart())
        return false;
    std::wstring parent = launcherCacheDirectory();
    if (parent.empty())
        return false;
    std::vector<std::string> names = splitList(getConfigString(key::kIncludedFileNames), ';');
    size_t count = static_cast<size_t>(getConfigInt(key::kIncludedFileCount));
    if (names.size() > count)
        names.resize(count);
    for (const std::string& name : names)
        if (!isSafeIncludedName(name))
            return false;  // the per-run extraction reports it
    UniqueFile launcher = openLauncherFile();
    if (!launcher)
        return false;
    uint64_t end = 0;
    std::optional<std::vector<Included>> files = readSizes(launcher.get(), names, end);
    if (!files)
        return false;

    // Named by the launcher build and what it includes: another build gets its own.
    WIN32_FILE_ATTRIBUTE_DATA exe;
    if (!GetFileAttributesExW(getExecutablePathW().c_str(), GetFileExInfoStandard, &exe))
        return false;
    std::string identity = std::to_string(exe.nFileSizeHigh) + "|" +
                           std::to_string(exe.nFileSizeLow) + "|" +
                           std::to_string(exe.ftLastWriteTime.dwHighDateTime) + "|" +
                           std::to_string(exe.ftLastWriteTime.dwLowDateTime) + "|" +
                           std::to_string(getIncludedFilesStart()) + "|" + markerText(*files);
    std::wstring base = parent + L"\\" + kPrefix + toWide(hashName(identity), CP_UTF8);
    for (size_t at = parent.find(L'\\', 3); at != std::wstring::npos; at = parent.find(L'\\', at + 1))
        CreateDirectoryW(parent.substr(0, at).c_str(), nullptr);
    CreateDirectoryW(parent.c_str(), nullptr);

    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        std::wstring directory = attempt == 0 ? base : base + L"." + std::to_wstring(attempt);
        UniqueFile marker = openCompleteDirectory(directory, *files);
        bool extracted = false;
        if (!marker) {
            UniqueFile lock = lockExtraction(directory);
            if (!lock)
                return false;
            marker = openCompleteDirectory(directory, *files);
            if (!marker) {
                // Only a directory this start creates is written into. One that is there
                // and incomplete while the lock is held is nobody's work in progress: it is
                // damaged, and the next name is tried.
                if (!CreateDirectoryW(directory.c_str(), nullptr))
                    continue;
                logMessage("extracting the included files into the cache");
                if (!extractInto(directory, launcher.get(), *files)) {
                    logError("extracting into the cache failed (%d)",
                             static_cast<int>(GetLastError()));
                    removeTree(directory, 1);
                    return false;
                }
                marker = openCompleteDirectory(directory, *files);
                extracted = true;
                if (!marker)
                    continue;
            }
        }
        std::string narrow;
        if (fitsCodePage(directory, fileCodePage()))
            narrow = toNarrow(directory, fileCodePage());
        else if (std::wstring shortForm = shortPathOf(directory);
                 !shortForm.empty() && fitsCodePage(shortForm, fileCodePage()))
            narrow = toNarrow(shortForm, fileCodePage());
        if (narrow.empty())
            return false;
        heldMarker = marker.release();
        includedFilesDirectory = narrow;
        setIncludedFilesEnd(static_cast<uint32_t>(end));
        logMessage("included files %s in %s", extracted ? "extracted" : "found complete",
                   narrow.c_str());
        removeUnusedExtractions(parent, directory);
        return true;
    }
    return false;
}

} // namespace

bool useIncludedFilesCache() { return useCache(); }

const std::string& getIncludedFilesDirectory() {
    return includedFilesDirectory.empty() ? getLauncherTempDirectory() : includedFilesDirectory;
}
