// Exercises the launcher core from the inside for the integration tests: it is packed like
// a launcher and prints what the core read, as JSON in UTF-8 on standard output.
//
//   core-probe.exe words [...]          the words of its own command line
//   core-probe.exe config KEY [...]     initLauncher, then every accessor's view of each key
//   core-probe.exe log-threads N        initLauncher, then two threads log N lines each
#include <cstdio>
#include <string>
#include <thread>

#include "core/configuration.h"
#include "core/locale.h"
#include "core/log.h"
#include "core/process.h"
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

} // namespace

int main() {
    ArgumentList words;
    splitCommandLine(GetCommandLineW(), words);
    if (words.size() > 1 && words[1] == L"words") {
        printWords(words);
        return 0;
    }
    initLauncher(GetModuleHandleW(nullptr), &words);
    std::wstring command = words.size() > 1 ? words[1] : L"";
    if (command == L"config") {
        printConfig(words, 2);
    } else if (command == L"log-threads" && words.size() > 2) {
        logFromTwoThreads(_wtoi(words[2].c_str()));
    } else {
        fprintf(stderr, "unknown command\n");
        return 2;
    }
    fflush(stdout);
    return 0;
}
