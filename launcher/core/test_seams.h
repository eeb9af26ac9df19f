#pragma once

#include <optional>
#include <string>

// Environment switches that let the integration tests provoke faults they cannot cause
// otherwise. Only the test builds (QLN_TEST_SEAMS defined for the whole core) read them. In
// a shipped stub testSeam is a constant "not set" that keeps not even the switch's name, so
// no environment can steer it.
std::optional<std::string> testSeamValue(const char* name);

#ifdef QLN_TEST_SEAMS
inline std::optional<std::string> testSeam(const char* name) { return testSeamValue(name); }
#else
#define testSeam(name) (static_cast<void>(sizeof(name)), std::optional<std::string>())
#endif
