#include "core/log.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <optional>

#include "core/paths.h"
#include "portable/log_format.h"
#include "portable/message_text.h"
#include "win/encoding.h"
#include "win/environment.h"
#include "win/win32.h"

#include <fcntl.h>
#include <io.h>

namespace {

std::mutex logLock;
std::optional<std::wstring> logPath;
FILE* logFile = nullptr;
bool logInitialized = false;
bool logPathShown = false;
bool logRequested = false;
bool directProcessEnd = false;
LogPolicy logPolicy = LogPolicy::OnRequest;

constexpr size_t kEnvironmentValueSize = 6000;

// The log is UTF-8: a path under any user name stays readable for whoever gets it for support.
std::string ansiToUtf8(const std::string& narrow) { return toNarrow(toWide(narrow), CP_UTF8); }
std::string wideToUtf8(const std::wstring& wide) { return toNarrow(wide, CP_UTF8); }
const LogTextConverters kLogText{ansiToUtf8, wideToUtf8};

// The value as a buffer of kEnvironmentValueSize holds it; nothing when it does not fit.
std::optional<std::wstring> boundedEnvironmentValue(const wchar_t* name) {
    std::optional<std::wstring> value = readEnvironmentW(name);
    if (!value || value->empty() || value->size() >= kEnvironmentValueSize)
        return std::nullopt;
    return value;
}

bool environmentValueIsYes(const wchar_t* name) {
    return boundedEnvironmentValue(name).value_or(L"") == L"yes";
}

bool isDirectory(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring logDirectory() {
    std::optional<std::wstring> tmp = boundedEnvironmentValue(L"TMP");
    if (tmp && isDirectory(*tmp))
        return *tmp;
    if (isDirectory(L"c:\\"))
        return L"c:\\";
    if (isDirectory(L"\\"))
        return L"\\";
    return L".";
}

// A log file is always made new: a name someone planted beforehand (a link to another file,
// in a temporary directory every user may write) is never opened and written through.
FILE* createNewLog(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_TEXT);
    if (descriptor < 0) {
        CloseHandle(file);
        return nullptr;
    }
    FILE* stream = _wfdopen(descriptor, L"w");
    if (!stream)
        _close(descriptor);
    return stream;
}

std::optional<std::wstring> uniqueLogName() {
    std::wstring directory = logDirectory();
    if (directory.back() != L'\\' && directory.back() != L'/')
        directory += L'\\';
    // Only a name that exists is taken; any failed query (a path too long, a directory
    // without access) counts as a free name, or the search would run to the end of the
    // numbers. Opening the log then fails and is handled like any other failure to open it.
    for (unsigned number = 2; number != 0; ++number) {
        std::wstring candidate = directory + L"qln_nlog_" + std::to_wstring(number);
        if (GetFileAttributesW(candidate.c_str()) == INVALID_FILE_ATTRIBUTES)
            return candidate;
    }
    return std::nullopt;
}

// The classic 24-character time form, day of month with two digits.
std::string currentTimeText() {
    time_t now = time(nullptr);
    char text[64] = "";
    if (const tm* local = localtime(&now))
        strftime(text, sizeof text, "%a %b %d %H:%M:%S %Y", local);
    return text;
}

void deleteLogAtExit() {
    if (directProcessEnd || logPathShown || !logPath)
        return;
    if (logFile) {
        fclose(logFile);
        logFile = nullptr;
    }
    DeleteFileW(logPath->c_str());
}

// Called with logLock held.
void ensureLog() {
    if (logPath && !logFile)
        logFile = _wfopen(logPath->c_str(), L"a");
    if (logInitialized)
        return;
    logInitialized = true;
    bool requested = logRequested;
    if (environmentValueIsYes(L"TARVO_LOG"))
        requested = true;
    if (environmentValueIsYes(L"QUILLON_LOG"))
        requested = true;
    if (logPolicy == LogPolicy::Off || (logPolicy == LogPolicy::OnRequest && !requested))
        return;
    if (logPolicy == LogPolicy::AlwaysDeleteUnlessKept && !requested)
        atexit(deleteLogAtExit);

    // A name taken between the search and the creation sends the search on.
    for (int attempt = 0; attempt < 16 && !logFile; ++attempt) {
        logPath = uniqueLogName();
        if (!logPath)
            break;
        logFile = createNewLog(*logPath);
        if (!logFile && GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (!logFile) {
        // The fallback is reused: what is there goes first, a link as a link.
        logPath = L"c:\\qln_nlog";
        DeleteFileW(logPath->c_str());
        logFile = createNewLog(*logPath);
        if (!logFile)
            return;
    }
    std::string modulePath = wideToUtf8(cutToBuffer(getModuleFileName(), kMaxText));
    fprintf(logFile, "Started executable %s at %s\n\n", modulePath.c_str(),
            ansiToUtf8(currentTimeText()).c_str());
    fflush(logFile);
}

void writeLine(const char* prefix, const char* format, va_list arguments) {
    std::lock_guard<std::mutex> lock(logLock);
    ensureLog();
    if (!logFile)
        return;
    std::string text = formatLogLine(kLogText, format, arguments);
    fputs(prefix, logFile);
    fwrite(text.data(), 1, text.size(), logFile);
    fputs("\n", logFile);
    fclose(logFile);
    logFile = nullptr;
}

} // namespace

void logMessage(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    writeLine("", format, arguments);
    va_end(arguments);
}

void logError(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    writeLine("ERROR: ", format, arguments);
    va_end(arguments);
}

void requestLog() { logRequested = true; }

void setLogPolicy(LogPolicy policy) { logPolicy = policy; }

std::optional<std::wstring> getLogPath() {
    logPathShown = true;
    return logPath;
}

void markDirectProcessEnd() { directProcessEnd = true; }
