// Fuzz entry point for the payload readers: the PE walk, the payload header, both
// configuration maps and the language blocks, on arbitrary bytes, also through a file whose
// seeks can fail. Built by the host preset (see CMakeLists.txt here); run with `make fuzz`.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_support.h"
#include "portable/payload.h"

namespace {

// A file whose seeks fail as a bit mask says (one bit per seek, repeating); a failed seek
// leaves the position where it was, as a failed SetFilePointerEx does.
class FlakySeekReader final : public ByteReader {
public:
    FlakySeekReader(std::string_view bytes, uint8_t failMask) : inner_(bytes), mask_(failMask) {}

    bool seek(uint64_t offset) override {
        bool fails = (mask_ >> (seeks_++ % 8)) & 1;
        return !fails && inner_.seek(offset);
    }
    uint64_t position() const override { return inner_.position(); }
    size_t read(void* buffer, size_t size) override {
        size_t count = inner_.read(buffer, size);
        FUZZ_CHECK(count <= size);
        return count;
    }
    uint32_t lastError() const override { return 0; }

private:
    SpanReader inner_;
    uint8_t mask_;
    unsigned seeks_ = 0;
};

// The launcher's order of reads from the payload start on.
void readRecord(ByteReader& in, std::string_view localeCode) {
    ReadFailure failure;
    PayloadHeader header;
    ConfigRecord record;
    if (!readPayloadHeader(in, header, failure) || !readConfigMaps(in, record, failure))
        return;
    if (!applyLanguageBlocks(in, record, localeCode, failure))
        return;
    for (const auto& entry : record.narrow) {
        parseConfigInt(entry.second);
        parseConfigColor(entry.second);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static constexpr std::string_view kLocales[] = {"en", "de_AT", "no_NO_NY", "pt"};
    std::string_view bytes = fuzz::asText(data, size);
    std::string_view localeCode = size > 0 ? kLocales[data[0] % 4] : kLocales[0];

    // As a launcher image: the section table decides where the payload starts.
    SpanReader image(bytes);
    PayloadLocation location;
    ReadFailure failure;
    if (seekToPayload(image, location, failure))
        readRecord(image, localeCode);

    // As a bare payload, so mutations reach the record readers directly.
    SpanReader bare(bytes);
    readRecord(bare, localeCode);

    // As a launcher image on a file whose seeks fail now and then.
    if (size > 1 && data[1] != 0) {
        FlakySeekReader flaky(bytes, data[1]);
        PayloadLocation flakyLocation;
        if (seekToPayload(flaky, flakyLocation, failure))
            readRecord(flaky, localeCode);
    }
    return 0;
}
