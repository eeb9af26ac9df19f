// Fuzz entry point for the tar stream reader: headers, size fields, long names, pax
// records and path checks, on arbitrary decompressed bytes. The paths the reader lets through
// are judged by a placement of their own, not by the reader's predicate.
//
// With libFuzzer (clang), from the repository root:
//   clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -Ilauncher
//       launcher/unit_tests/fuzz/tar_reader_fuzz.cpp launcher/portable/tar_reader.cpp
//       -o tar_reader_fuzz
//   (one command line)
//   ./tar_reader_fuzz -max_total_time=30 CORPUS_DIR
// Without libFuzzer, standalone_main.cpp drives the same entry point (see there).

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_support.h"
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

// Where Windows would put a path given relative to the target directory, worked out here
// without the reader's own checks: the components of the result, or nothing when the path
// leaves the target or names something other than a plain file or directory in it (a drive,
// the root, a stream, a device, a name Windows would change by dropping trailing dots or
// blanks).
std::optional<std::vector<std::string>> windowsPlacement(const std::string& path) {
    if (path.empty() || path[0] == '\\' || path[0] == '/')
        return std::nullopt; // the root of the current drive, or a UNC or device path
    if (path.size() >= 2 && path[1] == ':')
        return std::nullopt; // a drive
    if (path.find(':') != std::string::npos)
        return std::nullopt; // an alternate data stream
    std::vector<std::string> placed;
    std::string component;
    auto place = [&](const std::string& name) {
        if (name.empty() || name == ".")
            return true;
        if (name == "..") {
            if (placed.empty())
                return false;
            placed.pop_back();
            return true;
        }
        char last = name.back();
        if (last == '.' || last == ' ')
            return false;
        std::string base = name.substr(0, name.find('.'));
        while (!base.empty() && base.back() == ' ')
            base.pop_back();
        std::string upper;
        for (char c : base)
            upper.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c);
        static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
        for (const char* device : devices) {
            if (upper == device)
                return false;
        }
        if (upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
            (std::isdigit(static_cast<unsigned char>(upper[3])) ||
             std::strchr("\xB9\xB2\xB3", upper[3]) != nullptr))
            return false;
        placed.push_back(name);
        return true;
    };
    for (char c : path) {
        if (c == '\\' || c == '/') {
            if (!place(component))
                return std::nullopt;
            component.clear();
        } else {
            component.push_back(c);
        }
    }
    if (!place(component))
        return std::nullopt;
    return placed;
}

// Checks what the installer relies on: every entry lands on a plain file or directory inside
// the target, no two entries are one file on Windows under different spellings, a file
// never gets more bytes than its header announced, and all files together stay within the
// unpacked limit.
class CheckingSink final : public TarSink {
public:
    explicit CheckingSink(std::optional<int64_t> limit) : limit_(limit) {}

    void makeDirectory(const std::string& path) override { place(path); }
    void beginFile(int64_t) override {}
    bool openFile(const std::string& path, int32_t size) override {
        FUZZ_CHECK(size >= 0 && path.size() < kTarMaxPath);
        place(path);
        expected_ = size;
        written_ = 0;
        return path.size() % 7 != 0;
    }
    bool writeFile(const void*, size_t size) override {
        written_ += static_cast<int64_t>(size);
        total_ += static_cast<int64_t>(size);
        FUZZ_CHECK(written_ <= expected_);
        FUZZ_CHECK(!limit_ || total_ <= *limit_);
        return true;
    }
    void fileProgress(int64_t) override {}
    bool closeFile() override { return true; }

private:
    void place(const std::string& path) {
        std::optional<std::vector<std::string>> placed = windowsPlacement(path);
        FUZZ_CHECK(placed.has_value());
        std::string spelling, folded;
        for (const std::string& name : *placed) {
            spelling += "\\" + name;
            for (char c : name)
                folded.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c);
            folded.push_back('\\');
        }
        auto [earlier, inserted] = spellings_.emplace(folded, spelling);
        FUZZ_CHECK(inserted || earlier->second == spelling);
    }

    std::optional<int64_t> limit_;
    std::map<std::string, std::string> spellings_;
    int64_t expected_ = 0;
    int64_t written_ = 0;
    int64_t total_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Half the inputs run with an unpacked limit taken from their length.
    std::optional<int64_t> limit;
    if (size % 2)
        limit = static_cast<int64_t>(size / 3);
    FuzzSource in(data, size);
    CheckingSink out(limit);
    TarResult result = extractTarStream(in, out, limit);
    FUZZ_CHECK(!(result.status == TarStatus::Done && result.filesExtracted == 0));
    std::string field(reinterpret_cast<const char*>(data), std::min<size_t>(size, 12));
    parseTarSize(field);
    return 0;
}
