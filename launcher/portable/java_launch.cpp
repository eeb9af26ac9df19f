#include "portable/java_launch.h"

#include "portable/message_text.h"

namespace {

std::string property(const char* name, const std::string& value) {
    return cutToBuffer("-D" + std::string(name) + "=" + value, kPropertyBuffer);
}

} // namespace

std::vector<std::string> launcherSystemProperties(const LauncherFacts& facts) {
    std::vector<std::string> options;
    if (!facts.semaphoreName.empty())
        options.push_back(property("tarvo.semaphoreName", facts.semaphoreName));
    if (facts.manualJre)
        options.push_back(property("tarvo.manualJre", "true"));
    if (facts.quillonFlavor)
        options.push_back(property("tarvo.isQuillon", "true"));
    if (facts.service)
        options.push_back(property("tarvo.isService", "true"));
    options.push_back(property("tarvo.moduleName", facts.executablePath));
    options.push_back(property("sun.java.command", facts.executablePath));
    if (facts.processCommFile)
        options.push_back(property("tarvo.processCommFile", *facts.processCommFile));
    options.push_back(property("tarvo.tempDir", facts.tempDirectory));
    options.push_back(
        property("tarvo.unextractedPosition", std::to_string(facts.unextractedPosition)));
    std::string libraryPath(kLibraryPathOption);
    if (facts.path.size() <= kMaxLibraryPath)
        libraryPath += facts.path;
    options.push_back(libraryPath);
    if (facts.consoleCodepage)
        options.push_back(
            property("tarvo.consoleCodepage", "cp" + std::to_string(*facts.consoleCodepage)));
    return options;
}

int64_t unextractedPosition(bool languageRestart, uint32_t includedFilesStart,
                            uint32_t includedFilesEnd) {
    if (languageRestart)
        return -1;
    return includedFilesEnd != 0 ? includedFilesEnd : includedFilesStart;
}

std::string launcherClassName(char flavor) {
    std::string name = flavor == 'q' ? "com.quillon.runtime.launcher.WinLauncher"
                                     : "com.tarvo.runtime.WinLauncher";
    for (char& c : name)
        if (c == '.')
            c = '/';
    return name;
}
