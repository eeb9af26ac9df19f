#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "portable/byte_reader.h"

constexpr uint32_t kPayloadMagic = 0xE8E413D5;
constexpr uint8_t kIncludedFileXor = 0xA7;

// What a failed primitive read was reading; it decides the fatal message.
enum class PayloadField { Int, Long, Short, String, WString };

struct ReadFailure {
    PayloadField field = PayloadField::Int;
    uint32_t systemError = 0;
    uint32_t bytesRead = 0;
};

const char* internalErrorText(PayloadField field);

// Primitive reads: each reads exactly its size or fails.
bool readInt(ByteReader& in, int32_t& value, ReadFailure& failure);
bool readLong(ByteReader& in, int64_t& value, ReadFailure& failure);
bool readShort(ByteReader& in, int16_t& value, ReadFailure& failure);
bool readString(ByteReader& in, std::string& value, ReadFailure& failure);
bool readWString(ByteReader& in, std::u16string& value, ReadFailure& failure);

// The walk from the DOS header to the end of the last section's raw data. Fields are
// filled as they are read, so a caller can trace how far the walk got before a failure.
struct PayloadLocation {
    std::optional<int16_t> sectionCount;
    std::optional<int16_t> optionalHeaderSize;
    int64_t lastSectionEntry = 0;
    std::optional<uint32_t> rawDataSize;
    std::optional<uint32_t> rawDataOffset;
    uint64_t payloadStart = 0;
};

// Positions `in` at the payload start.
bool seekToPayload(ByteReader& in, PayloadLocation& location, ReadFailure& failure);

struct PayloadHeader {
    uint32_t magic = 0;
    uint32_t checkFlag = 0;
    uint32_t checksum = 0;
    int64_t coveredLength = 0;
};

constexpr uint32_t kPayloadHeaderSize = 20;

bool readPayloadHeader(ByteReader& in, PayloadHeader& header, ReadFailure& failure);

struct ConfigRecord {
    std::map<int32_t, std::string> narrow;
    std::map<int32_t, std::u16string> wide;
    uint32_t includedFilesStart = 0;
    uint32_t includedFilesEnd = 0;
};

// Reads the narrow and the wide map, the part of the record before the language blocks.
bool readConfigMaps(ByteReader& in, ConfigRecord& record, ReadFailure& failure);

// True when a language block with `prefix` applies to `localeCode`.
bool languageBlockMatches(std::string_view prefix, std::string_view localeCode);

// Reads the language blocks; the entries of matching blocks replace or add wide values.
bool applyLanguageBlocks(ByteReader& in, ConfigRecord& record, std::string_view localeCode,
                         ReadFailure& failure);

// Value forms of configuration keys.
int32_t parseConfigInt(std::string_view text);
uint32_t parseConfigColor(std::string_view text);
