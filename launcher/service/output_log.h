#pragma once

#include <cstdint>
#include <string>

#include "win/handles.h"

// A log file that moves itself to .1, .2, ... before it would grow past its size, keeping
// `keep` old files. Writing never waits for anyone: what cannot be written (a full disk, a
// file that cannot be opened) is dropped and counted, and opening is tried again later.
class RotatingLog {
public:
    RotatingLog(std::wstring path, uint64_t maxSize, uint32_t keep);
    RotatingLog(const RotatingLog&) = delete;
    RotatingLog& operator=(const RotatingLog&) = delete;
    ~RotatingLog();

    // False when the bytes were dropped.
    bool write(const char* data, size_t size);
    uint64_t dropped() const { return dropped_; }
    const std::wstring& path() const { return path_; }

private:
    bool open();
    void rotate();

    std::wstring path_;
    uint64_t maxSize_;
    uint32_t keep_;
    UniqueFile file_;
    uint64_t size_ = 0;
    uint64_t dropped_ = 0;
    uint64_t droppedInRun_ = 0;
    uint64_t nextOpenAttempt_ = 0;
    CRITICAL_SECTION lock_;
};

// Creates the directory and those above it that are missing; true when it exists then.
bool createDirectories(const std::wstring& path);
