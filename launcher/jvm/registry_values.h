#pragma once

#include <optional>
#include <string>
#include <vector>

#include "win/handles.h"

// Narrow registry access in the process's default view: reads with read access, writes
// with full access. Every failure is an empty result; callers treat it as "not there".
UniqueRegistryKey openRegistryKey(HKEY hive, const std::string& path);
UniqueRegistryKey createRegistryKey(HKEY hive, const std::string& path);

// A value read into a buffer of `bufferSize` bytes; a larger value is no value. The
// registry type is not checked, and a missing terminator is supplied.
std::optional<std::string> readRegistryString(HKEY key, const char* name,
                                              size_t bufferSize = 6000);
std::optional<std::string> readRegistryBinary(HKEY key, const char* name, size_t bufferSize);

std::vector<std::string> listRegistrySubKeys(HKEY key);
