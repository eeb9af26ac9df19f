#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "portable/supervisor.h"

// The service's own settings, read once from the configuration with their defaults.
struct ServiceSettings {
    uint32_t stopTimeoutSeconds = 30;
    RestartPolicy restart;
    // Full path without a trailing backslash.
    std::wstring logDirectory;
    uint64_t logMaxSize = 10 * 1024 * 1024;
    uint32_t logKeep = 5;
    // As configured: empty for LocalSystem.
    std::string account;
    // -1 when not configured.
    int interactive = -1;
    // "demand", "auto", "delayed" or empty.
    std::string startType;
    uint32_t preshutdownTimeoutSeconds = 40;
    // Values still unexpanded.
    std::vector<std::pair<std::wstring, std::wstring>> environment;
};

const ServiceSettings& serviceSettings();

// The account name the service control manager takes for the configured account, empty for
// LocalSystem; `needsPassword` tells whether it is an account with a password of its own.
std::string serviceAccountName(const std::string& account, const std::string& name,
                               bool* needsPassword);

// `<log directory>\<service name><suffix>`, with characters a file name cannot hold replaced.
std::wstring serviceFilePath(const std::string& name, const wchar_t* suffix);
