#include "portable/tar_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <unordered_map>
#include <vector>

namespace {

constexpr size_t kNameOffset = 0;
constexpr size_t kNameLength = 100;
constexpr size_t kSizeOffset = 124;
constexpr size_t kSizeLength = 12;
constexpr size_t kTypeOffset = 156;
constexpr size_t kMagicOffset = 257;
constexpr size_t kVersionOffset = 263;
constexpr size_t kPrefixOffset = 345;
constexpr size_t kPrefixLength = 155;
// The 12 bytes of the block after the prefix field are never read.
constexpr int64_t kHeaderTail = kTarBlockSize - kTarHeaderReadSize;
// A pax record set this long is no header any common tool writes.
constexpr int32_t kMaxPaxHeader = 65536;

using Header = char[kTarHeaderReadSize];

std::string fieldText(const char* field, size_t length) {
    return std::string(field, strnlen(field, length));
}

bool isPosixUstar(const Header& header) {
    // GNU tar writes "ustar  \0" and keeps other data where POSIX has the prefix field.
    return std::memcmp(header + kMagicOffset, "ustar\0", 6) == 0 &&
           std::memcmp(header + kVersionOffset, "00", 2) == 0;
}

std::string headerPath(const Header& header) {
    std::string name = fieldText(header + kNameOffset, kNameLength);
    if (isPosixUstar(header)) {
        std::string prefix = fieldText(header + kPrefixOffset, kPrefixLength);
        if (!prefix.empty())
            name = prefix + "/" + name;
    }
    for (char& c : name) {
        if (c == '/')
            c = '\\';
    }
    return name;
}

struct PaxRecords {
    std::optional<std::string> path;
    std::optional<int32_t> size;
};

// "<length> <key>=<value>\n" records; false when they are malformed.
bool parsePaxRecords(std::string_view data, PaxRecords& records) {
    while (!data.empty()) {
        size_t space = data.find(' ');
        if (space == 0 || space == std::string_view::npos || space > 10)
            return false;
        uint64_t length = 0;
        for (size_t i = 0; i < space; i++) {
            if (data[i] < '0' || data[i] > '9')
                return false;
            length = length * 10 + static_cast<uint64_t>(data[i] - '0');
        }
        if (length <= space + 1 || length > data.size() || data[length - 1] != '\n')
            return false;
        std::string_view record = data.substr(space + 1, length - space - 2);
        size_t equals = record.find('=');
        if (equals == std::string_view::npos)
            return false;
        std::string_view keyword = record.substr(0, equals);
        std::string_view value = record.substr(equals + 1);
        if (keyword == "path") {
            records.path = std::string(value);
        } else if (keyword == "size") {
            int64_t size = 0;
            if (value.empty() || value.size() > 12)
                return false;
            for (char c : value) {
                if (c < '0' || c > '9')
                    return false;
                size = size * 10 + (c - '0');
            }
            if (size > std::numeric_limits<int32_t>::max())
                return false;
            records.size = static_cast<int32_t>(size);
        }
        data.remove_prefix(length);
    }
    return true;
}

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// The components between separators, without empty and "." ones.
std::vector<std::string_view> pathComponents(std::string_view path) {
    std::vector<std::string_view> components;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = start;
        while (end < path.size() && !isSeparator(path[end]))
            end++;
        std::string_view component = path.substr(start, end - start);
        if (!component.empty() && component != ".")
            components.push_back(component);
        start = end + 1;
    }
    return components;
}

// Components joined by "\\".
std::string canonicalPath(std::string_view path) {
    std::string result;
    for (std::string_view component : pathComponents(path)) {
        if (!result.empty())
            result.push_back('\\');
        result.append(component);
    }
    return result;
}

std::string foldAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && foldAscii(std::string(a)) == foldAscii(std::string(b));
}

// CON, NUL, COM1, CONIN$, ...: Windows opens the device whatever extension follows, and also
// with blanks before the extension. COM and LPT take the digits 0 to 9 and the superscripts
// 1, 2, 3 of the ANSI code page.
bool isDeviceName(std::string_view component) {
    std::string_view base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.remove_suffix(1);
    for (const char* name : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"}) {
        if (equalsIgnoringAsciiCase(base, name))
            return true;
    }
    if (base.size() == 4 && (equalsIgnoringAsciiCase(base.substr(0, 3), "COM") ||
                             equalsIgnoringAsciiCase(base.substr(0, 3), "LPT"))) {
        unsigned char last = static_cast<unsigned char>(base[3]);
        return (last >= '0' && last <= '9') || last == 0xB9 || last == 0xB2 || last == 0xB3;
    }
    return false;
}

class Extractor {
public:
    Extractor(TarSource& in, TarSink& out, std::optional<int64_t> maxUnpackedBytes)
        : in_(in), out_(out), maxUnpackedBytes_(maxUnpackedBytes) {}

    TarResult run() {
        Header header;
        PaxRecords pending;
        bool havePending = false;
        while (readHeader(header)) {
            std::optional<int32_t> size =
                parseTarSize(std::string_view(header + kSizeOffset, kSizeLength));
            if (!size)
                return fail("size field out of range");
            char type = header[kTypeOffset];
            std::string path;
            if (type == 'L') {
                if (!readLongName(*size, path))
                    return done();
                if (!readHeader(header))
                    return done();
                size = parseTarSize(std::string_view(header + kSizeOffset, kSizeLength));
                if (!size)
                    return fail("size field out of range");
                type = header[kTypeOffset];
            } else if (havePending && pending.path) {
                path = *pending.path;
            } else {
                path = headerPath(header);
            }
            if (havePending && pending.size)
                size = pending.size;
            havePending = false;
            pending = PaxRecords();

            if (type == 'x') {
                if (!readPax(*size, pending))
                    return done();
                havePending = true;
                continue;
            }
            if (type == '0' || type == '5') {
                if (!isSafeTarPath(path))
                    return fail("unsafe path in archive: " + path);
                if (!firstSpelling(path))
                    return fail("entries differ only in letter case: " + path);
            }
            if (type == '5') {
                out_.makeDirectory(path);
            } else if (type == '0') {
                if (maxUnpackedBytes_ && unpackedBytes_ + *size > *maxUnpackedBytes_)
                    return fail("unpacked size exceeds " + std::to_string(*maxUnpackedBytes_) +
                                " bytes at " + path);
                unpackedBytes_ += *size;
                out_.beginFile(in_.position());
                if (!out_.openFile(path, *size)) {
                    result_.status = TarStatus::OpenFailed;
                    result_.failedPath = path;
                    return result_;
                }
                if (!copyFile(*size)) {
                    result_.errors.push_back("extract file failed");
                    return done();
                }
                extractedAny_ = true;
                result_.filesExtracted++;
            } else if (!in_.skip(*size)) {
                return fail("gzseek 2 failed");
            }
            if (!skipPadding(*size))
                return fail("gzseek 3 failed");
        }
        return done();
    }

private:
    TarResult fail(std::string text) {
        finished_ = false;
        result_.errors.push_back(std::move(text));
        return done();
    }

    TarResult done() {
        result_.status = finished_ ? TarStatus::Done : TarStatus::Failed;
        return result_;
    }

    // False when an earlier entry has the same path in other letter case: on Windows both
    // are one file, so the later one could replace what the earlier one wrote or was checked as.
    bool firstSpelling(const std::string& path) {
        std::string spelling = canonicalPath(path);
        auto [earlier, inserted] = spellings_.emplace(foldAscii(spelling), spelling);
        return inserted || earlier->second == spelling;
    }

    // False at the end of the archive or on an error; the end counts as regular only once
    // a file was written.
    bool readHeader(Header& header) {
        if (in_.atEnd())
            return endOfArchive("unexpected eof");
        int64_t got = in_.read(header, kTarHeaderReadSize);
        if (got < 0) {
            finished_ = false;
            result_.errors.push_back("gzread failed");
            return false;
        }
        if (got == 0)
            return endOfArchive("unexpected eof");
        if (static_cast<size_t>(got) < kTarHeaderReadSize)
            std::memset(header + got, 0, kTarHeaderReadSize - static_cast<size_t>(got));
        if (std::memcmp(header + kMagicOffset, "ustar", 5) != 0)
            return endOfArchive("no magic number");
        if (!in_.skip(kHeaderTail)) {
            finished_ = false;
            result_.errors.push_back("gzseek 1 failed");
            return false;
        }
        return true;
    }

    bool endOfArchive(const char* textWhenEmpty) {
        finished_ = extractedAny_;
        if (!extractedAny_)
            result_.errors.push_back(textWhenEmpty);
        return false;
    }

    bool readLongName(int32_t size, std::string& path) {
        if (static_cast<size_t>(size) >= kTarMaxPath) {
            finished_ = false;
            result_.errors.push_back("long file name too long");
            return false;
        }
        std::string buffer(static_cast<size_t>(size), '\0');
        if (in_.read(buffer.data(), buffer.size()) != size) {
            finished_ = false;
            result_.errors.push_back("gzread failed for long file name");
            return false;
        }
        path = fieldText(buffer.data(), buffer.size());
        if (!skipPadding(size)) {
            finished_ = false;
            result_.errors.push_back("gzseek 4 failed");
            return false;
        }
        return true;
    }

    bool readPax(int32_t size, PaxRecords& records) {
        finished_ = false;
        if (size > kMaxPaxHeader) {
            result_.errors.push_back("pax header too long");
            return false;
        }
        std::string buffer(static_cast<size_t>(size), '\0');
        if (in_.read(buffer.data(), buffer.size()) != size) {
            result_.errors.push_back("gzread failed for pax header");
            return false;
        }
        if (!parsePaxRecords(buffer, records)) {
            result_.errors.push_back("malformed pax header");
            return false;
        }
        if (records.path && records.path->size() >= kTarMaxPath) {
            result_.errors.push_back("long file name too long");
            return false;
        }
        if (!skipPadding(size)) {
            result_.errors.push_back("gzseek 4 failed");
            return false;
        }
        return true;
    }

    bool skipPadding(int32_t size) {
        int32_t rest = size % static_cast<int32_t>(kTarBlockSize);
        return rest == 0 || in_.skip(static_cast<int64_t>(kTarBlockSize) - rest);
    }

    bool copyFile(int32_t size) {
        int64_t copied = 0;
        bool streamError = false;
        while (copied < size) {
            size_t want = static_cast<size_t>(std::min<int64_t>(kTarCopyBlock, size - copied));
            int64_t got = in_.read(buffer_, want);
            if (got <= 0)
                break;
            if (!out_.writeFile(buffer_, static_cast<size_t>(got))) {
                streamError = true;
                break;
            }
            copied += got;
            out_.fileProgress(in_.position());
        }
        if (!out_.closeFile())
            streamError = true;
        if (streamError) {
            result_.errors.push_back("stream error");
            return false;
        }
        if (copied < size) {
            result_.errors.push_back("sizes don't match: " + std::to_string(copied) + ", " +
                                     std::to_string(size));
            return false;
        }
        return true;
    }

    TarSource& in_;
    TarSink& out_;
    std::optional<int64_t> maxUnpackedBytes_;
    int64_t unpackedBytes_ = 0;
    // Folded path -> the spelling of its first entry.
    std::unordered_map<std::string, std::string> spellings_;
    TarResult result_;
    bool extractedAny_ = false;
    bool finished_ = false;
    char buffer_[kTarCopyBlock];
};

} // namespace

std::optional<int32_t> parseTarSize(std::string_view field) {
    field = field.substr(0, std::min<size_t>(field.size(), kSizeLength));
    size_t i = 0;
    while (i < field.size() && (field[i] == ' ' || field[i] == '0'))
        i++;
    int64_t value = 0;
    for (; i < field.size(); i++) {
        char c = field[i];
        if (c == '\0' || c == ' ')
            break;
        // Other characters count as digits of their own, as the format was always read.
        value = value * 8 + (c - '0');
        if (value < 0 || value > std::numeric_limits<int32_t>::max())
            return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

bool isSafeTarPath(std::string_view path) {
    if (path.empty() || isSeparator(path[0]))
        return false;
    if (path.find(':') != std::string_view::npos)
        return false;
    for (std::string_view component : pathComponents(path)) {
        if (component == ".." || component.back() == '.' || component.back() == ' ' ||
            isDeviceName(component))
            return false;
    }
    return true;
}

TarResult extractTarStream(TarSource& in, TarSink& out, std::optional<int64_t> maxUnpackedBytes) {
    // The copy buffer is too large for every thread's stack.
    auto extractor = std::make_unique<Extractor>(in, out, maxUnpackedBytes);
    return extractor->run();
}
