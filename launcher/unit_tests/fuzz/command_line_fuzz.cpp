// Command-line splitting on arbitrary text, narrow and as UTF-16.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "portable/command_line.h"

namespace {

template <class Char>
void split(std::basic_string_view<Char> text) {
    std::vector<std::basic_string<Char>> words;
    splitCommandLine(text, words);
    // Splitting only drops blanks and quotes, so the words never hold more than the line,
    // and a word without quotes never holds a blank.
    size_t total = 0;
    for (const auto& word : words)
        total += word.size();
    FUZZ_CHECK(total <= text.size());
    bool quoted = text.find(Char('"')) != text.npos || text.find(Char('\'')) != text.npos;
    for (const auto& word : words)
        FUZZ_CHECK(quoted || (!word.empty() && word.find(Char(' ')) == word.npos));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text = fuzz::asText(data, size);
    split(text);
    std::u16string wide = fuzz::asUtf16(text);
    split(std::u16string_view(wide));
    return 0;
}
