#include "portable/java_version.h"

#include <algorithm>

namespace {

bool isSeparator(char c) { return c == '.' || c == '_' || c == '-' || c == '+'; }

bool isDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int sign(int value) { return (value > 0) - (value < 0); }

// Digit components by value (any length, no overflow), others byte-wise, digits first.
int compareComponents(std::string_view a, std::string_view b) {
    bool aDigits = isDigits(a), bDigits = isDigits(b);
    if (aDigits != bDigits)
        return aDigits ? -1 : 1;
    if (aDigits) {
        a.remove_prefix(std::min(a.find_first_not_of('0'), a.size()));
        b.remove_prefix(std::min(b.find_first_not_of('0'), b.size()));
        if (a.size() != b.size())
            return a.size() < b.size() ? -1 : 1;
    }
    return sign(a.compare(b));
}

// Compares the first `count` components; a side that runs out first sorts below.
int compareLeadingComponents(const std::vector<std::string_view>& a,
                             const std::vector<std::string_view>& b, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (i >= a.size() || i >= b.size()) {
            if (a.size() == b.size())
                return 0;
            return a.size() < b.size() ? -1 : 1;
        }
        if (int order = compareComponents(a[i], b[i]))
            return order;
    }
    return 0;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

} // namespace

std::vector<std::string_view> versionComponents(std::string_view version) {
    std::vector<std::string_view> components;
    size_t start = 0;
    for (size_t i = 0; i <= version.size(); ++i) {
        if (i == version.size() || isSeparator(version[i])) {
            if (i > start)
                components.push_back(version.substr(start, i - start));
            start = i + 1;
        }
    }
    return components;
}

int compareVersions(std::string_view a, std::string_view b) {
    std::vector<std::string_view> ca = versionComponents(a), cb = versionComponents(b);
    if (int order = compareLeadingComponents(ca, cb, std::max(ca.size(), cb.size())))
        return order;
    return sign(a.compare(b));
}

int compareVersionToBound(std::string_view version, std::string_view bound) {
    std::vector<std::string_view> bounds = versionComponents(bound);
    return compareLeadingComponents(versionComponents(version), bounds, bounds.size());
}

bool isInVersionRange(std::string_view version, std::string_view minVersion,
                      std::string_view maxVersion) {
    if (!minVersion.empty() && compareVersionToBound(version, minVersion) < 0)
        return false;
    if (!maxVersion.empty() && compareVersionToBound(version, maxVersion) > 0)
        return false;
    return true;
}

bool isRegistryNameInRange(std::string_view name, std::string_view minVersion,
                           std::string_view maxVersion) {
    std::vector<std::string_view> names = versionComponents(name);
    auto compareShorter = [&names](std::string_view bound) {
        std::vector<std::string_view> bounds = versionComponents(bound);
        return compareLeadingComponents(names, bounds, std::min(names.size(), bounds.size()));
    };
    if (!minVersion.empty() && compareShorter(minVersion) < 0)
        return false;
    if (!maxVersion.empty() && compareShorter(maxVersion) > 0)
        return false;
    return true;
}

bool isPreReleaseVersion(std::string_view version) {
    for (std::string_view marker : {"beta", "ea", "rc"})
        if (version.find(marker) != std::string_view::npos)
            return true;
    return false;
}

std::optional<std::string> parseVersionOutput(std::string_view output) {
    static constexpr std::string_view kPrefixes[] = {"java version \"", "openjdk version \""};
    size_t start = 0;
    for (size_t line = 0; line < kVersionOutputLines && start < output.size(); ++line) {
        size_t end = output.find('\n', start);
        if (end == std::string_view::npos)
            end = output.size();
        std::string_view text = output.substr(start, end - start);
        start = end + 1;
        // The file is read in binary; a text-mode reader would have dropped the CR.
        if (!text.empty() && text.back() == '\r')
            text.remove_suffix(1);
        text = text.substr(0, kVersionOutputLineLength);
        for (std::string_view prefix : kPrefixes) {
            if (!startsWith(text, prefix))
                continue;
            std::string_view rest = text.substr(prefix.size());
            size_t quote = rest.find('"');
            if (quote == std::string_view::npos || quote == 0)
                return std::nullopt;
            return std::string(rest.substr(0, quote));
        }
    }
    return std::nullopt;
}

bool isUsableCachedVersion(std::string_view version) {
    if (version.find_first_of("\" \t") != std::string_view::npos)
        return false;
    return version != "1.7." && version != "1.6." && version != "1.5.";
}
