#pragma once

#include "portable/byte_reader.h"
#include "win/handles.h"

// ByteReader over an open Windows file.
class FileReader final : public ByteReader {
public:
    explicit FileReader(HANDLE file) : file_(file) {}

    bool seek(uint64_t offset) override;
    uint64_t position() const override;
    size_t read(void* buffer, size_t size) override;
    uint32_t lastError() const override { return lastError_; }

private:
    HANDLE file_;
    uint32_t lastError_ = 0;
};
