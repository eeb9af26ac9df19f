#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// One item of the configured class path: a type letter, "1" for a required item, a value.
//   'A', 'D'  one path, or several separated by ";" once expanded
//   'S'       a directory whose jar and zip files are added
//   'E'       an environment variable whose text is added
struct ClassPathEntry {
    char type;
    bool required;
    std::string value;  // not yet expanded
};

// Splits the configured list at ";"; empty items (";;") are dropped.
std::vector<ClassPathEntry> parseClassPathEntries(std::string_view list);

// A variable's text is often written in quotes to survive blanks; they are not part of it.
std::string unquoteVariableValue(std::string value);

// The class path option lives in a buffer of 48000 bytes.
constexpr size_t kMaxClassPathOption = 47999;

// Text that never grows past its limit: what does not fit is cut off, and cut() says so.
class BoundedText {
public:
    explicit BoundedText(size_t limit) : limit_(limit) {}

    void append(std::string_view piece);
    bool endsWith(char c) const { return !text_.empty() && text_.back() == c; }
    const std::string& text() const { return text_; }
    bool cut() const { return cut_; }

private:
    size_t limit_;
    std::string text_;
    bool cut_ = false;
};
