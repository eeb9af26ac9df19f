#include "portable/options_file.h"

namespace {

constexpr char kEndOfFile = 0x1A;

// What the C runtime's text mode hands out: CR LF becomes LF, a lone CR stays, and
// Ctrl-Z ends the file.
std::string textModeBytes(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == kEndOfFile)
            break;
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            continue;
        text += bytes[i];
    }
    return text;
}

// One option from one buffer's worth of a line, or an empty string for a skipped line.
std::string optionOfLine(std::string_view line) {
    // The buffer is a C string: a NUL byte ends it.
    line = line.substr(0, line.find('\0'));
    size_t end = line.find_last_not_of("\r\n");
    line = end == std::string_view::npos ? std::string_view() : line.substr(0, end + 1);
    size_t first = line.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    line = line.substr(first, line.find_last_not_of(' ') - first + 1);
    if (line[0] == '#')
        return {};
    return std::string(line);
}

} // namespace

std::vector<std::string> readOptionLines(std::string_view bytes) {
    const std::string text = textModeBytes(bytes);
    const size_t chunk = kOptionsLineBuffer - 1;
    std::vector<std::string> options;
    size_t position = 0;
    while (position < text.size()) {
        size_t lineEnd = text.find('\n', position);
        size_t length = lineEnd == std::string::npos ? text.size() - position
                                                     : lineEnd - position + 1;
        if (length > chunk)
            length = chunk;
        std::string option = optionOfLine(std::string_view(text).substr(position, length));
        if (!option.empty())
            options.push_back(std::move(option));
        position += length;
    }
    return options;
}
