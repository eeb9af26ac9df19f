#include "win/file_reader.h"

bool FileReader::seek(uint64_t offset) {
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file_, distance, nullptr, FILE_BEGIN)) {
        lastError_ = GetLastError();
        return false;
    }
    return true;
}

uint64_t FileReader::position() const {
    LARGE_INTEGER zero{}, current{};
    SetFilePointerEx(file_, zero, &current, FILE_CURRENT);
    return static_cast<uint64_t>(current.QuadPart);
}

size_t FileReader::read(void* buffer, size_t size) {
    size_t total = 0;
    auto* bytes = static_cast<char*>(buffer);
    // ReadFile takes a DWORD count; very long strings are read in pieces.
    while (total < size) {
        DWORD piece = static_cast<DWORD>(std::min<size_t>(size - total, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(file_, bytes + total, piece, &got, nullptr)) {
            lastError_ = GetLastError();
            break;
        }
        lastError_ = 0;
        if (got == 0)
            break;
        total += got;
    }
    return total;
}
