// Fuzz entry point for the payload readers: the PE walk, the payload header, both
// configuration maps and the language blocks, on arbitrary bytes.
//
// With libFuzzer (clang), from the repository root:
//   clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -Ilauncher
//       launcher/unit_tests/fuzz/payload_fuzz.cpp launcher/portable/payload.cpp -o payload_fuzz
//   (one command line)
//   ./payload_fuzz -max_total_time=30 CORPUS_DIR
// Without libFuzzer, standalone_main.cpp drives the same entry point (see there).

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "portable/payload.h"

namespace {

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
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
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
    return 0;
}
