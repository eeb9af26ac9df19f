#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "win/win32.h"

// The running module's file name as the system reports it.
std::wstring getModuleFileName();

// The launcher's long path, and its narrow form for the ANSI file interfaces: the long
// path when the code page holds it and it ends in ".exe", else the short 8.3 path.
const std::wstring& getExecutablePathW();
const std::string& getExecutablePath();

// The launcher directory with its trailing backslash: narrow, the narrow form widened,
// and the long UTF-16 form.
struct LauncherDirectory {
    std::string narrow;
    std::wstring narrowWidened;
    std::wstring longForm;
};
const LauncherDirectory& getExecutableDirectory();

// A relative path is put behind the directory of `baseFile`, or the launcher directory.
std::string resolvePath(const std::string& path, const std::string* baseFile = nullptr);
std::wstring resolvePathW(const std::wstring& path, bool useNarrowDirectoryForm,
                          const std::wstring* baseFile = nullptr);
// Resolved, made a full path ("." and ".." removed) and lower-cased unless `keepCase`.
std::string normalizePath(const std::string& path, bool keepCase);
std::wstring normalizePathW(const std::wstring& path, bool useNarrowDirectoryForm, bool keepCase);
// Resolves every entry of a ";"-separated list and joins them again.
std::string resolvePathList(const std::string& list);

// The 8.3 form of an existing path; empty when the path is not there or its volume keeps no
// short names. The narrow form takes and gives text in the file code page.
std::wstring shortPathOf(const std::wstring& path);
std::string shortPathOf(const std::string& path);

bool fileExists(const std::string& path);
bool directoryExists(const std::string& path);
bool fileExistsW(const std::wstring& path);
bool getFileLastWriteTime(const std::string& path, FILETIME& time);
bool getFileLastWriteTimeW(const std::wstring& path, FILETIME& time);
bool isWritableDirectory(const std::string& directory);

// The system's temporary directory, or a writable fallback when its name does not fit the
// code page; always with a trailing backslash. Fatal (message 1015) when there is none.
std::string getTempDirectory();
std::wstring getTempDirectoryW();
// A new file "tvo<random>.tmp" in the temp directory, created with these arguments (never one
// that was there); INVALID_HANDLE_VALUE when no name could be made new.
HANDLE createNewTempFile(std::string& nameOut, DWORD access, DWORD share,
                         SECURITY_ATTRIBUTES* attributes, DWORD flags);
std::string makePidTempFileName(uint32_t processId);

// The per-run directory the included files are extracted into; empty when there is none.
const std::string& getLauncherTempDirectory();
void setLauncherTempDirectory(const std::string& directory);
// With `cleanupAfterExit` the copy that removes the directory after this process starts at
// once; without it the caller decides (see startCleanupAfterExit).
void createLauncherTempDir(bool cleanupAfterExit = true);

// Included file names are relative and stay inside the directory they are extracted into.
bool isSafeIncludedName(const std::string& name);

// Extracts the payload's included files: 0 done, 1 reading failed, 2 writing failed.
int extractIncludedFiles(bool createTempDir);

// Names of the entries of `directory` matching "*.extension".
std::vector<std::string> listDirectory(const std::string& directory, const std::string& extension);

// Removes a directory's files and, with `recurse`, the files of its direct sub-directories
// and those sub-directories. A deeper level stays.
void deleteDirectoryTree(const std::string& path, bool recurse);
