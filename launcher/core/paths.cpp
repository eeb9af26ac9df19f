#include "core/paths.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <set>

#include "core/config_keys.h"
#include "core/configuration.h"
#include "core/errors.h"
#include "core/dll_search.h"
#include "core/included_files_cache.h"
#include "core/log.h"
#include "core/privilege.h"
#include "core/temp_lifetime.h"
#include "core/test_seams.h"
#include "portable/path_text.h"
#include "win/encoding.h"
#include "win/environment.h"
#include "win/handles.h"

#include <ntsecapi.h>

namespace {

std::string launcherTempDirectory;

bool endsWithExe(const std::string& path) {
    return path.size() >= 4 && lstrcmpiA(path.c_str() + path.size() - 4, ".exe") == 0;
}

// Win32 queries that report the length they need are retried with a larger buffer.
template <class Char, class Query>
std::basic_string<Char> queryGrowing(Query query) {
    std::vector<Char> buffer(MAX_PATH);
    for (;;) {
        DWORD length = query(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size())
            return std::basic_string<Char>(buffer.data(), length);
        buffer.resize(length + 1);
    }
}

std::wstring longPathOf(const std::wstring& path) {
    std::wstring result = queryGrowing<wchar_t>([&](wchar_t* buffer, DWORD size) {
        return GetLongPathNameW(path.c_str(), buffer, size);
    });
    return result.empty() ? path : result;
}

std::string narrowIfUsable(const std::wstring& path) {
    if (path.empty() || !fitsCodePage(path, fileCodePage()))
        return {};
    std::string narrow = toNarrow(path, fileCodePage());
    return endsWithExe(narrow) ? narrow : std::string();
}

// GetModuleFileName reports a cut name with the buffer's full size, not the size it needs.
template <class Char, class Query>
std::basic_string<Char> moduleFileName(Query query) {
    std::vector<Char> buffer(MAX_PATH);
    for (;;) {
        DWORD length = query(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length < buffer.size())
            return std::basic_string<Char>(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

std::string narrowModuleFileName() {
    return moduleFileName<char>([](char* buffer, DWORD size) {
        return GetModuleFileNameA(nullptr, buffer, size);
    });
}

// Narrow text is collapsed through UTF-16, since a DBCS trail byte can look like '\'.
std::string collapseNarrow(const std::string& path) {
    std::wstring wide = toWide(path, fileCodePage());
    std::wstring collapsed = collapseBackslashes(wide);
    if (!fitsCodePage(collapsed, fileCodePage()))
        return path;
    return toNarrow(collapsed, fileCodePage());
}

std::string fullPathOf(const std::string& path) {
    std::string full = queryGrowing<char>([&](char* buffer, DWORD size) {
        return GetFullPathNameA(path.c_str(), size, buffer, nullptr);
    });
    return full.empty() ? path : full;
}

std::wstring fullPathOfW(const std::wstring& path) {
    std::wstring full = queryGrowing<wchar_t>([&](wchar_t* buffer, DWORD size) {
        return GetFullPathNameW(path.c_str(), size, buffer, nullptr);
    });
    return full.empty() ? path : full;
}

template <class String>
String directoryPart(const String& path) {
    size_t slash = path.find_last_of('\\');
    return slash == String::npos ? String() : path.substr(0, slash + 1);
}

std::wstring lowerCase(std::wstring text) {
    if (!text.empty())
        CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

std::optional<std::string> environmentValue(const char* name) { return readEnvironment(name); }

std::string windowsDirectory() {
    return queryGrowing<char>(
        [](char* buffer, DWORD size) { return GetSystemWindowsDirectoryA(buffer, size); });
}

std::string withBackslash(std::string directory) {
    if (!directory.empty() && directory.back() != '\\' && directory.back() != '/')
        directory += '\\';
    return directory;
}

struct TempChoice {
    bool systemDirectory;  // the system's own directory is usable as it is
    std::string narrow;    // the narrow result
};

// The narrow form of the system's temporary directory when the code page holds its name,
// else its short form; empty when neither names it. The narrow query alone maps a letter
// the code page lacks to a look-alike ("Łukasz" to "Lukasz"), a directory that is not there.
std::optional<std::string> narrowTempPath() {
    std::wstring wide = queryGrowing<wchar_t>(
        [](wchar_t* buffer, DWORD size) { return GetTempPathW(size, buffer); });
    if (wide.empty() || fitsCodePage(wide, fileCodePage()))
        return std::nullopt;  // the narrow query is right
    // Tests stand for a volume that keeps no 8.3 names.
    std::wstring shortForm =
        testSeam("QLN_TEST_NO_SHORT_NAMES") ? std::wstring() : shortPathOf(wide);
    if (!shortForm.empty() && fitsCodePage(shortForm, fileCodePage())) {
        // The long name cannot go into a narrow log line either.
        std::string narrow = toNarrow(shortForm, fileCodePage());
        logMessage("temp path does not fit the code page; using %s", narrow.c_str());
        return narrow;
    }
    logMessage("temp path does not fit the code page");
    return std::string();
}

std::string narrowOrEmpty(const std::wstring& path) {
    return !path.empty() && fitsCodePage(path, fileCodePage()) ? toNarrow(path, fileCodePage())
                                                               : std::string();
}

// LocalSystem must not share C:\Windows\Temp, where every user may create files: it takes the
// system's own temporary directory where the system names one, else a directory of its own
// in the Windows directory, where only administrators can create anything.
std::string findPrivilegedTempDirectory() {
    using GetTempPath2Function = DWORD(WINAPI*)(DWORD, wchar_t*);
    auto getTempPath2 = reinterpret_cast<GetTempPath2Function>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W")));
    std::wstring windows = toWide(windowsDirectory(), fileCodePage());
    if (getTempPath2) {
        std::wstring system = queryGrowing<wchar_t>(
            [&](wchar_t* buffer, DWORD size) { return getTempPath2(size, buffer); });
        std::wstring shared = windows + L"\\temp\\";
        if (!system.empty() && lstrcmpiW(system.c_str(), shared.c_str()) != 0) {
            std::string narrow = narrowOrEmpty(system);
            if (!narrow.empty())
                return narrow;
        }
    }
    std::wstring own = windows + L"\\SystemTemp";
    SecurityAttributes protectedDirectory(administratorsOnlySddl());
    if (!CreateDirectoryW(own.c_str(), protectedDirectory.get()) &&
        GetLastError() != ERROR_ALREADY_EXISTS)
        fatalMessageW(key::kMessageNoTempDirectory, nullptr);
    logMessage("privileged temp dir %S", own.c_str());
    return narrowOrEmpty(own);
}

// Chosen once: the answer cannot change during a run.
std::string privilegedTempDirectory() {
    static const std::string directory = findPrivilegedTempDirectory();
    return directory;
}

TempChoice chooseTempDirectory() {
    if (isLocalSystemRun()) {
        std::string own = privilegedTempDirectory();
        if (own.empty())
            fatalMessageW(key::kMessageNoTempDirectory, nullptr);
        return {false, withBackslash(own)};
    }
    std::vector<char> buffer(kMaxText);
    DWORD length = GetTempPathA(kMaxText, buffer.data());
    logMessage("GetTempPath returned %d (last error %d)", static_cast<int>(length),
               static_cast<int>(GetLastError()));
    std::string result = length > 0 && length < kMaxText ? std::string(buffer.data(), length) : "";
    bool unusable = false;
    if (!result.empty()) {
        if (std::optional<std::string> replacement = narrowTempPath()) {
            // The short form exists already; a failed one goes to the fallbacks.
            if (!replacement->empty())
                return {true, *replacement};
            unusable = true;
        }
    }
    if (unusable) {
        // Nothing is created under a name the code page distorted.
    } else if (result.empty()) {
        result = environmentValue("HOMEDRIVE").value_or("") +
                 environmentValue("HOMEPATH").value_or("");
        logMessage("No temp dir defined. Using home %s", result.c_str());
    } else {
        logMessage("make dir returned %d", CreateDirectoryA(result.c_str(), nullptr) ? 0 : -1);
    }
    std::string longForm = queryGrowing<char>([&](char* out, DWORD size) {
        return GetLongPathNameA(result.c_str(), out, size);
    });
    if (longForm.empty())
        longForm = result;
    if (!unusable && longForm.find('?') == std::string::npos)
        return {true, result};

    // Every user may create files in the fallbacks but the last; a privileged run, and its
    // notification file, go where only administrators write.
    if (isPrivilegedRun()) {
        std::string own = privilegedTempDirectory();
        if (own.empty())
            fatalMessageW(key::kMessageNoTempDirectory, nullptr);
        return {false, own};
    }
    std::string windows = windowsDirectory();
    for (const std::string& candidate :
         {windows + "\\temp", std::string("c:\\temp"), std::string("c:\\tmp"), windows}) {
        if (isWritableDirectory(candidate))
            return {false, candidate};
    }
    if (isWritableDirectory("c:")) {
        CreateDirectoryA("c:\\tmp", nullptr);
        if (isWritableDirectory("c:\\tmp"))
            return {false, "c:\\tmp"};
    }
    fatalMessageW(key::kMessageNoTempDirectory, nullptr);
}

// A narrow path as the wide file functions take it: past 260 characters in the form that
// lifts that limit (the narrow functions refuse such a path outright).
std::wstring fileNameForWide(const std::string& path) {
    std::wstring wide = toWide(path, fileCodePage());
    if (wide.size() < MAX_PATH - 12 || wide.rfind(L"\\\\?\\", 0) == 0)
        return wide;
    std::wstring full = fullPathOfW(wide);
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\')
        return L"\\\\?\\" + full;
    return wide;
}

void narrowFindData(const WIN32_FIND_DATAW& wide, WIN32_FIND_DATAA& entry) {
    entry.dwFileAttributes = wide.dwFileAttributes;
    entry.ftCreationTime = wide.ftCreationTime;
    entry.ftLastAccessTime = wide.ftLastAccessTime;
    entry.ftLastWriteTime = wide.ftLastWriteTime;
    entry.nFileSizeHigh = wide.nFileSizeHigh;
    entry.nFileSizeLow = wide.nFileSizeLow;
    std::string name = cutToBuffer(toNarrow(wide.cFileName, fileCodePage()), MAX_PATH);
    std::string alternate =
        cutToBuffer(toNarrow(wide.cAlternateFileName, fileCodePage()), sizeof entry.cAlternateFileName);
    lstrcpynA(entry.cFileName, name.c_str(), MAX_PATH);
    lstrcpynA(entry.cAlternateFileName, alternate.c_str(), sizeof entry.cAlternateFileName);
}

// Short paths keep the narrow search; long ones search wide and hand back the same record.
// The handle serves FindNextFileA either way: the narrow function works on the wide search.
UniqueFind findFirst(const std::string& path, WIN32_FIND_DATAA& entry) {
    if (path.size() < MAX_PATH)
        return UniqueFind(FindFirstFileA(path.c_str(), &entry));
    WIN32_FIND_DATAW wide;
    UniqueFind search(FindFirstFileW(fileNameForWide(path).c_str(), &wide));
    if (search)
        narrowFindData(wide, entry);
    return search;
}

constexpr int kTempNameAttempts = 10;

// From the system's generator: names that other users cannot predict.
uint64_t randomBits() {
    uint64_t bits = 0;
    if (!RtlGenRandom(&bits, sizeof bits))
        fatalMessage(key::kMessageInternalError, "7");
    return bits;
}

std::string randomHex(uint64_t bits) {
    char text[17];
    snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(bits));
    return text;
}

} // namespace

// Included file names are relative and stay inside the launcher temp directory.
bool isSafeIncludedName(const std::string& name) {
    if (name.find_first_of(":/") != std::string::npos || name[0] == '\\')
        return false;
    for (const std::string& part : splitList(name, '\\'))
        if (part == "." || part == ".." || isDeviceName(part))
            return false;
    return true;
}

std::wstring shortPathOf(const std::wstring& path) {
    return queryGrowing<wchar_t>([&](wchar_t* buffer, DWORD size) {
        return GetShortPathNameW(path.c_str(), buffer, size);
    });
}

std::string shortPathOf(const std::string& path) {
    return toNarrow(shortPathOf(toWide(path, fileCodePage())), fileCodePage());
}

std::wstring getModuleFileName() {
    return moduleFileName<wchar_t>([](wchar_t* buffer, DWORD size) {
        return GetModuleFileNameW(nullptr, buffer, size);
    });
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
            std::string shortForm = queryGrowing<char>([&](char* buffer, DWORD size) {
                return GetShortPathNameA(module.c_str(), buffer, size);
            });
            narrow = shortForm.empty() ? module : shortForm;
        }
        return collapseNarrow(narrow);
    }();
    return path;
}

const LauncherDirectory& getExecutableDirectory() {
    static const LauncherDirectory directory = [] {
        LauncherDirectory d;
        d.narrow = directoryPart(getExecutablePath());
        d.narrowWidened = toWide(d.narrow, fileCodePage());
        d.longForm = directoryPart(getExecutablePathW());
        return d;
    }();
    return directory;
}

std::string resolvePath(const std::string& path, const std::string* baseFile) {
    if (!isRelativePath(path))
        return collapseNarrow(path);
    std::string base = baseFile ? directoryPart(fullPathOf(*baseFile))
                                : getExecutableDirectory().narrow;
    return collapseNarrow(base + path);
}

std::wstring resolvePathW(const std::wstring& path, bool useNarrowDirectoryForm,
                          const std::wstring* baseFile) {
    if (!isRelativePath(path))
        return collapseBackslashes(path);
    std::wstring base;
    if (baseFile)
        base = directoryPart(fullPathOfW(*baseFile));
    else if (useNarrowDirectoryForm)
        base = getExecutableDirectory().narrowWidened;
    else
        base = getExecutableDirectory().longForm;
    return collapseBackslashes(base + path);
}

std::string normalizePath(const std::string& path, bool keepCase) {
    std::string full = fullPathOf(resolvePath(path));
    if (!keepCase) {
        std::wstring lowered = lowerCase(toWide(full, fileCodePage()));
        if (fitsCodePage(lowered, fileCodePage()))
            full = toNarrow(lowered, fileCodePage());
    }
    return collapseNarrow(full);
}

std::wstring normalizePathW(const std::wstring& path, bool useNarrowDirectoryForm, bool keepCase) {
    std::wstring full = fullPathOfW(resolvePathW(path, useNarrowDirectoryForm));
    if (!keepCase)
        full = lowerCase(full);
    return collapseBackslashes(full);
}

std::string resolvePathList(const std::string& list) {
    std::string joined;
    for (const std::string& piece : splitList(list, ';')) {
        if (!joined.empty())
            joined += ';';
        joined += resolvePath(piece);
    }
    return joined;
}

bool fileExists(const std::string& path) {
    FILETIME ignored;
    return isDriveRoot(path) || getFileLastWriteTime(path, ignored);
}

bool directoryExists(const std::string& path) {
    WIN32_FIND_DATAA entry;
    return isDriveRoot(path) ||
           (findFirst(path, entry) && (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY));
}

bool fileExistsW(const std::wstring& path) {
    FILETIME ignored;
    return isDriveRoot(path) || getFileLastWriteTimeW(path, ignored);
}

bool getFileLastWriteTime(const std::string& path, FILETIME& time) {
    WIN32_FIND_DATAA entry;
    if (!findFirst(path, entry))
        return false;
    time = entry.ftLastWriteTime;
    return true;
}

bool getFileLastWriteTimeW(const std::wstring& path, FILETIME& time) {
    WIN32_FIND_DATAW entry;
    UniqueFind search(FindFirstFileW(path.c_str(), &entry));
    if (!search)
        return false;
    time = entry.ftLastWriteTime;
    return true;
}

bool isWritableDirectory(const std::string& directory) {
    // Tests use this to make every fallback directory unusable.
    if (testSeam("QLN_TEST_NO_WRITABLE_DIRECTORY").value_or("") == "1")
        return false;
    std::string probe = directory + "\\tvo_w_testdir";
    RemoveDirectoryA(probe.c_str());
    if (!CreateDirectoryA(probe.c_str(), nullptr))
        return false;
    bool exists = fileExists(probe);
    RemoveDirectoryA(probe.c_str());
    return exists;
}

// The fallbacks and the home directory get the trailing backslash that the system's own
// directory has, so that a name appended to any of them lands inside it.
std::string getTempDirectory() { return withBackslash(chooseTempDirectory().narrow); }

std::wstring getTempDirectoryW() {
    TempChoice choice = chooseTempDirectory();
    std::wstring wide;
    if (choice.systemDirectory)
        wide = queryGrowing<wchar_t>(
            [](wchar_t* buffer, DWORD size) { return GetTempPathW(size, buffer); });
    return wide.empty() ? toWide(withBackslash(choice.narrow), fileCodePage()) : wide;
}

HANDLE createNewTempFile(std::string& nameOut, DWORD access, DWORD share,
                         SECURITY_ATTRIBUTES* attributes, DWORD flags) {
    std::string directory = getTempDirectory();
    logMessage("tempPath is %s", directory.c_str());
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        nameOut = directory + "tvo" + randomHex(randomBits()) + ".tmp";
        HANDLE file = CreateFileW(fileNameForWide(nameOut).c_str(), access, share, attributes,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            logMessage("tempFile is %s", nameOut.c_str());
            return file;
        }
        logMessage("GetTempFileName failed (last error %d)", static_cast<int>(GetLastError()));
    }
    return INVALID_HANDLE_VALUE;
}

std::string makePidTempFileName(uint32_t processId) {
    return getTempDirectory() + "tvo_p" + std::to_string(processId) + ".tmp";
}

const std::string& getLauncherTempDirectory() { return launcherTempDirectory; }

void setLauncherTempDirectory(const std::string& directory) {
    launcherTempDirectory = directory;
}

void createLauncherTempDir(bool cleanupAfterExit) {
    std::string temp = getTempDirectory();
    sweepEndedTempDirectories(toWide(temp, fileCodePage()));
    logMessage("tempPath is %s", temp.c_str());
    SecurityAttributes protectedDirectory(protectedDirectorySddl());
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        // Both parts random: nothing of the next name can be guessed and planted beforehand.
        uint64_t bits = randomBits();
        std::string suffix = std::to_string(static_cast<uint32_t>(randomBits()));
        if (attempt == 0) {
            if (std::optional<std::string> planted = testSeam("QLN_TEST_FIRST_TEMP_NAME")) {
                bits = strtoull(planted->c_str(), nullptr, 16);
                suffix = "1";
            }
        }
        std::string nameFile = temp + "tvo" + randomHex(bits) + ".tmp";
        logMessage("tempFile is %s", nameFile.c_str());
        // Made new and held before the directory exists, so no sweep ever sees it unowned;
        // a name someone else made is never taken over.
        if (!holdTempName(nameFile)) {
            logMessage("Could not create %s (%d)", nameFile.c_str(),
                       static_cast<int>(GetLastError()));
            continue;
        }
        std::string directory = nameFile + "_dir" + suffix;
        logMessage("Temp dir3: %s", directory.c_str());
        if (protectedDirectory.get() &&
            CreateDirectoryW(fileNameForWide(directory).c_str(), protectedDirectory.get())) {
            launcherTempDirectory = directory;
            allowDllDirectory(toWide(directory, fileCodePage()));
            if (cleanupAfterExit)
                startCleanupAfterExit();
            return;
        }
        logMessage("Could not create dir (%d)", static_cast<int>(GetLastError()));
        releaseTempName(nameFile);
    }
    launcherTempDirectory.clear();
    fatalMessage(key::kMessageInternalError, "7");
}

int extractIncludedFiles(bool createTempDir) {
    logMessage("extracting files");
    int32_t count = getConfigInt(key::kIncludedFileCount);
    logMessage("Included files: %d", count);
    if (count <= 0) {
        if (createTempDir)
            launcherTempDirectory.clear();
        return 0;
    }
    if (createTempDir) {
        createLauncherTempDir(false);
        // From the cache the runtime holds nothing in the run's directory, so the launcher
        // removes it itself at the end, also at System.exit: no copy needs to wait for this
        // process.
        if (useIncludedFilesCache())
            return 0;
        startCleanupAfterExit();
    }

    UniqueFile file = openLauncherFile();
    if (!file) {
        logError("Could not open %S", getExecutablePathW().c_str());
        return 1;
    }
    LARGE_INTEGER start;
    start.QuadPart = getIncludedFilesStart();
    SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN);

    std::vector<std::string> names = splitList(getConfigString(key::kIncludedFileNames), ';');
    if (names.size() > static_cast<size_t>(count))
        names.resize(static_cast<size_t>(count));
    std::set<std::string> madeDirectories;
    for (const std::string& name : names) {
        std::string target = launcherTempDirectory + "\\" + name;
        if (!isSafeIncludedName(name)) {
            logError("included file name leaves the temp directory: %s", name.c_str());
            fatalMessage(key::kMessageInternalError, "11");
        }
        size_t slash = name.find('\\');
        if (slash != std::string::npos) {
            std::string directory = launcherTempDirectory + "\\" + name.substr(0, slash);
            logMessage("creating directory %s", directory.c_str());
            if (CreateDirectoryA(directory.c_str(), nullptr)) {
                madeDirectories.insert(directory);
            } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
                logError("failed to create directory %s", directory.c_str());
            } else if (!madeDirectories.count(directory)) {
                // Something this run did not make: never extract into it.
                logError("directory %s was there before extraction", directory.c_str());
                fatalMessage(key::kMessageInternalError, "11");
            }
        }
        int status = extractIncludedFile(file.get(), target);
        if (status != 0) {
            logError("Failed to extract %s", target.c_str());
            return status;
        }
    }
    LARGE_INTEGER zero{}, position{};
    SetFilePointerEx(file.get(), zero, &position, FILE_CURRENT);
    setIncludedFilesEnd(static_cast<uint32_t>(position.QuadPart));
    file.reset();
    logMessage("extracting files done");
    return 0;
}

std::vector<std::string> listDirectory(const std::string& directory, const std::string& extension) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    UniqueFind search = findFirst(listingPattern(directory, extension), entry);
    if (!search)
        return names;
    do
        names.push_back(entry.cFileName);
    while (FindNextFileA(search.get(), &entry));
    return names;
}

void deleteDirectoryTree(const std::string& path, bool recurse) {
    if (path.empty() || path[0] == '.')
        return;
    logMessage("emptying %s", path.c_str());
    std::string base = withBackslash(path);
    WIN32_FIND_DATAA entry;
    UniqueFind search = findFirst(base + "*.*", entry);
    if (!search)
        return;
    do {
        std::string name = entry.cFileName;
        if (name == "." || name == "..")
            continue;
        std::string entryPath = base + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            logMessage("attempting to remove %s (%d)", entryPath.c_str(), recurse ? 1 : 0);
            // A link is removed as a link; what it points to is not this run's.
            if (recurse && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                deleteDirectoryTree(entryPath, false);
            RemoveDirectoryA(entryPath.c_str());
        } else {
            logMessage("attempting to delete %s", entryPath.c_str());
            DeleteFileA(entryPath.c_str());
        }
    } while (FindNextFileA(search.get(), &entry));
}
