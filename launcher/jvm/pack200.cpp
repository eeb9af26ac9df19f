#include "jvm/pack200.h"

#include <cstdio>

#include "core/config_keys.h"
#include "core/errors.h"
#include "core/log.h"
#include "core/paths.h"
#include "win/handles.h"

namespace {

constexpr size_t kPackSuffixLength = 5;  // ".pack"

std::string withoutPackSuffix(const std::string& path) {
    return path.substr(0, path.size() - kPackSuffixLength);
}

} // namespace

void unpackPack200Runtime(const std::string& runtimeDirectory) {
    bool announced = false;
    unpackPack200Directory(runtimeDirectory, "lib", announced);
    unpackPack200Directory(runtimeDirectory, "lib\\ext", announced);
    if (announced)
        logMessage("Unpacking JRE done");
}

void unpackPack200Directory(const std::string& runtimeDirectory, const std::string& subdirectory,
                            bool& announced) {
    std::string directory = runtimeDirectory + "\\" + subdirectory;
    for (const std::string& name : listDirectory(directory, ".jar.pack")) {
        std::string jarName = subdirectory + "\\" + withoutPackSuffix(name);
        std::string jarPath = runtimeDirectory + "\\" + jarName;
        logMessage("checking %s", jarPath.c_str());
        if (fileExists(jarPath))
            continue;
        if (!announced) {
            logMessage("Unpacking JRE");
            fputs("Preparing JRE ...\n", stdout);
            fflush(stdout);
            announced = true;
        }
        runUnpack200(runtimeDirectory, runtimeDirectory + "\\" + jarName + ".pack");
    }
}

void runUnpack200(const std::string& runtimeHome, const std::string& packFile) {
    std::string jarPath = withoutPackSuffix(packFile);
    if (!fileExists(packFile)) {
        logMessage("pack path doesn't exists");
        return;
    }
    std::string program = runtimeHome + "\\bin\\unpack200.exe";
    std::string commandLine = "-r \"" + packFile + "\" \"" + jarPath + "\"";
    logMessage("unpack program %s", program.c_str());
    logMessage("unpack command line %s", commandLine.c_str());
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                        NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &process)) {
        logMessage("could not create unpack process");
        fatalMessage(key::kMessageInternalError, "20");
    }
    UniqueKernelHandle processHandle(process.hProcess), threadHandle(process.hThread);
    logMessage("waiting for unpack200 to finish");
    WaitForSingleObject(process.hProcess, INFINITE);
    logMessage("unpack done");
    if (!DeleteFileA(packFile.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
        logMessage("could not delete packed file (error %d)", static_cast<int>(GetLastError()));
}
