#include "portable/payload.h"

#include <climits>
#include <vector>

namespace {

template <class T>
bool readExact(ByteReader& in, T& value, PayloadField field, ReadFailure& failure) {
    unsigned char bytes[sizeof(T)];
    size_t count = in.read(bytes, sizeof bytes);
    if (count != sizeof bytes) {
        failure = {field, in.lastError(), static_cast<uint32_t>(count)};
        return false;
    }
    uint64_t raw = 0;
    for (size_t i = sizeof bytes; i-- > 0;)
        raw = (raw << 8) | bytes[i];
    value = static_cast<T>(raw);
    return true;
}

// Reads `length` bytes in pieces, so a corrupt length cannot make us allocate gigabytes
// for a payload that is much shorter.
bool readBytes(ByteReader& in, int32_t length, std::string& bytes) {
    constexpr size_t kPiece = 64 * 1024;
    bytes.clear();
    size_t remaining = static_cast<size_t>(length);
    while (remaining > 0) {
        size_t piece = std::min(remaining, kPiece);
        size_t old = bytes.size();
        bytes.resize(old + piece);
        if (in.read(&bytes[old], piece) != piece)
            return false;
        remaining -= piece;
    }
    return true;
}

// A failed seek is reported as a failure of the read that was to follow it: reading on
// would take values from the wrong place.
bool seekFor(ByteReader& in, uint64_t offset, PayloadField field, ReadFailure& failure) {
    if (in.seek(offset))
        return true;
    failure.field = field;
    failure.systemError = in.lastError();
    failure.bytesRead = 0;
    return false;
}

} // namespace

const char* internalErrorText(PayloadField field) {
    switch (field) {
    case PayloadField::Int: return "Internal Error: readInt";
    case PayloadField::Long: return "Internal Error: readLong";
    case PayloadField::Short: return "Internal Error: readShort";
    case PayloadField::String: return "Internal Error: readString";
    case PayloadField::WString: return "Internal Error: readWString";
    }
    return "Internal Error";
}

bool readInt(ByteReader& in, int32_t& value, ReadFailure& failure) {
    return readExact(in, value, PayloadField::Int, failure);
}

bool readLong(ByteReader& in, int64_t& value, ReadFailure& failure) {
    return readExact(in, value, PayloadField::Long, failure);
}

bool readShort(ByteReader& in, int16_t& value, ReadFailure& failure) {
    return readExact(in, value, PayloadField::Short, failure);
}

bool readString(ByteReader& in, std::string& value, ReadFailure& failure) {
    int32_t length = 0;
    if (!readExact(in, length, PayloadField::String, failure))
        return false;
    if (length < 0 || !readBytes(in, length, value)) {
        failure = {PayloadField::String, in.lastError(), 0};
        return false;
    }
    return true;
}

bool readWString(ByteReader& in, std::u16string& value, ReadFailure& failure) {
    int32_t length = 0;
    std::string bytes;
    if (!readExact(in, length, PayloadField::WString, failure))
        return false;
    if (length < 0 || !readBytes(in, length, bytes)) {
        failure = {PayloadField::WString, in.lastError(), 0};
        return false;
    }
    // An odd trailing byte cannot form a code unit; it is read and dropped.
    value.resize(bytes.size() / 2);
    for (size_t i = 0; i < value.size(); ++i) {
        value[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    }
    return true;
}

bool seekToPayload(ByteReader& in, PayloadLocation& location, ReadFailure& failure) {
    int32_t peOffset = 0;
    int16_t sections = 0;
    int16_t optionalHeaderSize = 0;
    uint32_t rawDataSize = 0;
    uint32_t rawDataOffset = 0;

    if (!seekFor(in, 60, PayloadField::Int, failure) || !readInt(in, peOffset, failure))
        return false;
    if (!seekFor(in, static_cast<uint32_t>(peOffset) + 6ull, PayloadField::Short, failure) ||
        !readShort(in, sections, failure))
        return false;
    location.sectionCount = sections;
    if (!seekFor(in, static_cast<uint32_t>(peOffset) + 20ull, PayloadField::Short, failure) ||
        !readShort(in, optionalHeaderSize, failure))
        return false;
    location.optionalHeaderSize = optionalHeaderSize;

    // The SizeOfRawData field of the last section-table entry: the table starts at
    // peOffset + 24 + h, entries are 40 bytes and the field lies 16 bytes into one.
    int64_t sizeField = int64_t{static_cast<uint32_t>(peOffset)} + optionalHeaderSize +
                        40 * int64_t{sections};
    location.lastSectionEntry = sizeField - 16;
    if (!seekFor(in, static_cast<uint64_t>(sizeField), PayloadField::Int, failure) ||
        !readExact(in, rawDataSize, PayloadField::Int, failure))
        return false;
    location.rawDataSize = rawDataSize;
    if (!seekFor(in, static_cast<uint64_t>(sizeField) + 4, PayloadField::Int, failure) ||
        !readExact(in, rawDataOffset, PayloadField::Int, failure))
        return false;
    location.rawDataOffset = rawDataOffset;

    location.payloadStart = uint64_t{rawDataSize} + rawDataOffset;
    // The payload header's first field is read from there next.
    return seekFor(in, location.payloadStart, PayloadField::Int, failure);
}

bool readPayloadHeader(ByteReader& in, PayloadHeader& header, ReadFailure& failure) {
    return readExact(in, header.magic, PayloadField::Int, failure) &&
           readExact(in, header.checkFlag, PayloadField::Int, failure) &&
           readExact(in, header.checksum, PayloadField::Int, failure) &&
           readLong(in, header.coveredLength, failure);
}

bool readConfigMaps(ByteReader& in, ConfigRecord& record, ReadFailure& failure) {
    int32_t count = 0;
    if (!readInt(in, count, failure))
        return false;
    for (int32_t i = 0; i < count; ++i) {
        int32_t key = 0;
        std::string value;
        if (!readInt(in, key, failure) || !readString(in, value, failure))
            return false;
        record.narrow[key] = std::move(value);
    }
    if (!readInt(in, count, failure))
        return false;
    for (int32_t i = 0; i < count; ++i) {
        int32_t key = 0;
        std::u16string value;
        if (!readInt(in, key, failure) || !readWString(in, value, failure))
            return false;
        record.wide[key] = std::move(value);
    }
    return true;
}

bool languageBlockMatches(std::string_view prefix, std::string_view localeCode) {
    return prefix.size() <= localeCode.size() && localeCode.compare(0, prefix.size(), prefix) == 0;
}

bool applyLanguageBlocks(ByteReader& in, ConfigRecord& record, std::string_view localeCode,
                         ReadFailure& failure) {
    int32_t blocks = 0;
    if (!readInt(in, blocks, failure))
        return false;
    for (int32_t b = 0; b < blocks; ++b) {
        std::string prefix;
        int32_t entries = 0;
        if (!readString(in, prefix, failure) || !readInt(in, entries, failure))
            return false;
        bool matches = languageBlockMatches(prefix, localeCode);
        for (int32_t i = 0; i < entries; ++i) {
            int32_t key = 0;
            std::u16string value;
            if (!readInt(in, key, failure) || !readWString(in, value, failure))
                return false;
            if (matches)
                record.wide[key] = std::move(value);
        }
    }
    return true;
}

int32_t parseConfigInt(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        // Saturate like the C library's conversion instead of overflowing.
        value = std::min<int64_t>(value * 10 + (text[i] - '0'), int64_t{INT32_MAX} + 1);
    }
    if (negative)
        value = -value;
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

uint32_t parseConfigColor(std::string_view text) {
    uint32_t components[3] = {0, 0, 0};
    size_t found = 0;
    size_t start = 0;
    while (start < text.size() && found < 3) {
        size_t end = text.find(',', start);
        if (end == std::string_view::npos)
            end = text.size();
        if (end > start)
            components[found++] = static_cast<uint32_t>(parseConfigInt(text.substr(start, end - start))) & 0xFF;
        start = end + 1;
    }
    return components[0] | components[1] << 8 | components[2] << 16;
}
