#pragma once

#include <string>

// Finds a Java runtime in the configured version range and loads its JVM library.
// `location` names a runtime to use instead of searching; null searches.
bool LoadDLL(bool showMessages, const char* location, bool isJavaExe);

// The chosen runtime's home ("...\bin\.."); empty before a runtime was chosen.
const std::string& getJvmHome();

// "64" or "32": the bitness the messages about a missing runtime name.
const char* launcherBitness();
