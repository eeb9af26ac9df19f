#include "jvm/vmoptions.h"

#include <algorithm>

#include "core/expansion.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/privilege.h"
#include "portable/options_file.h"
#include "win/encoding.h"

namespace {

// Far more than any real set of options files; it bounds the recursion whatever the files
// look like.
constexpr size_t kMaxIncludeDepth = 16;

const wchar_t kOptionsSuffix[] = L".vmoptions";

// The log shows a file that did not open as a null handle.
void* loggedHandle(const UniqueFile& file) { return file ? file.get() : nullptr; }

UniqueFile openOptionsFile(const std::wstring& path) {
    if (!mayReadSideFile(path))
        return UniqueFile();
    return UniqueFile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Volume and file index, so that other spellings of a path (8.3 names, letter case,
// "..") still name the same file. Empty when the system cannot tell.
std::wstring fileIdentity(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info))
        return {};
    return std::to_wstring(info.dwVolumeSerialNumber) + L":" +
           std::to_wstring(info.nFileIndexHigh) + L":" + std::to_wstring(info.nFileIndexLow);
}

std::string readAll(HANDLE file) {
    std::string bytes;
    char chunk[kOptionsLineBuffer];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    return bytes;
}

bool isNetworkPath(const std::wstring& path) {
    std::wstring text = path;
    while (!text.empty() && text[0] == L'"')
        text.erase(0, 1);
    for (wchar_t& c : text)
        if (c == L'/')
            c = L'\\';
    // "\\?\C:\..." is a local path in the long form; "\\?\UNC\..." is a share.
    if (text.rfind(L"\\\\?\\", 0) == 0)
        return text.size() >= 8 && _wcsnicmp(text.c_str() + 4, L"UNC\\", 4) == 0;
    return text.size() >= 2 && (text[0] == L'\\' || text[0] == L'/') &&
           (text[1] == L'\\' || text[1] == L'/');
}

void includeOptionsFile(OptionAssembly& assembly, const std::wstring* baseFile,
                        const std::wstring& path) {
    std::wstring expanded = path;
    expandVariables(expanded, /*ansiForms=*/false);
    logMessage("after exp from %S %S", expanded.c_str(), path.c_str());
    // An options file on a share would let whoever controls that share choose the options.
    if (!assembly.filesBeingRead.empty() && isNetworkPath(expanded)) {
        logError("options file on a network path not included: %S", expanded.c_str());
        return;
    }
    std::wstring fullPath = resolvePathW(expanded, /*useNarrowDirectoryForm=*/false, baseFile);
    UniqueFile file = openOptionsFile(fullPath);
    logMessage("adding vmoptions from (%p) <%S> (%S)", loggedHandle(file), fullPath.c_str(),
               expanded.c_str());
    readOptionsFile(assembly, &fullPath, std::move(file));
    logMessage("adding vmoptions 2");
    logMessage("adding vmoptions 3");
}

// The last four characters go whatever they are: for app.exe this gives app.vmoptions.
UniqueFile openOptionsBeside(const std::wstring& program) {
    std::wstring candidate =
        program.substr(0, program.size() >= 4 ? program.size() - 4 : 0) + kOptionsSuffix;
    UniqueFile file = openOptionsFile(candidate);
    logMessage("vmoptions2: exe %S file: %S, file: %p", program.c_str(), candidate.c_str(),
               loggedHandle(file));
    if (file)
        return file;
    candidate = program + kOptionsSuffix;
    file = openOptionsFile(candidate);
    logMessage("vmoptions: opts2: %S, file: %p", candidate.c_str(), loggedHandle(file));
    return file;
}

} // namespace

void addOption(OptionAssembly& assembly, const std::wstring* baseFile, const std::wstring& text) {
    ClassifiedOption<wchar_t> option = classifyOption<wchar_t>(text);
    std::string rest = toNarrow(option.rest, fileCodePage());
    switch (option.directive) {
    case OptionDirective::kIncludeOptions:
        includeOptionsFile(assembly, baseFile, std::wstring(option.rest));
        break;
    case OptionDirective::kClassPath:
        assembly.classPath.replacement = rest;
        break;
    case OptionDirective::kClassPathPrepend:
        assembly.classPath.prepend = rest;
        break;
    case OptionDirective::kClassPathAppend:
        assembly.classPath.append = rest;
        break;
    case OptionDirective::kNone:
        assembly.options.push_back(rest);
        break;
    }
}

void readOptionsFile(OptionAssembly& assembly, const std::wstring* path, UniqueFile file) {
    if (!file)
        return;
    std::wstring identity = fileIdentity(file.get());
    std::vector<std::wstring>& reading = assembly.filesBeingRead;
    if (!identity.empty() && std::find(reading.begin(), reading.end(), identity) != reading.end()) {
        logError("options file is already being read, not included again: %S",
                 path ? path->c_str() : L"");
        return;
    }
    if (reading.size() >= kMaxIncludeDepth) {
        logError("options files nested deeper than %d, not included: %S",
                 static_cast<int>(kMaxIncludeDepth), path ? path->c_str() : L"");
        return;
    }
    std::string bytes = readAll(file.get());
    file.reset();
    reading.push_back(identity);
    for (const std::string& line : readOptionLines(bytes)) {
        std::wstring option = widenBytes(line);
        expandVariables(option, /*ansiForms=*/true);
        addOption(assembly, path, option);
    }
    reading.pop_back();
}

UniqueFile openDefaultOptionsFile() {
    UniqueFile file = openOptionsBeside(getExecutablePathW());
    if (!file)
        file = openOptionsBeside(getModuleFileName());
    return file;
}
