#pragma once

#include <string>

// A runtime may carry its jars pack200-compressed as "<name>.jar.pack" in "lib" and
// "lib\ext"; they are turned back into jars with the runtime's own unpack200.exe before
// the runtime is used. Idempotent: a packed jar whose jar exists is left alone.
void unpackPack200Runtime(const std::string& runtimeDirectory);
void unpackPack200Directory(const std::string& runtimeDirectory, const std::string& subdirectory,
                            bool& announced);
// Unpacks one file and deletes it; fatal (message 1009, "20") when unpack200.exe cannot run.
void runUnpack200(const std::string& runtimeHome, const std::string& packFile);
