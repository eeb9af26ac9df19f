// Runs the runtime search of the launcher core from the inside for the integration tests:
// packed like a launcher, it reads its configuration and then, by its first argument:
//
//   runtime-probe.exe load                  LoadDLL(true, null, false)
//   runtime-probe.exe load DIR              LoadDLL(true, DIR, false)
//   runtime-probe.exe load FILE exe         LoadDLL(true, FILE, true)
//   runtime-probe.exe search                searchJvm
//   runtime-probe.exe register FILE         registerLocatedJvm(FILE)
//
// It prints "name=value" lines in the ANSI code page: for load "loaded", "bound" (whether
// JNI_CreateJavaVM is bound), "jvmHome" and "PATH"; for search "type", "javaExe" and
// "location".
#include <cstdio>
#include <string>
#include <vector>

#include "core/configuration.h"
#include "core/process.h"
#include "jvm/runtime_registry.h"
#include "jvm/runtime_search.h"
#include "win/encoding.h"

namespace {

std::string environmentPath() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetEnvironmentVariableA("PATH", buffer.data(), buffer.size());
        if (length < buffer.size())
            return std::string(buffer.data(), length);
        buffer.resize(length + 1);
    }
}

} // namespace

int main() {
    ArgumentList words;
    splitCommandLine(GetCommandLineW(), words);
    initLauncher(GetModuleHandleW(nullptr), &words);
    std::vector<std::string> args;
    for (size_t i = 1; i < words.size(); ++i)
        args.push_back(toNarrow(words[i]));
    std::string command = args.empty() ? "" : args[0];
    if (command == "load") {
        const char* location = args.size() > 1 ? args[1].c_str() : nullptr;
        bool isJavaExe = args.size() > 2 && args[2] == "exe";
        bool loaded = LoadDLL(true, location, isJavaExe);
        printf("loaded=%d\nbound=%d\njvmHome=%s\nPATH=%s\n", loaded ? 1 : 0,
               getCreateJavaVM() ? 1 : 0, getJvmHome().c_str(), environmentPath().c_str());
    } else if (command == "search") {
        std::string javaExe, location;
        LocationType type = searchJvm(javaExe, location);
        printf("type=%d\njavaExe=%s\nlocation=%s\n", static_cast<int>(type), javaExe.c_str(),
               location.c_str());
    } else if (command == "register" && args.size() > 1) {
        registerLocatedJvm(args[1]);
    } else {
        fprintf(stderr, "unknown command\n");
        return 2;
    }
    fflush(stdout);
    return 0;
}
