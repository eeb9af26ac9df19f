// Version texts: the comparisons must form a total order, and the range tests and the
// readers of probe output and cache entries must hold on any text.

#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "portable/java_version.h"

namespace {

int sign(int value) { return (value > 0) - (value < 0); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input = fuzz::asText(data, size);
    auto texts = fuzz::pieces(input, 3);
    std::string_view a = texts[0], b = texts[1], c = texts[2];

    int ab = sign(compareVersions(a, b));
    FUZZ_CHECK(sign(compareVersions(a, a)) == 0);
    FUZZ_CHECK(sign(compareVersions(b, a)) == -ab);
    FUZZ_CHECK((ab == 0) == (a == b));
    int bc = sign(compareVersions(b, c));
    int ac = sign(compareVersions(a, c));
    if (ab <= 0 && bc <= 0)
        FUZZ_CHECK(ac <= 0);
    if (ab >= 0 && bc >= 0)
        FUZZ_CHECK(ac >= 0);

    // A bound compared with itself matches; an empty range holds everything.
    FUZZ_CHECK(compareVersionToBound(a, a) == 0);
    FUZZ_CHECK(isInVersionRange(a, "", ""));
    isInVersionRange(a, b, c);
    FUZZ_CHECK(isRegistryNameInRange("", b, c));
    isRegistryNameInRange(a, b, c);
    isPreReleaseVersion(a);
    isUsableCachedVersion(a);
    for (std::string_view component : versionComponents(a))
        FUZZ_CHECK(!component.empty());

    if (auto version = parseVersionOutput(input)) {
        FUZZ_CHECK(!version->empty());
        FUZZ_CHECK(version->size() < kVersionOutputLineLength);
        FUZZ_CHECK(version->find('"') == std::string::npos);
    }
    return 0;
}
