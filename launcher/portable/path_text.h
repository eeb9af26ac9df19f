#pragma once

#include <algorithm>
#include <string>
#include <vector>

// Every run of backslashes becomes one, but the first two characters are never merged, so
// a network path keeps its leading pair.
template <class String>
String collapseBackslashes(String path) {
    size_t out = std::min<size_t>(path.size(), 2);
    for (size_t in = out; in < path.size(); ++in) {
        if (path[in] == '\\' && path[out - 1] == '\\')
            continue;
        path[out++] = path[in];
    }
    path.resize(out);
    return path;
}

// Absolute paths are "X:\..." and "\\..." (an optional leading double quote is ignored);
// everything else, also "X:/..." and "\...", counts as relative.
template <class String>
bool isRelativePath(const String& path) {
    size_t start = !path.empty() && path[0] == '"' ? 1 : 0;
    if (path.size() < start + 3)
        return true;
    if (path[start + 1] == ':' && path[start + 2] == '\\')
        return false;
    return !(path[start] == '\\' && path[start + 1] == '\\');
}

// "C:\", "C:\." and "C:\.\." name a drive root, which exists without a directory search.
template <class String>
bool isDriveRoot(const String& path) {
    if (path.size() < 3 || path[1] != ':' || path[2] != '\\')
        return false;
    auto drive = path[0];
    if (!((drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z')))
        return false;
    auto rest = path.substr(3);
    auto is = [&rest](const char* ascii) {
        size_t n = std::char_traits<char>::length(ascii);
        if (rest.size() != n)
            return false;
        for (size_t i = 0; i < n; ++i)
            if (rest[i] != static_cast<typename String::value_type>(ascii[i]))
                return false;
        return true;
    };
    return is("") || is(".") || is(".\\.");
}

// The search pattern of a directory listing: "jar" and ".jar" both give "dir\*.jar".
template <class String>
String listingPattern(const String& directory, const String& extension) {
    String pattern = directory;
    pattern += '\\';
    pattern += '*';
    if (extension.empty() || extension[0] != '.')
        pattern += '.';
    return pattern + extension;
}

// Splits a ";"-separated list, skipping empty pieces.
template <class String>
std::vector<String> splitList(const String& list, typename String::value_type separator) {
    std::vector<String> pieces;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(separator, start);
        if (end == String::npos)
            end = list.size();
        if (end > start)
            pieces.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

// True for a name Windows gives to a device rather than a file (CON, PRN, AUX, NUL, COM0 to
// COM9, LPT0 to LPT9), in any letter case, also with an extension or trailing blanks and
// dots ("nul.txt", "Con ."): opening it reaches the device, not a file in the directory.
template <class String>
bool isDeviceName(const String& name) {
    size_t end = name.find('.');
    if (end == String::npos)
        end = name.size();
    while (end > 0 && name[end - 1] == ' ')
        --end;
    if (end != 3 && end != 4)
        return false;
    std::string base;
    for (size_t i = 0; i < end; ++i) {
        auto c = name[i];
        if (static_cast<unsigned long>(c) > 0x7F)  // negative narrow bytes turn huge, too
            return false;
        base += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    if (end == 3)
        return base == "CON" || base == "PRN" || base == "AUX" || base == "NUL";
    return (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '0' &&
           base[3] <= '9';
}
