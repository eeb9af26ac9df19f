#include "core/restart_trust.h"

#include <cstdio>
#include <string>

#include "core/log.h"
#include "core/paths.h"
#include "win/encoding.h"
#include "win/handles.h"
#include "win/win32.h"

#include <ntsecapi.h>

namespace {

const wchar_t kKeyVariable[] = L"QUILLON_RESTART_KEY";
const wchar_t kKeyFile[] = L"qln_restart.key";
constexpr size_t kKeyBytes = 16;

std::string environmentKey() {
    wchar_t value[64] = L"";
    DWORD length = GetEnvironmentVariableW(kKeyVariable, value, 64);
    if (length == 0 || length >= 64)
        return {};
    std::string key;
    for (DWORD i = 0; i < length; ++i) {
        if (value[i] > 0x7f)
            return {};
        key += static_cast<char>(value[i]);
    }
    return key;
}

// The key file of the current directory, only as a plain file: a link could name another.
std::string directoryKey() {
    UniqueFile file(CreateFileW(kKeyFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file)
        return {};
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tag, sizeof tag) ||
        (tag.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
        return {};
    char text[kKeyBytes * 2 + 1] = "";
    DWORD read = 0;
    if (!ReadFile(file.get(), text, kKeyBytes * 2, &read, nullptr) || read != kKeyBytes * 2)
        return {};
    return std::string(text, read);
}

} // namespace

void offerRestartKey() {
    unsigned char bytes[kKeyBytes];
    if (!RtlGenRandom(bytes, sizeof bytes))
        return;
    std::string key;
    for (unsigned char byte : bytes) {
        char hex[3];
        snprintf(hex, sizeof hex, "%02x", byte);
        key += hex;
    }
    const std::string& directory = getLauncherTempDirectory();
    if (directory.empty())
        return;
    std::wstring path = toWide(directory, fileCodePage()) + L"\\" + kKeyFile;
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.get(), key.data(), static_cast<DWORD>(key.size()), &written,
                            nullptr)) {
        logMessage("restart key not written (%d)", static_cast<int>(GetLastError()));
        return;
    }
    SetEnvironmentVariableW(kKeyVariable, std::wstring(key.begin(), key.end()).c_str());
}

bool isLauncherStartedRestart() {
    std::string expected = environmentKey();
    if (expected.size() != kKeyBytes * 2)
        return false;
    std::string found = directoryKey();
    // Compared in full whatever differs, so timing tells nothing about the key.
    unsigned char difference = found.size() == expected.size() ? 0 : 1;
    for (size_t i = 0; i < expected.size() && i < found.size(); ++i)
        difference |= static_cast<unsigned char>(expected[i] ^ found[i]);
    return difference == 0;
}
