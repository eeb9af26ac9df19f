// Variable expansion with fuzzed values and environment: the text never grows past its
// buffer, whatever references the values themselves hold.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "portable/expansion.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    size_t bufferSize = 1 + data[0] % 128;
    auto texts = fuzz::pieces(fuzz::asText(data + 1, size - 1), 9);
    ExpansionValues<char> values;
    values.launcherDirectory = std::string(texts[1]);
    values.launcherTempDirectory = std::string(texts[2]);
    values.jvmHome = std::string(texts[3]);
    values.systemTempDirectory = std::string(texts[4]);
    values.environment = {{std::string(texts[5]), std::string(texts[6])},
                          {std::string(texts[7]), std::string(texts[8])}};
    std::string text(texts[0].substr(0, bufferSize - 1));
    size_t replacements = 0;
    bool complete = expandVariableReferences(
        text, values, bufferSize, [&](auto, auto, const std::string& now) {
            FUZZ_CHECK(now.size() < bufferSize);
            ++replacements;
        });
    FUZZ_CHECK(text.size() < bufferSize);
    if (replacements == 0)
        FUZZ_CHECK(complete && text == texts[0].substr(0, bufferSize - 1));
    return 0;
}
