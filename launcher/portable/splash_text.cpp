#include "portable/splash_text.h"

std::string statusTextFromUtf16(std::u16string_view text, size_t size) {
    std::string narrow;
    for (char16_t unit : text) {
        if (unit > 0xFF)
            break;
        narrow += static_cast<char>(unit);
    }
    return cutToBuffer(std::move(narrow), size);
}

WindowOrigin centredOrigin(int left, int top, int right, int bottom, int width, int height) {
    return {(right - width - left) / 2, (bottom - height - top) / 2};
}
