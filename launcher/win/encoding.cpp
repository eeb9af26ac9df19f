#include "win/encoding.h"

#include "portable/code_page.h"

UINT fileCodePage() { return AreFileApisANSI() ? CP_ACP : CP_OEMCP; }

std::wstring toWide(std::string_view text, UINT codePage) {
    if (text.empty())
        return std::wstring();
    int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0);
    std::wstring result(length > 0 ? length : 0, L'\0');
    if (length > 0)
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &result[0],
                            length);
    return result;
}

std::string toNarrow(std::wstring_view text, UINT codePage) {
    if (text.empty())
        return std::string();
    int length = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0, nullptr, nullptr);
    std::string result(length > 0 ? length : 0, '\0');
    if (length > 0)
        WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &result[0],
                            length, nullptr, nullptr);
    return result;
}

bool fitsCodePage(std::wstring_view text, UINT codePage) {
    if (text.empty())
        return true;
    // CP_ACP may itself be UTF-8 ("Beta: Unicode UTF-8"): the rules follow the real page.
    UINT resolved = codePage == CP_ACP ? GetACP() : codePage == CP_OEMCP ? GetOEMCP() : codePage;
    NarrowConversionRules rules = narrowConversionRules(resolved);
    BOOL usedDefault = FALSE;
    int length = WideCharToMultiByte(resolved, rules.flags, text.data(),
                                     static_cast<int>(text.size()), nullptr, 0, nullptr,
                                     rules.reportsDefaultUsed ? &usedDefault : nullptr);
    return length > 0 && !usedDefault && toWide(toNarrow(text, codePage), codePage) == text;
}

std::wstring widenBytes(std::string_view bytes) {
    std::wstring result(bytes.size(), L'\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        result[i] = static_cast<unsigned char>(bytes[i]);
    return result;
}
