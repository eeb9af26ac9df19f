#pragma once

#include <optional>
#include <string>

// The one reader of the process environment: the whole value however long, an empty text
// for a variable that is set but empty, nothing when it is not set. Callers apply their own
// limits on top.
std::optional<std::string> readEnvironment(const char* name);
std::optional<std::wstring> readEnvironmentW(const wchar_t* name);
