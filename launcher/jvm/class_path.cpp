#include "jvm/class_path.h"

#include <vector>

#include "core/config_keys.h"
#include "core/configuration.h"
#include "core/errors.h"
#include "core/expansion.h"
#include "core/included_files_cache.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/process.h"
#include "portable/message_text.h"
#include "win/environment.h"
#include "win/win32.h"

namespace {

constexpr char kClassPathOptionName[] = "-Djava.class.path=";
constexpr char kRuntimeLibrary[] = ".quillon\\qlnruntime.jar";

bool runtimeLibraryOnClassPath = true;

// A variable's text as a buffer of kMaxText would hold it; none when it is not defined.
std::optional<std::string> environmentValue(const std::string& name) {
    std::optional<std::string> value = readEnvironment(name.c_str());
    if (value)
        *value = cutToBuffer(std::move(*value), kMaxText);
    return value;
}

void appendEntry(BoundedText& classPath, const std::string& entry) {
    classPath.append(entry);
    classPath.append(";");
}

// Archives in a directory, jar files before zip files.
bool appendAllArchives(BoundedText& classPath, const std::string& directory) {
    bool exists = appendArchives(classPath, directory, "jar");
    appendArchives(classPath, directory, "zip");
    return exists;
}

void appendRuntimeLibrary(BoundedText& classPath) {
    std::string directory =
        normalizePath(getConfigString(key::kInstallationDirectory), /*keepCase=*/true);
    if (directory.empty() || directory.back() != '\\')
        directory += '\\';
    appendEntry(classPath, directory + kRuntimeLibrary);
}

// A variable that is set but empty counts as missing, and so does an entry of unknown
// type: a required one stops the launcher with the message of a missing path.
void appendConfiguredEntry(BoundedText& classPath, const ClassPathEntry& entry) {
    std::string value = entry.value;
    expandVariablesNarrow(value);
    switch (entry.type) {
    case 'A':
    case 'D': {
        std::string paths = resolvePathList(value);
        appendEntry(classPath, paths);
        if (entry.required && !fileExists(paths))
            fatalMessage(key::kMessageClassPathEntryMissing, value.c_str());
        break;
    }
    case 'E': {
        std::optional<std::string> text = environmentValue(value);
        if (!text) {
            if (entry.required)
                fatalMessage(key::kMessageClassPathVariableMissing, value.c_str());
            break;
        }
        std::string unquoted = unquoteVariableValue(*text);
        if (unquoted.empty()) {
            if (entry.required)
                fatalMessage(key::kMessageClassPathEntryMissing, value.c_str());
            break;
        }
        classPath.append(unquoted);
        if (unquoted.back() != ';')
            classPath.append(";");
        break;
    }
    case 'S':
        if (!appendAllArchives(classPath, resolvePath(value)) && entry.required)
            fatalMessage(key::kMessageClassPathEntryMissing, value.c_str());
        break;
    default:
        logError("class path entry of unknown type %c: %s", entry.type, value.c_str());
        if (entry.required)
            fatalMessage(key::kMessageClassPathEntryMissing, value.c_str());
        break;
    }
}

} // namespace

void setRuntimeLibraryOnClassPath(bool enabled) { runtimeLibraryOnClassPath = enabled; }

bool appendArchives(BoundedText& classPath, const std::string& directory,
                    const std::string& extension) {
    if (!fileExists(directory))
        return false;
    for (const std::string& name : listDirectory(directory, extension))
        appendEntry(classPath, resolvePath(directory + "\\" + name));
    return true;
}

void appendConfiguredClassPath(BoundedText& classPath) {
    std::string list = getConfigString(key::kClassPath);
    logMessage("classpath entry %s", list.c_str());
    std::vector<ClassPathEntry> entries = parseClassPathEntries(list);
    logMessage("classpath entries %d", static_cast<int>(entries.size()));
    for (const ClassPathEntry& entry : entries)
        appendConfiguredEntry(classPath, entry);
}

std::string buildClassPathOption(const ClassPathSlots& slots) {
    // The JVM takes an option of any length; a cut would drop archives without a word.
    BoundedText classPath(std::string::npos);
    classPath.append(kClassPathOptionName);
    if (slots.prepend)
        appendEntry(classPath, *slots.prepend);
    // Without a launcher temp directory there is nothing of its own to add; its "user"
    // folder must not turn into "\user" on the current drive.
    const std::string& tempDirectory = getIncludedFilesDirectory();
    if (!tempDirectory.empty()) {
        appendAllArchives(classPath, tempDirectory);
        appendAllArchives(classPath, tempDirectory + "\\user");
    }
    if (runtimeLibraryOnClassPath && getLauncherFlavor() == 'q')
        appendRuntimeLibrary(classPath);
    if (slots.replacement)
        classPath.append(*slots.replacement);
    else
        appendConfiguredClassPath(classPath);
    if (slots.append) {
        if (!classPath.endsWith(';'))
            classPath.append(";");
        classPath.append(*slots.append);
    }
    return classPath.text();
}
