#pragma once

#include <optional>
#include <string>

// Environment switches that let the integration tests provoke faults they cannot cause
// otherwise. Only builds with QLN_TEST_SEAMS defined read them; elsewhere the answer is
// always "not set", so a shipped stub reacts to none of them.
std::optional<std::string> testSeam(const char* name);
