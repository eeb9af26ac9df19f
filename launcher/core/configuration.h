#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "portable/message_text.h"
#include "win/handles.h"

using ArgumentList = std::vector<std::wstring>;

// Opens the launcher's own executable for reading the payload.
UniqueFile openLauncherFile();
// Positions the file at the payload start and returns that offset; fatal on failure.
uint64_t seekToPayload(HANDLE file);

// Reads the configuration record once; returns key 107. `arguments` may be null.
int32_t readConfiguration(const ArgumentList* arguments);

// Accessors. Values longer than the caller's buffer of `size` characters are cut to
// size - 1, as a fixed buffer would hold them.
std::string getConfigString(int32_t key, size_t size = kMaxText);
std::wstring getConfigWideString(int32_t key, size_t size = kMaxText);
std::wstring getConfigMessage(int32_t key);
int32_t getConfigInt(int32_t key);
uint32_t getConfigColor(int32_t key);

uint32_t getIncludedFilesStart();
uint32_t getIncludedFilesEnd();
void setIncludedFilesEnd(uint32_t position);

// Copies payload bytes to a file: 0 done, 1 reading failed or ended early, 2 writing failed.
int copyPayloadBytes(HANDLE source, HANDLE target, int64_t size, bool unscramble);
// Reads one included file's size and content from `source` and writes it to `path`.
int extractIncludedFile(HANDLE source, const std::string& path);
