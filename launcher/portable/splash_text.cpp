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

namespace {

// No screen or image comes near this; anything beyond it is capped, so that the sums below
// cannot overflow whatever a bitmap header or a monitor query reports.
constexpr long long kMaxExtent = 1 << 24;

long long capped(int value) {
    return value > kMaxExtent ? kMaxExtent : value < -kMaxExtent ? -kMaxExtent : value;
}

int centred(int low, int high, int size) {
    return static_cast<int>((capped(high) - capped(size) - capped(low)) / 2);
}

} // namespace

WindowOrigin centredOrigin(int left, int top, int right, int bottom, int width, int height) {
    return {centred(left, right, width), centred(top, bottom, height)};
}
