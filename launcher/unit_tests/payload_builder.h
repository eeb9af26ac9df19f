#pragma once

// Test-only writers: payload bytes in the launcher's record layout and a minimal PE image
// that carries them behind its last section.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "portable/payload.h"

namespace payload_builder {

struct WideEntry {
    int32_t key;
    std::u16string value;
};

struct NarrowEntry {
    int32_t key;
    std::string value;
};

struct LanguageBlock {
    std::string prefix;
    std::vector<WideEntry> entries;
};

// Little-endian writer. Every byte remembers which primitive read consumes it, so a test
// can ask which read has to fail when the data ends after any number of bytes.
class PayloadWriter {
public:
    PayloadWriter& i16(int16_t value) { return put(static_cast<uint16_t>(value), 2, PayloadField::Short); }
    PayloadWriter& i32(int32_t value) { return put(static_cast<uint32_t>(value), 4, PayloadField::Int); }
    PayloadWriter& u32(uint32_t value) { return put(value, 4, PayloadField::Int); }
    PayloadWriter& i64(int64_t value) { return put(static_cast<uint64_t>(value), 8, PayloadField::Long); }

    PayloadWriter& str8(std::string_view text) {
        put(static_cast<uint32_t>(text.size()), 4, PayloadField::String);
        return raw(text, PayloadField::String);
    }

    PayloadWriter& str16(std::u16string_view text) {
        put(static_cast<uint32_t>(text.size() * 2), 4, PayloadField::WString);
        for (char16_t unit : text)
            put(unit, 2, PayloadField::WString);
        return *this;
    }

    // A string16 with an arbitrary declared length and body, for malformed values.
    PayloadWriter& str16Raw(int32_t length, std::string_view body) {
        put(static_cast<uint32_t>(length), 4, PayloadField::WString);
        return raw(body, PayloadField::WString);
    }

    PayloadWriter& raw(std::string_view bytes, PayloadField field) {
        bytes_.append(bytes);
        fields_.insert(fields_.end(), bytes.size(), field);
        return *this;
    }

    PayloadWriter& header(uint32_t magic = kPayloadMagic, uint32_t checkFlag = 0,
                          uint32_t checksum = 0, int64_t coveredLength = 0) {
        return u32(magic).u32(checkFlag).u32(checksum).i64(coveredLength);
    }

    PayloadWriter& narrowMap(const std::vector<NarrowEntry>& entries) {
        i32(static_cast<int32_t>(entries.size()));
        for (const NarrowEntry& entry : entries)
            i32(entry.key).str8(entry.value);
        return *this;
    }

    PayloadWriter& wideMap(const std::vector<WideEntry>& entries) {
        i32(static_cast<int32_t>(entries.size()));
        for (const WideEntry& entry : entries)
            i32(entry.key).str16(entry.value);
        return *this;
    }

    PayloadWriter& languageBlocks(const std::vector<LanguageBlock>& blocks) {
        i32(static_cast<int32_t>(blocks.size()));
        for (const LanguageBlock& block : blocks) {
            str8(block.prefix).i32(static_cast<int32_t>(block.entries.size()));
            for (const WideEntry& entry : block.entries)
                i32(entry.key).str16(entry.value);
        }
        return *this;
    }

    const std::string& bytes() const { return bytes_; }
    size_t size() const { return bytes_.size(); }

    // The read that fails when the data ends after `length` bytes (length < size()).
    PayloadField fieldAt(size_t length) const { return fields_.at(length); }

private:
    PayloadWriter& put(uint64_t value, size_t width, PayloadField field) {
        for (size_t i = 0; i < width; ++i)
            bytes_.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
        fields_.insert(fields_.end(), width, field);
        return *this;
    }

    std::string bytes_;
    std::vector<PayloadField> fields_;
};

struct SectionLayout {
    uint32_t rawOffset;
    uint32_t rawSize;
};

struct PeLayout {
    uint32_t peOffset = 0x80;
    uint16_t optionalHeaderSize = 0xF0;
    std::vector<SectionLayout> sections;
};

// Sections back to back from 0x400, each 0x200 bytes longer than the one before.
inline PeLayout contiguousLayout(int sectionCount, uint32_t peOffset = 0x80,
                                 uint16_t optionalHeaderSize = 0xF0) {
    PeLayout layout;
    layout.peOffset = peOffset;
    layout.optionalHeaderSize = optionalHeaderSize;
    uint32_t offset = 0x400;
    for (int i = 0; i < sectionCount; ++i) {
        uint32_t size = 0x200 * (i + 1);
        layout.sections.push_back({offset, size});
        offset += size;
    }
    return layout;
}

struct PeImage {
    std::string bytes;
    uint64_t lastEntryOffset = 0; // start of the last section-table entry
    uint64_t payloadStart = 0;    // end of the last entry's raw data
};

// Writes the DOS header's PE pointer, the COFF header, an optional header of the given
// size and the section table at their real PE positions, fills each section's raw data,
// and puts `payload` right behind the raw data of the last table entry.
inline PeImage buildPeImage(const PeLayout& layout, std::string_view payload) {
    auto put = [](std::string& image, uint64_t at, uint64_t value, size_t width) {
        if (image.size() < at + width)
            image.resize(at + width, '\0');
        for (size_t i = 0; i < width; ++i)
            image[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    std::string image(0x40, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    put(image, 0x3C, layout.peOffset, 4);
    put(image, layout.peOffset, 0x00004550, 4); // "PE\0\0"
    put(image, layout.peOffset + 4, 0x8664, 2);
    put(image, layout.peOffset + 6, layout.sections.size(), 2);
    put(image, layout.peOffset + 20, layout.optionalHeaderSize, 2);
    if (layout.optionalHeaderSize >= 2)
        put(image, layout.peOffset + 24, 0x20B, 2);
    uint64_t table = uint64_t{layout.peOffset} + 24 + layout.optionalHeaderSize;
    image.resize(std::max<size_t>(image.size(), table + 40 * layout.sections.size()), '\0');

    PeImage result;
    for (size_t i = 0; i < layout.sections.size(); ++i) {
        const SectionLayout& section = layout.sections[i];
        uint64_t entry = table + 40 * i;
        image.replace(entry, 8, std::string(".sec") + char('0' + i) + std::string(3, '\0'));
        put(image, entry + 8, section.rawSize, 4);  // VirtualSize
        put(image, entry + 12, 0x1000 * (i + 1), 4); // VirtualAddress
        put(image, entry + 16, section.rawSize, 4);  // SizeOfRawData
        put(image, entry + 20, section.rawOffset, 4); // PointerToRawData
        if (image.size() < uint64_t{section.rawOffset} + section.rawSize)
            image.resize(uint64_t{section.rawOffset} + section.rawSize, '\0');
        std::fill_n(image.begin() + section.rawOffset, section.rawSize, static_cast<char>(0x10 + i));
        result.lastEntryOffset = entry;
        result.payloadStart = uint64_t{section.rawOffset} + section.rawSize;
    }
    if (image.size() < result.payloadStart + payload.size())
        image.resize(result.payloadStart + payload.size(), '\0');
    image.replace(result.payloadStart, payload.size(), payload);
    result.bytes = std::move(image);
    return result;
}

} // namespace payload_builder
