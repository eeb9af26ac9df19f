// The locale table for every language identifier, locale codes of any text, and the
// locale format word among arbitrary arguments.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "portable/locale_table.h"
#include "portable/option_words.h"
#include "portable/path_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size >= 2) {
        uint16_t id = static_cast<uint16_t>(data[0] | data[1] << 8);
        const char* code = localeCodeForLanguageId(id);
        FUZZ_CHECK(code != nullptr);
        size_t length = std::strlen(code);
        FUZZ_CHECK(length == 2 || length == 5 || length == 8);
        LocaleParts parts = splitLocaleCode(code);
        FUZZ_CHECK(parts.language.size() == 2);
        FUZZ_CHECK(parts.country.has_value() == (length == 5));
    }
    std::string_view input = fuzz::asText(data, size);
    LocaleParts parts = splitLocaleCode(input);
    FUZZ_CHECK(parts.language.size() <= 2);

    std::vector<std::string> arguments = splitList(std::string(input), '\0');
    bool flag = formatAsDefault(arguments);
    auto last = lastLocaleFormatWord(arguments);
    FUZZ_CHECK(flag == (!last || isLocaleFormatTrue(*last)));
    return 0;
}
