#pragma once

#include <string>

#include "win/win32.h"

// Judging one Java runtime candidate by its java.exe: existence, version (from the
// per-user version cache or by running it with -version) and the configured range.

// The pre-release rule (unless allowed here or by the configuration) and the range.
bool isVersionAcceptable(const std::string& version, const std::string& minVersion,
                         const std::string& maxVersion, bool allowPreRelease);
// The looser range test of version names found in the registry, before any probing.
bool isRegistryVersionInRange(const std::string& name, const std::string& minVersion,
                              const std::string& maxVersion);

// The java.exe of a runtime home. The result says whether the home qualifies, which only
// a JDK requirement can refuse.
bool javaExeForHome(std::string& javaExeOut, const std::string& homeDir);

// Runs `javaExe -version` with its standard error in a temporary file and reads the
// version from it. A non-zero exit code leaves the broken-version marker in the cache.
bool probeJavaVersion(const std::string& javaExe, const FILETIME& lastWriteTime,
                      std::string& versionOut);

// `javaExe` is normalized in place; for GUI applications it ends up naming javaw.exe.
bool checkJavaExe(std::string& javaExe, std::string& versionOut, const std::string& minVersion,
                  const std::string& maxVersion, bool allowPreRelease);
// checkJavaExe without the version, with the version cache used or ignored for this call.
bool checkJavaCandidate(std::string& javaExe, const std::string& minVersion,
                        const std::string& maxVersion, bool allowPreRelease, bool useCache);

// `prefix` followed by the path with each backslash turned into a forward slash, so that
// the whole path is one registry key name.
std::string cacheKeyForPath(const std::string& path, const std::string& prefix);

bool readCachedVersion(const std::string& javaExe, const FILETIME& lastWriteTime,
                       std::string& versionOut);
void storeCachedVersion(const std::string& javaExe, const FILETIME& lastWriteTime,
                        const std::string& version);
