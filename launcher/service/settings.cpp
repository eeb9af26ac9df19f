#include "service/settings.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "core/config_keys.h"
#include "core/configuration.h"
#include "core/expansion.h"
#include "core/paths.h"
#include "win/encoding.h"

namespace {

std::optional<uint64_t> number(int32_t key) {
    std::string text = getConfigString(key);
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::strtoull(text.c_str(), nullptr, 10);
}

uint32_t seconds(int32_t key, uint32_t fallback) {
    std::optional<uint64_t> value = number(key);
    // A day is far beyond any wait the service control manager would sit through.
    return value ? static_cast<uint32_t>(std::min<uint64_t>(*value, 86400)) : fallback;
}

std::vector<uint32_t> delays(const std::string& list) {
    std::vector<uint32_t> values;
    size_t start = 0;
    while (start < list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos)
            comma = list.size();
        std::string item = list.substr(start, comma - start);
        if (!item.empty() && item.find_first_not_of("0123456789") == std::string::npos)
            values.push_back(static_cast<uint32_t>(
                std::min<unsigned long long>(std::strtoull(item.c_str(), nullptr, 10), 86400)));
        start = comma + 1;
    }
    return values;
}

std::wstring logDirectory() {
    std::wstring configured = getConfigWideString(key::kServiceLogDirectory);
    if (configured.empty())
        configured = L"logs";
    expandVariables(configured, false);
    std::wstring path = normalizePathW(configured, false, true);
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    return path;
}

std::vector<std::pair<std::wstring, std::wstring>> environment() {
    std::vector<std::pair<std::wstring, std::wstring>> entries;
    std::wstring text = getConfigWideString(key::kServiceEnvironment);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring line = text.substr(start, end - start);
        size_t equals = line.find(L'=');
        if (equals != std::wstring::npos && equals > 0)
            entries.emplace_back(line.substr(0, equals), line.substr(equals + 1));
        start = end + 1;
    }
    return entries;
}

ServiceSettings read() {
    ServiceSettings settings;
    settings.stopTimeoutSeconds = seconds(key::kServiceStopTimeout, 30);
    settings.restart.enabled = getConfigString(key::kServiceRestart) != "0";
    if (!getConfigString(key::kServiceRestartDelays).empty())
        settings.restart.delaysSeconds = delays(getConfigString(key::kServiceRestartDelays));
    settings.restart.resetAfterSeconds =
        seconds(key::kServiceRestartResetAfter, settings.restart.resetAfterSeconds);
    if (std::optional<uint64_t> limit = number(key::kServiceRestartLimit))
        settings.restart.limit = static_cast<uint32_t>(std::min<uint64_t>(*limit, 1000000));
    settings.logDirectory = logDirectory();
    if (std::optional<uint64_t> size = number(key::kServiceLogMaxSize); size && *size > 0)
        settings.logMaxSize = *size;
    if (std::optional<uint64_t> keep = number(key::kServiceLogKeep))
        settings.logKeep = static_cast<uint32_t>(std::min<uint64_t>(*keep, 1000));
    settings.account = getConfigString(key::kServiceAccount);
    if (settings.account == "LocalSystem")
        settings.account.clear();
    std::string interactive = getConfigString(key::kServiceInteractive);
    if (!interactive.empty())
        settings.interactive = interactive == "0" ? 0 : 1;
    settings.startType = getConfigString(key::kServiceStartType);
    settings.preshutdownTimeoutSeconds =
        seconds(key::kServicePreshutdownTimeout, settings.stopTimeoutSeconds + 10);
    settings.environment = environment();
    return settings;
}

} // namespace

const ServiceSettings& serviceSettings() {
    static const ServiceSettings settings = read();
    return settings;
}

std::string serviceAccountName(const std::string& account, const std::string& name,
                               bool* needsPassword) {
    *needsPassword = false;
    if (account.empty() || account == "LocalSystem")
        return "";
    if (account == "LocalService")
        return "NT AUTHORITY\\LocalService";
    if (account == "NetworkService")
        return "NT AUTHORITY\\NetworkService";
    if (account == "virtual")
        return "NT SERVICE\\" + name;
    // A group managed service account ends with "$"; Windows holds its password.
    *needsPassword = account.back() != '$';
    return account;
}

std::wstring serviceFilePath(const std::string& name, const wchar_t* suffix) {
    std::wstring file = toWide(name);
    for (wchar_t& c : file) {
        if (c < 32 || wcschr(L"<>:\"/\\|?*", c))
            c = L'_';
    }
    return serviceSettings().logDirectory + L"\\" + file + suffix;
}
