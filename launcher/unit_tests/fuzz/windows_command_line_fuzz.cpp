// The C runtime's argument rules: any text splits without fault, and words cut from the input
// come back unchanged through quoting and splitting.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "portable/windows_command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text = fuzz::asText(data, size);
    std::vector<std::string> split = splitWindowsCommandLine(text);
    FUZZ_CHECK(!split.empty());

    // The input's NUL-separated pieces as words behind a program path: the round trip holds.
    std::vector<std::string> words{"C:\\Program Files\\svc.exe"};
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\0', start);
        if (end == std::string_view::npos)
            end = text.size();
        words.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    FUZZ_CHECK(splitWindowsCommandLine<char>(joinWindowsCommandLine(words)) == words);
    return 0;
}
