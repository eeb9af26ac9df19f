#pragma once

#include <string>

#include "core/jvm_home.h"
#include "win/win32.h"

// Finds a Java runtime in the configured version range (or checks the one given), loads
// its JVM library and binds JNI_CreateJavaVM. `location` is null (search), a runtime home
// directory, or with `isJavaExe` the path of a java.exe. With `showMessages` a failure is
// explained to the user; it never ends the process.
bool LoadDLL(bool showMessages, const char* location, bool isJavaExe);

// How searchJvm found its runtime; it chooses the messages of a failed load.
enum LocationType {
    kLocationNone = 0,
    kLocationSearchPath = 1,
    kLocationDirectory = 2,
    kLocationEnvironment = 3,
    kLocationRegistry = 4,
};

// The configured search. `locationOut` gets the directory, the variable name or the "S"
// entry's text; it stays as it was for registry finds.
LocationType searchJvm(std::string& javaExeOut, std::string& locationOut);

// The first line of a file in "<installation directory>\.quillon\", without line ends.
bool readLocationFile(std::string& lineOut, const char* fileName);

// The candidate sources of the search.
bool checkDirectoryRuntime(std::string& javaExeOut, const std::string& directory,
                           const std::string& minVersion, const std::string& maxVersion,
                           bool skipVersionCheck);
bool checkEnvironmentRuntime(std::string& javaExeOut, const char* variableName,
                             const std::string& minVersion, const std::string& maxVersion);
bool checkSearchPathRuntime(std::string& javaExeOut, const std::string& minVersion,
                            const std::string& maxVersion);

// The JVM library beside a java.exe, or that of the runtime inside a JDK.
HMODULE loadJvmLibrary(const std::string& javaExe);
// Tries the JVM sub-directories of java.exe's directory with that directory on PATH;
// PATH is restored when none loads.
HMODULE loadJvmBesideJavaExe(const std::string& javaExe);
HMODULE tryLoadJvmDll(const std::string& binDir, const std::string& subDir);

// JNI_CreateJavaVM(JavaVM**, void** env, void* args), as the JVM library exports it.
using CreateJavaVMFunction = long(__stdcall*)(void**, void**, void*);
bool bindCreateJavaVM(HMODULE module);
// Null until a JVM library was bound.
CreateJavaVMFunction getCreateJavaVM();

// setJvmHome and getJvmHome: the search sets the home that the core keeps.

// "64" or "32": the bitness the messages about a missing runtime name.
const char* launcherBitness();
