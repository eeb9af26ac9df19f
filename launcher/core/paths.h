#pragma once

#include <string>

// The running module's file name as the system reports it.
std::wstring getModuleFileName();

// The launcher's long path, and its narrow form for the ANSI file interfaces (the long
// path when the code page holds it and it ends in ".exe", else the short 8.3 path).
const std::wstring& getExecutablePathW();
const std::string& getExecutablePath();

// The per-run directory the included files are extracted into; empty when there is none.
const std::string& getLauncherTempDirectory();
void setLauncherTempDirectory(const std::string& directory);

// Removes a directory's files and, with `recurse`, the files of its direct sub-directories
// and those sub-directories. A deeper level stays.
void deleteDirectoryTree(const std::string& path, bool recurse);
