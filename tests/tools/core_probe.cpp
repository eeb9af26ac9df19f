// Exercises the launcher core from the inside for the integration tests: it is packed like
// a launcher and prints what the core read, as JSON in UTF-8 on standard output.
//
//   core-probe.exe words [...]          the words of its own command line
//   core-probe.exe config KEY [...]     initLauncher, then every accessor's view of each key
//   core-probe.exe log-threads N        initLauncher, then two threads log N lines each
//   core-probe.exe paths [PATH...]      the launcher's own path forms, the current directory,
//                                       and what the path services make of each PATH
//   core-probe.exe list DIR EXT         listDirectory
//   core-probe.exe temp                 the temporary directory and a pid file name in it
//   core-probe.exe privilege            whether the run is privileged, its user, and the
//                                       descriptor (SDDL) of a launcher temp directory
//   core-probe.exe expand TEXT          extracts the included files, then prints both forms
//                                       of expandVariables and expandVariablesNarrow
//   core-probe.exe extract [DIR...]     extracts the included files, creates each DIR (all
//                                       its levels, a file "probe.txt" in the innermost) in
//                                       the launcher temp directory and lists the directory
//   core-probe.exe native-path          prependNativeLibraryPath, then both views of PATH
//   core-probe.exe options [WORD...]    extracts the included files, then buildJvmOptions with
//                                       the program path and the WORDs as the command line
//                                       and "-Dlauncher.prop=1" as the launcher's property
//   core-probe.exe setup-options [...]  the same without the runtime library jar, as the
//                                       installer builds it
//
// A first word "__qln_lang_restart" marks a language-restart run, as in the launchers.
// expand, extract and the options commands end through exitLauncher(0), which removes the
// launcher temp directory.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "core/configuration.h"
#include "core/errors.h"
#include "core/expansion.h"
#include "core/locale.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/privilege.h"
#include "core/process.h"
#include "core/temp_lifetime.h"
#include "jvm/class_path.h"
#include "jvm/jvm_options.h"
#include "portable/path_text.h"
#include "win/encoding.h"

namespace {

std::string jsonString(const std::wstring& text) {
    std::string out = "\"";
    for (wchar_t c : text) {
        if (c == L'"' || c == L'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += toNarrow(std::wstring(1, c), CP_UTF8);
        }
    }
    return out + "\"";
}

void printWords(const ArgumentList& words) {
    std::string out = "[";
    for (size_t i = 0; i < words.size(); ++i)
        out += (i ? ", " : "") + jsonString(words[i]);
    printf("%s]\n", out.c_str());
}

void printConfig(const ArgumentList& words, size_t firstKey) {
    std::string language, country;
    std::string out = "{\"language\": ";
    out += getLocaleLanguage(language) ? jsonString(toWide(language)) : "null";
    out += ", \"country\": ";
    out += getLocaleCountry(country) ? jsonString(toWide(country)) : "null";
    out += ", \"product\": " + jsonString(getProductWordW()) + ", \"keys\": {";
    for (size_t i = firstKey; i < words.size(); ++i) {
        int32_t key = _wtoi(words[i].c_str());
        char head[64];
        snprintf(head, sizeof head, "%s\"%d\": {", i > firstKey ? ", " : "", key);
        out += head;
        out += "\"string\": " + jsonString(toWide(getConfigString(key), 28591));
        out += ", \"wide\": " + jsonString(getConfigWideString(key));
        out += ", \"message\": " + jsonString(getConfigMessage(key));
        out += ", \"int\": " + std::to_string(getConfigInt(key));
        out += ", \"color\": " + std::to_string(getConfigColor(key)) + "}";
    }
    printf("%s}}\n", out.c_str());
}

void logFromTwoThreads(int lines) {
    auto writer = [lines](char name) {
        for (int i = 0; i < lines; ++i)
            logMessage("thread %c line %d with some text to make the line long enough", name, i);
    };
    std::thread first(writer, 'A');
    std::thread second(writer, 'B');
    first.join();
    second.join();
}


// Narrow texts are in the ANSI code page, like the file interfaces use them.
std::string jsonNarrow(const std::string& text) { return jsonString(toWide(text, CP_ACP)); }

std::string jsonBool(bool value) { return value ? "true" : "false"; }

std::wstring currentDirectory() {
    std::vector<wchar_t> buffer(GetCurrentDirectoryW(0, nullptr) + 1);
    DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    return std::wstring(buffer.data(), length);
}

void printPaths(const ArgumentList& words, size_t first) {
    const LauncherDirectory& directory = getExecutableDirectory();
    std::string out = "{\"exe\": " + jsonNarrow(getExecutablePath());
    out += ", \"exeW\": " + jsonString(getExecutablePathW());
    out += ", \"dir\": " + jsonNarrow(directory.narrow);
    out += ", \"dirNarrowWidened\": " + jsonString(directory.narrowWidened);
    out += ", \"dirLong\": " + jsonString(directory.longForm);
    out += ", \"cwd\": " + jsonString(currentDirectory()) + ", \"inputs\": {";
    for (size_t i = first; i < words.size(); ++i) {
        const std::wstring& wide = words[i];
        std::string narrow = toNarrow(wide, CP_ACP);
        out += (i > first ? ", " : "") + jsonString(wide) + ": {";
        out += "\"relative\": " + jsonBool(isRelativePath(narrow));
        out += ", \"relativeW\": " + jsonBool(isRelativePath(wide));
        out += ", \"resolve\": " + jsonNarrow(resolvePath(narrow));
        out += ", \"resolveWNarrowDir\": " + jsonString(resolvePathW(wide, true));
        out += ", \"resolveWLongDir\": " + jsonString(resolvePathW(wide, false));
        out += ", \"normalize\": " + jsonNarrow(normalizePath(narrow, false));
        out += ", \"normalizeKeepCase\": " + jsonNarrow(normalizePath(narrow, true));
        out += ", \"normalizeW\": " + jsonString(normalizePathW(wide, false, false));
        out += ", \"exists\": " + jsonBool(fileExists(narrow));
        out += ", \"existsW\": " + jsonBool(fileExistsW(wide)) + "}";
    }
    printf("%s}}\n", out.c_str());
}

void printListing(const std::wstring& directory, const std::wstring& extension) {
    std::vector<std::string> names =
        listDirectory(toNarrow(directory, CP_ACP), toNarrow(extension, CP_ACP));
    std::string out = "[";
    for (size_t i = 0; i < names.size(); ++i)
        out += (i ? ", " : "") + jsonNarrow(names[i]);
    printf("%s]\n", out.c_str());
}

void printTemp() {
    std::string out = "{\"narrow\": " + jsonNarrow(getTempDirectory());
    out += ", \"wide\": " + jsonString(getTempDirectoryW());
    out += ", \"pidFile\": " + jsonNarrow(makePidTempFileName(4242)) + "}";
    printf("%s\n", out.c_str());
}

void printPrivilege() {
    std::string out = "{\"privileged\": " + std::string(isPrivilegedRun() ? "true" : "false");
    out += ", \"localSystem\": " + std::string(isLocalSystemRun() ? "true" : "false");
    out += ", \"user\": " + jsonString(currentUserSid());
    out += ", \"runDirectorySddl\": " + jsonString(protectedDirectorySddl()) + "}";
    printf("%s\n", out.c_str());
}

[[noreturn]] void expandAndExit(const std::wstring& text) {
    int status = extractIncludedFiles(true);
    std::wstring longForms = text, ansiForms = text;
    std::string narrow = toNarrow(text, CP_ACP);
    bool longComplete = expandVariables(longForms, false);
    bool ansiComplete = expandVariables(ansiForms, true);
    bool narrowComplete = expandVariablesNarrow(narrow);
    std::string out = "{\"status\": " + std::to_string(status);
    out += ", \"tempDir\": " + jsonNarrow(getLauncherTempDirectory());
    out += ", \"long\": " + jsonString(longForms) + ", \"longComplete\": " + jsonBool(longComplete);
    out += ", \"ansi\": " + jsonString(ansiForms) + ", \"ansiComplete\": " + jsonBool(ansiComplete);
    out += ", \"narrow\": " + jsonNarrow(narrow);
    out += ", \"narrowComplete\": " + jsonBool(narrowComplete) + "}";
    printf("%s\n", out.c_str());
    exitLauncher(0);
}

// FNV-1a (64 bit) of a file's bytes, so that tests can check contents the launcher deletes.
std::string fileHash(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "null";
    unsigned long long hash = 14695981039346656037ULL;
    unsigned char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        for (DWORD i = 0; i < got; ++i)
            hash = (hash ^ chunk[i]) * 1099511628211ULL;
    CloseHandle(file);
    char text[24];
    snprintf(text, sizeof text, "\"%016llx\"", hash);
    return text;
}

// Every entry below `directory` as relative name -> null for a directory, else
// {"size": bytes, "fnv1a": hash}.
void listTree(const std::wstring& directory, const std::wstring& prefix, std::string& out) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((directory + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        std::wstring relative = prefix + name;
        std::wstring path = directory + L"\\" + name;
        out += (out.size() > 1 ? ", " : "") + jsonString(relative) + ": ";
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out += "null";
            listTree(path, relative + L"\\", out);
        } else {
            unsigned long long size =
                (static_cast<unsigned long long>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
            out += "{\"size\": " + std::to_string(size) + ", \"fnv1a\": " + fileHash(path) + "}";
        }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

[[noreturn]] void extractAndExit(const ArgumentList& words, size_t first) {
    int status = extractIncludedFiles(true);
    std::wstring directory = toWide(getLauncherTempDirectory(), CP_ACP);
    for (size_t i = first; i < words.size() && !directory.empty(); ++i) {
        std::wstring path = directory;
        size_t start = 0;
        while (start <= words[i].size()) {
            size_t end = words[i].find(L'\\', start);
            if (end == std::wstring::npos)
                end = words[i].size();
            path += L"\\" + words[i].substr(start, end - start);
            CreateDirectoryW(path.c_str(), nullptr);
            start = end + 1;
        }
        HANDLE file = CreateFileW((path + L"\\probe.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    std::string entries = "{";
    if (!directory.empty())
        listTree(directory, L"", entries);
    std::string out = "{\"status\": " + std::to_string(status);
    out += ", \"tempDir\": " + jsonNarrow(getLauncherTempDirectory());
    out += ", \"includedFilesEnd\": " + std::to_string(getIncludedFilesEnd());
    out += ", \"entries\": " + entries + "}}";
    printf("%s\n", out.c_str());
    exitLauncher(0);
}

void printNativePath() {
    prependNativeLibraryPath();
    std::vector<wchar_t> buffer(GetEnvironmentVariableW(L"PATH", nullptr, 0) + 1);
    DWORD length = GetEnvironmentVariableW(L"PATH", buffer.data(), buffer.size());
    const wchar_t* runtimeView = _wgetenv(L"PATH");
    std::string out = "{\"path\": " + jsonString(std::wstring(buffer.data(), length));
    out += ", \"runtimePath\": " + (runtimeView ? jsonString(runtimeView) : "null") + "}";
    printf("%s\n", out.c_str());
}

[[noreturn]] void printOptionsAndExit(const ArgumentList& words, size_t first) {
    int status = extractIncludedFiles(true);
    ArgumentList commandLine = {words[0]};
    commandLine.insert(commandLine.end(), words.begin() + first, words.end());
    std::vector<std::string> options = buildJvmOptions(commandLine, {"-Dlauncher.prop=1"});
    std::string out = "{\"status\": " + std::to_string(status);
    out += ", \"tempDir\": " + jsonNarrow(getLauncherTempDirectory()) + ", \"options\": [";
    for (size_t i = 0; i < options.size(); ++i)
        out += (i ? ", " : "") + jsonNarrow(options[i]);
    printf("%s]}\n", out.c_str());
    fflush(stdout);
    exitLauncher(0);
}

} // namespace

int main() {
    // The cleanup that the launcher temp directory starts is a copy of this program.
    if (runCleanupIfAsked())
        return 0;
    ArgumentList words;
    splitCommandLine(GetCommandLineW(), words);
    if (words.size() > 1 && words[1] == L"words") {
        printWords(words);
        return 0;
    }
    size_t at = 1;
    if (words.size() > at && words[at] == L"__qln_lang_restart") {
        setLanguageRestart();
        ++at;
    }
    initLauncher(GetModuleHandleW(nullptr), &words);
    std::wstring command = words.size() > at ? words[at] : L"";
    if (command == L"config") {
        printConfig(words, at + 1);
    } else if (command == L"log-threads" && words.size() > at + 1) {
        logFromTwoThreads(_wtoi(words[at + 1].c_str()));
    } else if (command == L"paths") {
        printPaths(words, at + 1);
    } else if (command == L"list" && words.size() > at + 2) {
        printListing(words[at + 1], words[at + 2]);
    } else if (command == L"temp") {
        printTemp();
    } else if (command == L"privilege") {
        printPrivilege();
    } else if (command == L"expand" && words.size() > at + 1) {
        expandAndExit(words[at + 1]);
    } else if (command == L"extract") {
        extractAndExit(words, at + 1);
    } else if (command == L"native-path") {
        printNativePath();
    } else if (command == L"options" || command == L"setup-options") {
        setRuntimeLibraryOnClassPath(command == L"options");
        printOptionsAndExit(words, at + 1);
    } else {
        fprintf(stderr, "unknown command\n");
        return 2;
    }
    fflush(stdout);
    return 0;
}
