// The configured class path list, variable values and the bounded class path text.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "portable/class_path_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input = fuzz::asText(data, size);
    BoundedText text(size / 2);
    for (const ClassPathEntry& entry : parseClassPathEntries(input)) {
        FUZZ_CHECK(entry.type != ';');
        FUZZ_CHECK(entry.value.find(';') == std::string::npos);
        std::string value = unquoteVariableValue(entry.value);
        FUZZ_CHECK(value.size() <= entry.value.size());
        text.append(value);
        text.append(";");
        FUZZ_CHECK(text.text().size() <= size / 2);
    }
    return 0;
}
