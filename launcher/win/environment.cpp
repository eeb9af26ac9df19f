#include "win/environment.h"

#include <vector>

#include "win/win32.h"

namespace {

template <class Char, class Query>
std::optional<std::basic_string<Char>> readGrowing(Query query) {
    std::vector<Char> buffer(MAX_PATH);
    for (;;) {
        // An empty variable also reports length 0; only the error code tells it apart.
        SetLastError(ERROR_SUCCESS);
        DWORD length = query(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND)
                return std::nullopt;
            return std::basic_string<Char>();
        }
        if (length < buffer.size())
            return std::basic_string<Char>(buffer.data(), length);
        buffer.resize(length + 1);
    }
}

} // namespace

std::optional<std::string> readEnvironment(const char* name) {
    return readGrowing<char>([&](char* buffer, DWORD size) {
        return GetEnvironmentVariableA(name, buffer, size);
    });
}

std::optional<std::wstring> readEnvironmentW(const wchar_t* name) {
    return readGrowing<wchar_t>([&](wchar_t* buffer, DWORD size) {
        return GetEnvironmentVariableW(name, buffer, size);
    });
}
