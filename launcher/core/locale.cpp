#include "core/locale.h"

#include <optional>

#include "core/log.h"
#include "portable/locale_table.h"
#include "win/win32.h"

namespace {

std::optional<LocaleParts> selected;

LANGID userInterfaceLanguage(LANGID fallback) {
    HMODULE kernel = LoadLibraryA("Kernel32.DLL");
    if (!kernel)
        return fallback;
    using GetUiLanguage = LANGID(WINAPI*)();
    auto query = reinterpret_cast<GetUiLanguage>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "GetUserDefaultUILanguage")));
    return query ? query() : fallback;
}

} // namespace

std::string selectLocale(const ArgumentList* arguments) {
    LANGID languageId = LOWORD(GetUserDefaultLCID());
    if (arguments) {
        bool asDefault = formatAsDefault(*arguments);
        logMessage("sun.locale.formatasdefault is %s", asDefault ? "true" : "false");
        if (!asDefault)
            languageId = userInterfaceLanguage(languageId);
    }
    std::string code = localeCodeForLanguageId(languageId);
    logMessage("language/country is %s", code.c_str());
    selected = splitLocaleCode(code);
    return code;
}

bool getLocaleLanguage(std::string& language) {
    if (!selected)
        return false;
    language = selected->language;
    return true;
}

bool getLocaleCountry(std::string& country) {
    if (!selected || !selected->country)
        return false;
    country = *selected->country;
    return true;
}
