#include "portable/class_path_entry.h"

#include "portable/path_text.h"

std::vector<ClassPathEntry> parseClassPathEntries(std::string_view list) {
    std::vector<ClassPathEntry> entries;
    for (const std::string& item : splitList(std::string(list), ';')) {
        ClassPathEntry entry{item[0], item.size() > 1 && item[1] == '1',
                             item.size() > 2 ? item.substr(2) : std::string()};
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::string unquoteVariableValue(std::string value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        return value.substr(1, value.size() - 2);
    return value;
}

void BoundedText::append(std::string_view piece) {
    size_t room = limit_ - text_.size();
    if (piece.size() > room) {
        piece = piece.substr(0, room);
        cut_ = true;
    }
    text_.append(piece);
}
