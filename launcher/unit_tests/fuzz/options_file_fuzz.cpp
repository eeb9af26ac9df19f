// Options-file bytes into option lines, and the launcher directives among them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "portable/option_words.h"
#include "portable/options_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> lines = readOptionLines(fuzz::asText(data, size));
    for (const std::string& line : lines) {
        FUZZ_CHECK(!line.empty());
        FUZZ_CHECK(line.size() < kOptionsLineBuffer);
        FUZZ_CHECK(line.front() != ' ' && line.back() != ' ');
        FUZZ_CHECK(line.find('\n') == std::string::npos);
        ClassifiedOption<char> option = classifyOption(std::string_view(line));
        FUZZ_CHECK(option.rest.size() <= line.size());
        if (option.directive == OptionDirective::kNone)
            FUZZ_CHECK(option.rest.size() == line.size());
    }
    std::vector<std::string> joined = joinIncludeOptionWords(lines);
    FUZZ_CHECK(joined.size() <= lines.size());
    lastLocaleFormatWord(lines);
    return 0;
}
