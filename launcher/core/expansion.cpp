#include "core/expansion.h"

#include "core/jvm_home.h"
#include "core/log.h"
#include "core/paths.h"
#include "portable/expansion.h"
#include "win/encoding.h"

// With UNICODE defined the header maps this name to the UTF-16 function; the ANSI block
// is exported under the plain name.
#undef GetEnvironmentStrings

namespace {

const char kTempDirReference[] = "${launcher:sys.tempDir}";

template <class Char>
std::vector<std::pair<std::basic_string<Char>, std::basic_string<Char>>>
parseEnvironmentBlock(const Char* block) {
    std::vector<std::pair<std::basic_string<Char>, std::basic_string<Char>>> entries;
    if (!block)
        return entries;
    for (const Char* entry = block; *entry; entry += std::char_traits<Char>::length(entry) + 1) {
        std::basic_string<Char> text(entry);
        // Hidden per-drive entries ("=C:=C:\dir") start with "="; their name runs past it.
        size_t equals = text.find('=', 1);
        if (equals != std::basic_string<Char>::npos)
            entries.emplace_back(text.substr(0, equals), text.substr(equals + 1));
    }
    return entries;
}

bool containsAscii(const std::wstring& text, const char* ascii) {
    return text.find(fromAscii<wchar_t>(ascii)) != std::wstring::npos;
}

void reportCut(bool complete, size_t bufferSize) {
    if (!complete)
        logError("expanded text cut to %d characters", static_cast<int>(bufferSize - 1));
}

} // namespace

bool expandVariables(std::wstring& text, bool ansiForms, size_t bufferSize) {
    const LauncherDirectory& directory = getExecutableDirectory();
    ExpansionValues<wchar_t> values;
    values.launcherDirectory = ansiForms ? directory.narrowWidened : directory.longForm;
    // Narrow paths are ANSI text: widened byte by byte, a name with "€" or "Š" would name
    // another file.
    values.launcherTempDirectory = toWide(getLauncherTempDirectory());
    values.jvmHome = toWide(getJvmHome());
    // Choosing the temporary directory logs and may even end the launcher; only do it when
    // the text asks for it.
    if (containsAscii(text, kTempDirReference))
        values.systemTempDirectory = ansiForms ? toWide(getTempDirectory()) : getTempDirectoryW();
    wchar_t* block = GetEnvironmentStringsW();
    values.environment = parseEnvironmentBlock(block);
    FreeEnvironmentStringsW(block);

    bool complete = expandVariableReferences<wchar_t>(
        text, values, bufferSize,
        [](std::wstring_view pattern, std::wstring_view value, const std::wstring& result) {
            logMessage("expanding2 %S to %S in %S.", std::wstring(pattern).c_str(),
                       std::wstring(value).c_str(), result.c_str());
        });
    reportCut(complete, bufferSize);
    return complete;
}

bool expandVariablesNarrow(std::string& text, size_t bufferSize) {
    ExpansionValues<char> values;
    values.launcherDirectory = getExecutableDirectory().narrow;
    values.launcherTempDirectory = getLauncherTempDirectory();
    values.jvmHome = getJvmHome();
    if (text.find(kTempDirReference) != std::string::npos)
        values.systemTempDirectory = getTempDirectory();
    char* block = GetEnvironmentStrings();
    values.environment = parseEnvironmentBlock(block);
    FreeEnvironmentStringsA(block);

    bool complete = expandVariableReferences<char>(
        text, values, bufferSize,
        [](std::string_view pattern, std::string_view value, const std::string& result) {
            logMessage("expanding2 %s to %s in %s.", std::string(pattern).c_str(),
                       std::string(value).c_str(), result.c_str());
        });
    reportCut(complete, bufferSize);
    return complete;
}
