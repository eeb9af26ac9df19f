#include "jvm/registry_values.h"

#include <vector>

namespace {

std::optional<std::string> queryValue(HKEY key, const char* name, size_t bufferSize) {
    std::vector<char> buffer(bufferSize);
    DWORD size = static_cast<DWORD>(bufferSize);
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()),
                         &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::string(buffer.data(), size);
}

} // namespace

UniqueRegistryKey openRegistryKey(HKEY hive, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(hive, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return UniqueRegistryKey();
    return UniqueRegistryKey(key);
}

UniqueRegistryKey createRegistryKey(HKEY hive, const std::string& path) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(hive, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return UniqueRegistryKey();
    return UniqueRegistryKey(key);
}

std::optional<std::string> readRegistryString(HKEY key, const char* name, size_t bufferSize) {
    std::optional<std::string> value = queryValue(key, name, bufferSize);
    if (value) {
        size_t end = value->find('\0');
        if (end != std::string::npos)
            value->resize(end);
    }
    return value;
}

std::optional<std::string> readRegistryBinary(HKEY key, const char* name, size_t bufferSize) {
    return queryValue(key, name, bufferSize);
}

std::vector<std::string> listRegistrySubKeys(HKEY key) {
    std::vector<std::string> names;
    // Key names are at most 255 characters.
    char name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof name;
        LONG status = RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status == ERROR_SUCCESS)
            names.emplace_back(name, length);
        else if (status != ERROR_MORE_DATA)
            break;
    }
    return names;
}
