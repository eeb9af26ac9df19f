#pragma once

#include <cstdarg>
#include <string>

// Formats a log line with the Windows runtime's printf conventions ("%s" and "%hs" narrow,
// "%S", "%ls" and "%ws" UTF-16, "%c"/"%C" likewise, "%I64d" a 64-bit integer) into UTF-8.
// Every string argument goes through the matching converter, so text outside the ANSI code
// page reaches the log intact. Width and precision count characters of the argument.
// A conversion it does not know ends the formatting: the rest of the format is copied as it
// is, since the types of the remaining arguments are then unknown.
struct LogTextConverters {
    std::string (*narrowToUtf8)(const std::string& narrow);
    std::string (*wideToUtf8)(const std::wstring& wide);
};

std::string formatLogLine(const LogTextConverters& converters, const char* format,
                          va_list arguments);
