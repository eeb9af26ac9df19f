#pragma once

#include <cstddef>
#include <cstdint>

#include "win/win32.h"

// The standard CRC-32, fed in blocks.
uint32_t crc32Init(uint32_t value);
uint32_t crc32Update(uint32_t value, const void* bytes, size_t count);
uint32_t crc32Final(uint32_t value);

// Returns when the payload is intact or the check is off; otherwise shows the damaged-
// installer message and ends the process. The progress bar runs from 0 to 100 meanwhile.
void verifyExecutableIntegrity(HWND progressDialog);
