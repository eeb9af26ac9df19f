// Fuzz entry point for the tar stream reader: headers, size fields, long names, pax
// records and path checks, on arbitrary decompressed bytes.
//
// With libFuzzer (clang), from the repository root:
//   clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -Ilauncher
//       launcher/unit_tests/fuzz/tar_reader_fuzz.cpp launcher/portable/tar_reader.cpp
//       -o tar_reader_fuzz
//   (one command line)
//   ./tar_reader_fuzz -max_total_time=30 CORPUS_DIR
// Without libFuzzer, standalone_main.cpp drives the same entry point (see there).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "portable/tar_reader.h"

namespace {

class FuzzSource final : public TarSource {
public:
    FuzzSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    int64_t read(void* buffer, size_t size) override {
        if (position_ >= size_) {
            eof_ = true;
            return 0;
        }
        size_t count = std::min(size, size_ - position_);
        std::memcpy(buffer, data_ + position_, count);
        position_ += count;
        return static_cast<int64_t>(count);
    }
    bool skip(int64_t count) override {
        if (count < 0)
            std::abort(); // the reader only ever skips forward
        position_ = count > static_cast<int64_t>(size_ - std::min(position_, size_))
                        ? size_
                        : position_ + static_cast<size_t>(count);
        return true;
    }
    bool atEnd() override { return eof_; }
    int64_t position() override { return static_cast<int64_t>(position_); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
    bool eof_ = false;
};

// Checks what the installer relies on: only safe paths are opened, and a file never gets
// more bytes than its header announced.
class CheckingSink final : public TarSink {
public:
    void makeDirectory(const std::string& path) override {
        if (!isSafeTarPath(path))
            std::abort();
    }
    void beginFile(int64_t) override {}
    bool openFile(const std::string& path, int32_t size) override {
        if (!isSafeTarPath(path) || size < 0 || path.size() >= kTarMaxPath)
            std::abort();
        expected_ = size;
        written_ = 0;
        return path.size() % 7 != 0;
    }
    bool writeFile(const void*, size_t size) override {
        written_ += static_cast<int64_t>(size);
        if (written_ > expected_)
            std::abort();
        return true;
    }
    void fileProgress(int64_t) override {}
    bool closeFile() override { return true; }

private:
    int64_t expected_ = 0;
    int64_t written_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSource in(data, size);
    CheckingSink out;
    TarResult result = extractTarStream(in, out);
    if (result.status == TarStatus::Done && result.filesExtracted == 0)
        std::abort();
    std::string field(reinterpret_cast<const char*>(data), std::min<size_t>(size, 12));
    parseTarSize(field);
    return 0;
}
