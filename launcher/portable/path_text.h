#pragma once

#include <algorithm>
#include <string>

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
