#pragma once

#include <string>
#include <string_view>

#include "win/win32.h"

// All conversions between narrow and UTF-16 text live here.

// The code page of the narrow file functions: ANSI unless a program switched them to OEM.
UINT fileCodePage();
std::wstring toWide(std::string_view text, UINT codePage = CP_ACP);
std::string toNarrow(std::wstring_view text, UINT codePage = CP_ACP);
// True when `text` survives a round trip through the code page unchanged.
bool fitsCodePage(std::wstring_view text, UINT codePage = CP_ACP);

// Configuration values are widened byte for byte: each byte becomes the code unit of the
// same value.
std::wstring widenBytes(std::string_view bytes);

// The portable layer keeps UTF-16 as char16_t; on Windows it has the layout of wchar_t.
inline std::wstring fromU16(const std::u16string& text) {
    return std::wstring(text.begin(), text.end());
}
