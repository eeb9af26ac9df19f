#include "core/test_seams.h"

#include "win/win32.h"

std::optional<std::string> testSeamValue([[maybe_unused]] const char* name) {
#ifdef QLN_TEST_SEAMS
    char value[1024];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    if (length > 0 && length < sizeof value)
        return std::string(value, length);
#endif
    return std::nullopt;
}
