#pragma once

// How WideCharToMultiByte may be asked about a code page. Some take no flags at all, and
// UTF-8 and UTF-7 take no "default character used" report: asking them anyway makes the
// call fail, which would read as "does not fit" for every text.
struct NarrowConversionRules {
    unsigned long flags;      // WC_NO_BEST_FIT_CHARS where the code page allows it
    bool reportsDefaultUsed;  // lpUsedDefaultChar may be passed
};

constexpr unsigned long kNoBestFitChars = 0x00000400;  // WC_NO_BEST_FIT_CHARS
constexpr unsigned kUtf7 = 65000;
constexpr unsigned kUtf8 = 65001;

// `codePage` is a real code page number: CP_ACP and CP_OEMCP resolved first.
constexpr NarrowConversionRules narrowConversionRules(unsigned codePage) {
    if (codePage == kUtf8 || codePage == kUtf7)
        return {0, false};
    bool noFlags = codePage == 42 || codePage == 54936 ||
                   (codePage >= 50220 && codePage <= 50229) ||
                   (codePage >= 57002 && codePage <= 57011);
    return {noFlags ? 0 : kNoBestFitChars, true};
}
