#pragma once

#include <string>

#include "win/win32.h"

// Runtimes registered in the Windows registry: the Java installers' own registration, the
// runtimes a user once located by hand, and the private runtimes of earlier installations.
// Each operation writes the chosen java.exe (and, where named, its version).

bool findCurrentVersionRuntime(std::string& javaExeOut, std::string& versionOut,
                               const std::string& minVersion, const std::string& maxVersion);
bool scanJavaSoftVersions(std::string& javaExeOut, std::string& versionOut,
                          const std::string& minVersion, const std::string& maxVersion,
                          const std::string& baseKey);
bool findJavaSoftRuntime(std::string& javaExeOut, std::string& versionOut,
                         const std::string& minVersion, const std::string& maxVersion);

bool scanLocatedJvms(HKEY hive, std::string& javaExeOut, std::string& versionOut,
                     const std::string& minVersion, const std::string& maxVersion);
bool findLocatedJvm(std::string& javaExeOut, std::string& versionOut,
                    const std::string& minVersion, const std::string& maxVersion);

// The "Y" step of the search: the better of the JavaSoft and the located runtime.
bool findRegistryRuntime(std::string& javaExeOut, const std::string& minVersion,
                         const std::string& maxVersion);

// The first acceptable "<directory>\jre" of the installations listed under key 160.
bool findInstallationRuntime(HKEY hive, std::string& javaExeOut, const std::string& minVersion,
                             const std::string& maxVersion);

// Records a java.exe the user picked, machine-wide or, failing that, for the user.
void registerLocatedJvm(const std::string& javaExe);
