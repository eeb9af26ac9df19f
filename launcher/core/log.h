#pragma once

#include <optional>
#include <string>

// The diagnostic log. Lines are formatted with the Windows runtime's printf conventions:
// "%s" narrow, "%S" UTF-16, "%I64d" a 64-bit integer.
void logMessage(const char* format, ...) __attribute__((format(ms_printf, 1, 2)));
void logError(const char* format, ...) __attribute__((format(ms_printf, 1, 2)));

// The log-creation switch of the command line.
void requestLog();

// The application and service launchers write a log only on request; the installer
// always writes one and deletes it at a normal end unless it was requested or shown. The
// cleanup after an exit writes none: its log would be taken for the run's.
enum class LogPolicy { OnRequest, AlwaysDeleteUnlessKept, Off };
void setLogPolicy(LogPolicy policy);

// The log file's path, none before the log exists. Marks the path as shown to the user.
std::optional<std::wstring> getLogPath();

// Set by exitLauncher: the process ends directly, so the at-exit deletion must not run.
void markDirectProcessEnd();
