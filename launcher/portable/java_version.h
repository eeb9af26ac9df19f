#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Java version texts ("1.7.0_45", "1.8.0_20-ea", "11.0.2+9") are kept exactly as the
// runtime printed them and only compared. A version is split at ".", "_", "-" and "+" into
// components; digit components compare by value and rank below any other component, which
// compares byte-wise. Empty pieces are no components, so "1.8." equals "1.8" as a bound.

// The marker a failed probe leaves in the version cache; never trusted.
constexpr std::string_view kBrokenVersion = "1.0.0";

std::vector<std::string_view> versionComponents(std::string_view version);

// Total order: by components, a version that runs out of components first sorting below;
// versions with equal components are ordered byte-wise, so only equal texts compare 0.
int compareVersions(std::string_view a, std::string_view b);

// Compares the version's first k components with the bound's k components, so a bound
// matches as a prefix (1.8 matches 1.8.0_101). A version with fewer components sorts below.
int compareVersionToBound(std::string_view version, std::string_view bound);

// An empty bound is no bound.
bool isInVersionRange(std::string_view version, std::string_view minVersion,
                      std::string_view maxVersion);

// The looser test of version names found in the registry: each bound is compared over the
// smaller component count of name and bound, so the name 1.8 passes a minimum of 1.8.0_20
// and an empty name passes every range.
bool isRegistryNameInRange(std::string_view name, std::string_view minVersion,
                           std::string_view maxVersion);

// "beta", "ea" or "rc" anywhere, case-sensitive.
bool isPreReleaseVersion(std::string_view version);

// What `java -version` wrote on its standard error: the first of at most 10 lines (each
// looked at up to 99 characters) that starts with java version " or openjdk version "
// gives the text up to the next double quote. Notices ahead of that line and text after
// the quote (the release date of newer runtimes) are ignored. No such line, a line without
// its closing quote, or an empty version give nothing.
std::optional<std::string> parseVersionOutput(std::string_view output);

constexpr size_t kVersionOutputLines = 10;
constexpr size_t kVersionOutputLineLength = 99;

// Cache entries written by older launchers can hold a cut line (`11.0.2" 2019-01-15`) or
// a truncated number ("1.7."); such entries count as none.
bool isUsableCachedVersion(std::string_view version);
