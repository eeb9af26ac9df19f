#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

// The small interface the payload readers work on: the launcher's own file on Windows,
// a byte span in the unit tests and fuzzers.
class ByteReader {
public:
    virtual ~ByteReader() = default;
    virtual bool seek(uint64_t offset) = 0;
    virtual uint64_t position() const = 0;
    // Reads up to `size` bytes and returns how many were read; a failed read returns 0
    // and leaves its system error code in lastError().
    virtual size_t read(void* buffer, size_t size) = 0;
    virtual uint32_t lastError() const = 0;
};

class SpanReader final : public ByteReader {
public:
    explicit SpanReader(std::string_view bytes) : bytes_(bytes) {}

    bool seek(uint64_t offset) override {
        position_ = offset;
        return true;
    }
    uint64_t position() const override { return position_; }
    size_t read(void* buffer, size_t size) override {
        if (position_ >= bytes_.size())
            return 0;
        size_t count = static_cast<size_t>(
            std::min<uint64_t>(size, bytes_.size() - position_));
        std::memcpy(buffer, bytes_.data() + position_, count);
        position_ += count;
        return count;
    }
    uint32_t lastError() const override { return 0; }

private:
    std::string_view bytes_;
    uint64_t position_ = 0;
};
