#pragma once

// Small helpers shared by the fuzz targets: cutting one input into several texts, and
// property checks that end the run the way a sanitizer report does, so libFuzzer and the
// standalone driver both keep the input as a reproducer.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__,      \
                         #condition);                                                      \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

namespace fuzz {

inline std::string_view asText(const uint8_t* data, size_t size) {
    return std::string_view(reinterpret_cast<const char*>(data), size);
}

// The input cut at NUL bytes into exactly `count` pieces; missing pieces are empty, and the
// last piece keeps any further NULs.
inline std::vector<std::string_view> pieces(std::string_view input, size_t count) {
    std::vector<std::string_view> result;
    while (result.size() + 1 < count) {
        size_t nul = input.find('\0');
        if (nul == std::string_view::npos)
            break;
        result.push_back(input.substr(0, nul));
        input.remove_prefix(nul + 1);
    }
    result.push_back(input);
    result.resize(count);
    return result;
}

// Pairs of bytes as UTF-16 code units (little-endian), so wide parsers see every unit.
inline std::u16string asUtf16(std::string_view bytes) {
    std::u16string units;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        units.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                              static_cast<uint8_t>(bytes[i + 1]) << 8));
    return units;
}

} // namespace fuzz
