#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "portable/message_text.h"

// The splash status line is narrow text: every code unit up to U+00FF becomes the byte of the
// same value, and the text ends before the first unit above U+00FF. It is kept in a buffer of
// `size` bytes including the terminator.
std::string statusTextFromUtf16(std::u16string_view text, size_t size = kMaxText);

// Where a window of the given size lies when centred in the desktop rectangle:
// x = (right - width - left) / 2, y likewise. The desktop starts at (0, 0), where this is the
// centre; odd leftovers round towards zero and a window larger than the screen starts left of
// (or above) it.
struct WindowOrigin {
    int x;
    int y;
};
WindowOrigin centredOrigin(int left, int top, int right, int bottom, int width, int height);
