#pragma once

#include <cstdint>
#include <string>

#include "win/win32.h"

// Unpacks "jre.tar.gz" of the current directory into "jre", runs the pack200 step when the
// configuration asks for it, and loads a JVM; ends the process on failure.
void unpackIncludedRuntime(HWND progressDialog);
// True when at least one file was extracted and the archive ended regularly.
bool untarGzip(const std::string& archivePath, const std::string& targetDirectory,
               HWND progressDialog, int32_t totalSize);
// Loads the JVM of "jre", or any other suitable runtime; ends the process when none works.
void useUnpackedRuntime();
