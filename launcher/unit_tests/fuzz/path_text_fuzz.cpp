// Path texts, narrow and as UTF-16: backslash runs, relative and root tests, listings and
// list splitting.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "portable/path_text.h"

namespace {

template <class String>
void check(const String& path, const String& extension) {
    using Char = typename String::value_type;
    String collapsed = collapseBackslashes(path);
    FUZZ_CHECK(collapsed.size() <= path.size());
    FUZZ_CHECK(collapseBackslashes(collapsed) == collapsed);
    for (size_t i = 2; i < collapsed.size(); ++i)
        FUZZ_CHECK(!(collapsed[i] == Char('\\') && collapsed[i - 1] == Char('\\')));
    isRelativePath(path);
    isDriveRoot(path);
    String pattern = listingPattern(path, extension);
    FUZZ_CHECK(pattern.size() >= path.size() + 2 + extension.size());
    for (const String& piece : splitList(path, Char(';'))) {
        FUZZ_CHECK(!piece.empty());
        FUZZ_CHECK(piece.find(Char(';')) == String::npos);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto texts = fuzz::pieces(fuzz::asText(data, size), 2);
    check(std::string(texts[0]), std::string(texts[1]));
    check(fuzz::asUtf16(texts[0]), fuzz::asUtf16(texts[1]));
    return 0;
}
