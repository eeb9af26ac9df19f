#include "portable/payload.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "payload_builder.h"

using namespace payload_builder;
using namespace std::string_literals;

namespace {

using WideMap = std::map<int32_t, std::u16string>;
using NarrowMap = std::map<int32_t, std::string>;

// Passes reads through to a span and remembers the largest single request, so a test can
// see that a corrupt length does not turn into one giant read or allocation.
class RecordingReader final : public ByteReader {
public:
    explicit RecordingReader(std::string_view bytes) : inner_(bytes) {}
    bool seek(uint64_t offset) override { return inner_.seek(offset); }
    uint64_t position() const override { return inner_.position(); }
    size_t read(void* buffer, size_t size) override {
        largestRequest = std::max(largestRequest, size);
        return inner_.read(buffer, size);
    }
    uint32_t lastError() const override { return inner_.lastError(); }

    size_t largestRequest = 0;

private:
    SpanReader inner_;
};

// Serves `good` bytes, then fails every read with a system error code.
class FailingReader final : public ByteReader {
public:
    FailingReader(std::string_view good, uint32_t error) : inner_(good), error_(error) {}
    bool seek(uint64_t offset) override { return inner_.seek(offset); }
    uint64_t position() const override { return inner_.position(); }
    size_t read(void* buffer, size_t size) override {
        size_t count = inner_.read(buffer, size);
        failed_ = count == 0;
        return count;
    }
    uint32_t lastError() const override { return failed_ ? error_ : 0; }

private:
    SpanReader inner_;
    uint32_t error_;
    bool failed_ = false;
};

const char* fieldName(PayloadField field) { return internalErrorText(field); }

// ---------------------------------------------------------------------------------------
// Primitive reads

TEST(PrimitiveRead, DecodesLittleEndianSignedValues) {
    std::string bytes = "\xD5\x13\xE4\xE8"s        // magic as i32
                        "\xFE\xFF\xFF\xFF"s        // -2
                        "\xFF\xFF"s                // -1 as i16
                        "\x01\0\0\0\0\0\0\x80"s;   // INT64_MIN + 1
    SpanReader in(bytes);
    ReadFailure failure;
    int32_t i = 0;
    int16_t s = 0;
    int64_t l = 0;
    ASSERT_TRUE(readInt(in, i, failure));
    EXPECT_EQ(static_cast<uint32_t>(i), kPayloadMagic);
    ASSERT_TRUE(readInt(in, i, failure));
    EXPECT_EQ(i, -2);
    ASSERT_TRUE(readShort(in, s, failure));
    EXPECT_EQ(s, -1);
    ASSERT_TRUE(readLong(in, l, failure));
    EXPECT_EQ(l, INT64_MIN + 1);
    EXPECT_EQ(in.position(), bytes.size());
}

struct ShortReadCase {
    const char* name;
    std::function<bool(ByteReader&, ReadFailure&)> read;
    std::string available;
    PayloadField field;
    uint32_t bytesRead;
};

TEST(PrimitiveRead, ShortInputFailsWithItsFieldAndByteCount) {
    auto readI = [](ByteReader& in, ReadFailure& f) { int32_t v; return readInt(in, v, f); };
    auto readS = [](ByteReader& in, ReadFailure& f) { int16_t v; return readShort(in, v, f); };
    auto readL = [](ByteReader& in, ReadFailure& f) { int64_t v; return readLong(in, v, f); };
    auto readStr = [](ByteReader& in, ReadFailure& f) { std::string v; return readString(in, v, f); };
    auto readW = [](ByteReader& in, ReadFailure& f) { std::u16string v; return readWString(in, v, f); };
    const ShortReadCase cases[] = {
        {"int from nothing", readI, "", PayloadField::Int, 0},
        {"int from 3 bytes", readI, "\1\2\3", PayloadField::Int, 3},
        {"short from 1 byte", readS, "\1", PayloadField::Short, 1},
        {"long from 7 bytes", readL, "1234567", PayloadField::Long, 7},
        {"long from 4 bytes", readL, "1234", PayloadField::Long, 4},
        {"string length cut", readStr, "\3\0"s, PayloadField::String, 2},
        {"string body cut", readStr, "\3\0\0\0ab"s, PayloadField::String, 0},
        {"wide string length cut", readW, "\4"s, PayloadField::WString, 1},
        {"wide string body cut", readW, "\4\0\0\0a\0b"s, PayloadField::WString, 0},
    };
    for (const ShortReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        SpanReader in(c.available);
        ReadFailure failure;
        failure.field = PayloadField::Long; // anything the read must overwrite
        failure.bytesRead = 99;
        EXPECT_FALSE(c.read(in, failure));
        EXPECT_EQ(fieldName(failure.field), fieldName(c.field));
        EXPECT_EQ(failure.bytesRead, c.bytesRead);
    }
}

TEST(PrimitiveRead, FailureCarriesTheSystemErrorCode) {
    ReadFailure failure;
    {
        FailingReader in("", 38);
        int32_t value = 0;
        EXPECT_FALSE(readInt(in, value, failure));
        EXPECT_EQ(failure.systemError, 38u);
    }
    {
        const std::string lengthOnly = "\5\0\0\0"s;
        FailingReader in(lengthOnly, 23);
        std::string value;
        EXPECT_FALSE(readString(in, value, failure));
        EXPECT_EQ(failure.field, PayloadField::String);
        EXPECT_EQ(failure.systemError, 23u);
    }
}

TEST(PrimitiveRead, InternalErrorTextNamesThePrimitive) {
    const std::pair<PayloadField, const char*> cases[] = {
        {PayloadField::Int, "Internal Error: readInt"},
        {PayloadField::Long, "Internal Error: readLong"},
        {PayloadField::Short, "Internal Error: readShort"},
        {PayloadField::String, "Internal Error: readString"},
        {PayloadField::WString, "Internal Error: readWString"},
    };
    for (const auto& [field, text] : cases)
        EXPECT_STREQ(internalErrorText(field), text);
}

TEST(StringRead, NarrowBytesAndWideUnitsArriveUnchanged) {
    PayloadWriter w;
    w.str8("\xE4\xF6 ok").str8("").str16(u"A\u00E4\u20AC\U0001F600").str16(u"");
    SpanReader in(w.bytes());
    ReadFailure failure;
    std::string narrow = "stale";
    std::u16string wide = u"stale";
    ASSERT_TRUE(readString(in, narrow, failure));
    EXPECT_EQ(narrow, "\xE4\xF6 ok");
    ASSERT_TRUE(readString(in, narrow, failure));
    EXPECT_EQ(narrow, "");
    ASSERT_TRUE(readWString(in, wide, failure));
    EXPECT_EQ(wide, u"A\u00E4\u20AC\U0001F600");
    ASSERT_TRUE(readWString(in, wide, failure));
    EXPECT_EQ(wide, u"");
    EXPECT_EQ(in.position(), w.size());
}

struct BadLengthCase {
    const char* name;
    int32_t length;
};

void PrintTo(const BadLengthCase& c, std::ostream* os) { *os << c.length; }

class StringBadLength : public ::testing::TestWithParam<BadLengthCase> {};

// A negative or oversized length is a failed read of that string, and the reader is never
// asked for anything near the declared length.
TEST_P(StringBadLength, FailsWithTheStringsFieldWithoutAHugeRead) {
    PayloadWriter w;
    w.i32(GetParam().length).raw(std::string(100, 'x'), PayloadField::String);
    ReadFailure failure;
    {
        RecordingReader in(w.bytes());
        std::string value;
        EXPECT_FALSE(readString(in, value, failure));
        EXPECT_EQ(failure.field, PayloadField::String);
        EXPECT_LE(in.largestRequest, 1u << 20);
    }
    {
        RecordingReader in(w.bytes());
        std::u16string value;
        EXPECT_FALSE(readWString(in, value, failure));
        EXPECT_EQ(failure.field, PayloadField::WString);
        EXPECT_LE(in.largestRequest, 1u << 20);
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, StringBadLength,
                         ::testing::Values(BadLengthCase{"minus_one", -1},
                                           BadLengthCase{"int_min", INT32_MIN},
                                           BadLengthCase{"one_too_many", 101},
                                           BadLengthCase{"int_max", INT32_MAX}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StringRead, OddWideLengthDropsTheLoneByteButConsumesIt) {
    PayloadWriter w;
    w.str16Raw(3, "a\0b"s).i32(7);
    SpanReader in(w.bytes());
    ReadFailure failure;
    std::u16string value;
    ASSERT_TRUE(readWString(in, value, failure));
    EXPECT_EQ(value, u"a");
    int32_t next = 0;
    ASSERT_TRUE(readInt(in, next, failure));
    EXPECT_EQ(next, 7);
}

// ---------------------------------------------------------------------------------------
// Finding the payload

struct LayoutCase {
    const char* name;
    PeLayout layout;
};

void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

class SeekToPayloadLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(SeekToPayloadLayout, StopsBehindTheLastSectionsRawData) {
    const PeLayout& layout = GetParam().layout;
    PayloadWriter payload;
    payload.header(kPayloadMagic, 1, 0x12345678, 99);
    PeImage image = buildPeImage(layout, payload.bytes());
    const SectionLayout& last = layout.sections.back();

    SpanReader in(image.bytes);
    PayloadLocation location;
    ReadFailure failure;
    ASSERT_TRUE(seekToPayload(in, location, failure));
    EXPECT_EQ(location.sectionCount, static_cast<int16_t>(layout.sections.size()));
    EXPECT_EQ(location.optionalHeaderSize, static_cast<int16_t>(layout.optionalHeaderSize));
    EXPECT_EQ(location.lastSectionEntry, static_cast<int64_t>(image.lastEntryOffset));
    EXPECT_EQ(location.rawDataSize, last.rawSize);
    EXPECT_EQ(location.rawDataOffset, last.rawOffset);
    EXPECT_EQ(location.payloadStart, uint64_t{last.rawOffset} + last.rawSize);
    EXPECT_EQ(in.position(), location.payloadStart);

    PayloadHeader header;
    ASSERT_TRUE(readPayloadHeader(in, header, failure));
    EXPECT_EQ(header.magic, kPayloadMagic);
    EXPECT_EQ(header.checksum, 0x12345678u);
}

INSTANTIATE_TEST_SUITE_P(
    Images, SeekToPayloadLayout,
    ::testing::Values(
        LayoutCase{"one_section", contiguousLayout(1)},
        LayoutCase{"three_sections", contiguousLayout(3)},
        LayoutCase{"pe32_header_further_out", contiguousLayout(3, 0x100, 0xE0)},
        LayoutCase{"no_optional_header", contiguousLayout(2, 0x40, 0)},
        // The last table entry decides even when an earlier section lies further out.
        LayoutCase{"last_entry_not_furthest",
                   PeLayout{0x80, 0xF0, {{0x400, 0x200}, {0x800, 0x400}, {0x600, 0x200}}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct TruncatedImageCase {
    const char* name;
    enum Anchor { FileStart, PeHeader, LastEntry } anchor;
    int64_t delta;
    PayloadField field;
    uint32_t bytesRead;
    int fieldsFilled; // sectionCount, optionalHeaderSize, rawDataSize, rawDataOffset
};

TEST(SeekToPayload, TruncatedImageFailsAtTheFieldItWasReading) {
    const PeLayout layout = contiguousLayout(3);
    const PeImage image = buildPeImage(layout, "");
    const TruncatedImageCase cases[] = {
        {"empty file", TruncatedImageCase::FileStart, 0, PayloadField::Int, 0, 0},
        {"before the PE pointer", TruncatedImageCase::FileStart, 60, PayloadField::Int, 0, 0},
        {"inside the PE pointer", TruncatedImageCase::FileStart, 62, PayloadField::Int, 2, 0},
        {"before the section count", TruncatedImageCase::PeHeader, 6, PayloadField::Short, 0, 0},
        {"inside the section count", TruncatedImageCase::PeHeader, 7, PayloadField::Short, 1, 0},
        {"before the optional header size", TruncatedImageCase::PeHeader, 20, PayloadField::Short, 0, 1},
        {"inside the optional header size", TruncatedImageCase::PeHeader, 21, PayloadField::Short, 1, 1},
        {"before SizeOfRawData", TruncatedImageCase::LastEntry, 16, PayloadField::Int, 0, 2},
        {"inside SizeOfRawData", TruncatedImageCase::LastEntry, 19, PayloadField::Int, 3, 2},
        {"before PointerToRawData", TruncatedImageCase::LastEntry, 20, PayloadField::Int, 0, 3},
        {"inside PointerToRawData", TruncatedImageCase::LastEntry, 22, PayloadField::Int, 2, 3},
    };
    for (const TruncatedImageCase& c : cases) {
        SCOPED_TRACE(c.name);
        uint64_t anchor = c.anchor == TruncatedImageCase::FileStart ? 0
                          : c.anchor == TruncatedImageCase::PeHeader ? layout.peOffset
                                                                     : image.lastEntryOffset;
        SpanReader in(std::string_view(image.bytes).substr(0, anchor + c.delta));
        PayloadLocation location;
        ReadFailure failure;
        ASSERT_FALSE(seekToPayload(in, location, failure));
        EXPECT_EQ(fieldName(failure.field), fieldName(c.field));
        EXPECT_EQ(failure.bytesRead, c.bytesRead);
        EXPECT_EQ(location.sectionCount.has_value(), c.fieldsFilled >= 1);
        EXPECT_EQ(location.optionalHeaderSize.has_value(), c.fieldsFilled >= 2);
        EXPECT_EQ(location.rawDataSize.has_value(), c.fieldsFilled >= 3);
        EXPECT_FALSE(location.rawDataOffset.has_value());
    }
    // The section table complete, nothing behind it: the walk itself still succeeds.
    SpanReader in(std::string_view(image.bytes).substr(0, image.lastEntryOffset + 24));
    PayloadLocation location;
    ReadFailure failure;
    EXPECT_TRUE(seekToPayload(in, location, failure));
    EXPECT_EQ(location.payloadStart, image.payloadStart);
}

// A reader whose seek number `failing` (counted from 0) fails with a system error.
class SeekFailingReader final : public ByteReader {
public:
    SeekFailingReader(std::string_view bytes, int failing) : inner_(bytes), failing_(failing) {}
    bool seek(uint64_t offset) override {
        if (seeks_++ == failing_)
            return false;
        return inner_.seek(offset);
    }
    uint64_t position() const override { return inner_.position(); }
    size_t read(void* buffer, size_t size) override { return inner_.read(buffer, size); }
    uint32_t lastError() const override { return kNegativeSeek; }
    static constexpr uint32_t kNegativeSeek = 131;

private:
    SpanReader inner_;
    int failing_;
    int seeks_ = 0;
};

TEST(SeekToPayload, EveryFailedSeekStopsTheWalk) {
    // The field of the read each seek prepares: PE offset, section count, optional header
    // size, raw data size, raw data offset, payload magic.
    const PayloadField following[] = {PayloadField::Int,   PayloadField::Short,
                                      PayloadField::Short, PayloadField::Int,
                                      PayloadField::Int,   PayloadField::Int};
    PeImage image = buildPeImage(contiguousLayout(2), "payload");
    for (int failing = 0; failing < 6; ++failing) {
        SCOPED_TRACE(failing);
        SeekFailingReader in(image.bytes, failing);
        PayloadLocation location;
        ReadFailure failure;
        EXPECT_FALSE(seekToPayload(in, location, failure));
        EXPECT_EQ(fieldName(failure.field), fieldName(following[failing]));
        EXPECT_EQ(failure.systemError, SeekFailingReader::kNegativeSeek);
        EXPECT_EQ(failure.bytesRead, 0u);
        EXPECT_EQ(location.rawDataOffset.has_value(), failing == 5);
    }
    SeekFailingReader untouched(image.bytes, 6);
    PayloadLocation location;
    ReadFailure failure;
    EXPECT_TRUE(seekToPayload(untouched, location, failure));
    EXPECT_EQ(location.payloadStart, image.payloadStart);
}

TEST(SeekToPayload, ImageWithoutPayloadFailsOnTheMagic) {
    PeImage image = buildPeImage(contiguousLayout(2), "");
    SpanReader in(image.bytes);
    PayloadLocation location;
    ReadFailure failure;
    ASSERT_TRUE(seekToPayload(in, location, failure));
    PayloadHeader header;
    EXPECT_FALSE(readPayloadHeader(in, header, failure));
    EXPECT_EQ(failure.field, PayloadField::Int);
    EXPECT_EQ(failure.bytesRead, 0u);
}

// Garbage header values must end in a failed read, not in a crash or a wild access.
TEST(SeekToPayload, HostileHeaderValuesFailCleanly) {
    struct Case {
        const char* name;
        uint64_t at;
        uint64_t value;
        size_t width;
        PayloadField field;
    };
    const Case cases[] = {
        {"PE pointer negative", 0x3C, 0xFFFFFFF0, 4, PayloadField::Short},
        {"PE pointer past the end", 0x3C, 0x7FFFFFFF, 4, PayloadField::Short},
        {"section count huge", 0x80 + 6, 0x7FFF, 2, PayloadField::Int},
        {"optional header size negative", 0x80 + 20, 0x8000, 2, PayloadField::Int},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes = buildPeImage(contiguousLayout(1), "").bytes;
        for (size_t i = 0; i < c.width; ++i)
            bytes[c.at + i] = static_cast<char>((c.value >> (8 * i)) & 0xFF);
        SpanReader in(bytes);
        PayloadLocation location;
        ReadFailure failure;
        EXPECT_FALSE(seekToPayload(in, location, failure));
        EXPECT_EQ(fieldName(failure.field), fieldName(c.field));
    }
}

// ---------------------------------------------------------------------------------------
// Header and configuration record

TEST(PayloadHeader, ReadsAllFieldsAndFailsWhereTheBytesEnd) {
    PayloadWriter w;
    w.header(kPayloadMagic, 1, 0xCAFEBABE, 0x100000001LL);
    ASSERT_EQ(w.size(), kPayloadHeaderSize);
    {
        SpanReader in(w.bytes());
        PayloadHeader header;
        ReadFailure failure;
        ASSERT_TRUE(readPayloadHeader(in, header, failure));
        EXPECT_EQ(header.magic, kPayloadMagic);
        EXPECT_EQ(header.checkFlag, 1u);
        EXPECT_EQ(header.checksum, 0xCAFEBABEu);
        EXPECT_EQ(header.coveredLength, 0x100000001LL);
    }
    for (size_t cut = 0; cut < w.size(); ++cut) {
        SCOPED_TRACE("cut after " + std::to_string(cut) + " bytes");
        SpanReader in(std::string_view(w.bytes()).substr(0, cut));
        PayloadHeader header;
        ReadFailure failure;
        EXPECT_FALSE(readPayloadHeader(in, header, failure));
        EXPECT_EQ(fieldName(failure.field), fieldName(w.fieldAt(cut)));
    }
}

TEST(ConfigMaps, ReadsBothMapsAndALaterDuplicateWins) {
    PayloadWriter w;
    w.narrowMap({{107, "1"}, {5, "first"}, {-3, "negative key"}, {5, "second"}})
        .wideMap({{1000, u"Caption"}, {1000, u"Later caption"}, {20001, u"\u00DCber"}})
        .i32(0x5A5A);
    SpanReader in(w.bytes());
    ConfigRecord record;
    ReadFailure failure;
    ASSERT_TRUE(readConfigMaps(in, record, failure));
    EXPECT_EQ(record.narrow, (NarrowMap{{-3, "negative key"}, {5, "second"}, {107, "1"}}));
    EXPECT_EQ(record.wide, (WideMap{{1000, u"Later caption"}, {20001, u"\u00DCber"}}));
    int32_t next = 0;
    ASSERT_TRUE(readInt(in, next, failure));
    EXPECT_EQ(next, 0x5A5A);
}

TEST(ConfigMaps, CountsOfZeroOrLessReadNoEntries) {
    const std::pair<int32_t, int32_t> counts[] = {{0, 0}, {-1, 0}, {0, -5}, {INT32_MIN, -1}};
    for (const auto& [narrowCount, wideCount] : counts) {
        SCOPED_TRACE(std::to_string(narrowCount) + " / " + std::to_string(wideCount));
        PayloadWriter w;
        w.i32(narrowCount).i32(wideCount).i32(0x5A5A);
        SpanReader in(w.bytes());
        ConfigRecord record;
        ReadFailure failure;
        ASSERT_TRUE(readConfigMaps(in, record, failure));
        EXPECT_TRUE(record.narrow.empty());
        EXPECT_TRUE(record.wide.empty());
        EXPECT_EQ(in.position(), 8u);
    }
}

// Cutting a whole record after every possible byte fails with the field being read there.
TEST(ConfigRecordRead, EveryTruncationFailsWithTheFieldBeingRead) {
    PayloadWriter w;
    w.narrowMap({{1, "abc"}, {2, ""}})
        .wideMap({{3, u"xy"}})
        .languageBlocks({{"de", {{3, u"de"}}}, {"fr", {{4, u"fr"}, {5, u""}}}});
    for (size_t cut = 0; cut < w.size(); ++cut) {
        SCOPED_TRACE("cut after " + std::to_string(cut) + " bytes");
        SpanReader in(std::string_view(w.bytes()).substr(0, cut));
        ConfigRecord record;
        ReadFailure failure;
        bool ok = readConfigMaps(in, record, failure) &&
                  applyLanguageBlocks(in, record, "de_DE", failure);
        EXPECT_FALSE(ok);
        EXPECT_EQ(fieldName(failure.field), fieldName(w.fieldAt(cut)));
    }
}

TEST(LanguageBlockMatches, PrefixOfTheLocaleCode) {
    struct Case {
        const char* prefix;
        const char* locale;
        bool matches;
    };
    const Case cases[] = {
        {"", "en", true},
        {"", "no_NO_NY", true},
        {"de", "de_AT", true},
        {"de_AT", "de_AT", true},
        {"de_AT", "de", false},         // longer than the code
        {"pt_BR", "pt", false},
        {"pt", "pt_BR", true},
        {"DE", "de_DE", false},         // case-sensitive
        {"no_NO", "no_NO_NY", true},
        {"no_NO_NY_X", "no_NO_NY", false},
        {"d", "de", true},
        {"e", "de", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.prefix) + " / " + c.locale);
        EXPECT_EQ(languageBlockMatches(c.prefix, c.locale), c.matches);
    }
}

struct LanguageBlockCase {
    const char* name;
    const char* locale;
    std::vector<LanguageBlock> blocks;
    WideMap expected;
};

void PrintTo(const LanguageBlockCase& c, std::ostream* os) { *os << c.name; }

class ApplyLanguageBlocks : public ::testing::TestWithParam<LanguageBlockCase> {};

TEST_P(ApplyLanguageBlocks, MatchingBlocksOverrideInFileOrder) {
    const LanguageBlockCase& c = GetParam();
    const NarrowMap narrow = {{1, "narrow one"}, {7, "narrow seven"}};
    const WideMap wide = {{1, u"base one"}, {2, u"base two"}};
    PayloadWriter w;
    w.languageBlocks(c.blocks).i32(0x5A5A);
    SpanReader in(w.bytes());
    ConfigRecord record;
    record.narrow = narrow;
    record.wide = wide;
    ReadFailure failure;
    ASSERT_TRUE(applyLanguageBlocks(in, record, c.locale, failure));
    EXPECT_EQ(record.wide, c.expected);
    EXPECT_EQ(record.narrow, narrow);
    // Entries of blocks that did not match are consumed too.
    int32_t next = 0;
    ASSERT_TRUE(readInt(in, next, failure));
    EXPECT_EQ(next, 0x5A5A);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ApplyLanguageBlocks,
    ::testing::Values(
        LanguageBlockCase{"no_blocks", "de_AT", {}, {{1, u"base one"}, {2, u"base two"}}},
        LanguageBlockCase{"general_then_specific",
                          "de_AT",
                          {{"de", {{1, u"de"}, {2, u"de two"}}}, {"de_AT", {{1, u"at"}}}},
                          {{1, u"at"}, {2, u"de two"}}},
        LanguageBlockCase{"specific_then_general",
                          "de_AT",
                          {{"de_AT", {{1, u"at"}}}, {"de", {{1, u"de"}}}},
                          {{1, u"de"}, {2, u"base two"}}},
        LanguageBlockCase{"empty_prefix_matches_every_locale",
                          "no_NO_NY",
                          {{"", {{2, u"all"}}}},
                          {{1, u"base one"}, {2, u"all"}}},
        LanguageBlockCase{"longer_prefix_never_matches",
                          "pt",
                          {{"pt_BR", {{1, u"br"}}}},
                          {{1, u"base one"}, {2, u"base two"}}},
        LanguageBlockCase{"skipped_block_then_matching_one",
                          "pt",
                          {{"pt_BR", {{1, u"br"}, {2, u"br two"}}}, {"pt", {{2, u"pt"}}}},
                          {{1, u"base one"}, {2, u"pt"}}},
        LanguageBlockCase{"block_adds_a_new_key",
                          "fr_CA",
                          {{"fr", {{20001, u"nouveau"}}}},
                          {{1, u"base one"}, {2, u"base two"}, {20001, u"nouveau"}}},
        LanguageBlockCase{"duplicate_key_in_a_block",
                          "ja_JP",
                          {{"ja", {{1, u"first"}, {1, u"\u65E5\u672C"}}}},
                          {{1, u"\u65E5\u672C"}, {2, u"base two"}}},
        LanguageBlockCase{"empty_value_replaces",
                          "en",
                          {{"en", {{1, u""}}}},
                          {{1, u""}, {2, u"base two"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ApplyLanguageBlocksCounts, NegativeCountsReadNothing) {
    {
        PayloadWriter w;
        w.i32(-1).i32(0x5A5A);
        SpanReader in(w.bytes());
        ConfigRecord record;
        ReadFailure failure;
        ASSERT_TRUE(applyLanguageBlocks(in, record, "en", failure));
        EXPECT_EQ(in.position(), 4u);
    }
    {
        // A block with a negative entry count carries no entries; the next block follows.
        PayloadWriter w;
        w.i32(2).str8("en").i32(-7).str8("en").i32(1).i32(9).str16(u"nine");
        SpanReader in(w.bytes());
        ConfigRecord record;
        ReadFailure failure;
        ASSERT_TRUE(applyLanguageBlocks(in, record, "en_GB", failure));
        EXPECT_EQ(record.wide, (WideMap{{9, u"nine"}}));
        EXPECT_EQ(in.position(), w.size());
    }
}

// The whole road: a launcher image with three sections, the payload behind it, and the
// included-files area right after the record.
TEST(PayloadRoundTrip, ImageToRecordEndsAtTheIncludedFiles) {
    PayloadWriter payload;
    payload.header(kPayloadMagic, 0, 0, 0)
        .narrowMap({{2002, "1"}, {2003, "a.txt"}})
        .wideMap({{1000, u"Error"}, {1001, u"Cannot start {0}"}})
        .languageBlocks({{"de", {{1001, u"Kann {0} nicht starten"}}}, {"fr", {{1001, u"x"}}}});
    const size_t recordEnd = payload.size();
    payload.i64(3).raw("\xC6\xC5\xC4", PayloadField::Int);
    PeImage image = buildPeImage(contiguousLayout(3), payload.bytes());

    SpanReader in(image.bytes);
    PayloadLocation location;
    PayloadHeader header;
    ConfigRecord record;
    ReadFailure failure;
    ASSERT_TRUE(seekToPayload(in, location, failure));
    ASSERT_TRUE(readPayloadHeader(in, header, failure));
    EXPECT_EQ(header.magic, kPayloadMagic);
    ASSERT_TRUE(readConfigMaps(in, record, failure));
    ASSERT_TRUE(applyLanguageBlocks(in, record, "de_CH", failure));
    EXPECT_EQ(in.position(), image.payloadStart + recordEnd);
    EXPECT_EQ(record.narrow.at(2003), "a.txt");
    EXPECT_EQ(record.wide.at(1001), u"Kann {0} nicht starten");
    EXPECT_EQ(record.wide.at(1000), u"Error");
}

// ---------------------------------------------------------------------------------------
// Value forms

TEST(ParseConfigInt, LeadingBlanksSignAndDigitsUpToTheFirstNonDigit) {
    const std::pair<const char*, int32_t> cases[] = {
        {"12abc", 12},
        {" -3", -3},
        {"\t\n 42", 42},
        {"abc", 0},
        {"", 0},
        {"+7", 7},
        {"-", 0},
        {"- 3", 0},
        {"--3", 0},
        {"3 4", 3},
        {"007", 7},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"2147483648", INT32_MAX},
        {"99999999999999999999999", INT32_MAX},
        {"-99999999999999999999999", INT32_MIN},
    };
    for (const auto& [text, value] : cases) {
        SCOPED_TRACE(std::string("\"") + text + "\"");
        EXPECT_EQ(parseConfigInt(text), value);
    }
}

TEST(ParseConfigColor, RedGreenBlueEachModulo256) {
    const std::pair<const char*, uint32_t> cases[] = {
        {"255,128,0", 0x0080FF},
        {"256,0,0", 0},
        {"300,0,0", 44},
        {"10,20", 0x00140A},
        {"1,,2", 0x000201},         // consecutive commas are one separator
        {",5,6", 0x000605},
        {"1,2,3,", 0x030201},
        {"1,2,3,4", 0x030201},
        {" 1, 2, 3", 0x030201},
        {"-1,0,0", 0x0000FF},       // the low byte of -1
        {"0,-256,0", 0},
        {"0,0,-2", 0xFE0000},
        {"abc,7,7", 0x070700},      // a component without digits is 0 but still counts
        {"", 0},
        {",,,", 0},
        {"17", 0x000011},
    };
    for (const auto& [text, color] : cases) {
        SCOPED_TRACE(std::string("\"") + text + "\"");
        EXPECT_EQ(parseConfigColor(text), color);
    }
}

} // namespace
