#include "jvm/runtime_search.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "core/config_keys.h"
#include "core/configuration.h"
#include "core/dll_search.h"
#include "core/errors.h"
#include "core/expansion.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/privilege.h"
#include "jvm/java_version.h"
#include "jvm/pack200.h"
#include "jvm/runtime_registry.h"
#include "portable/path_text.h"
#include "win/encoding.h"
#include "win/environment.h"
#include "win/handles.h"

namespace {

CreateJavaVMFunction createJavaVM = nullptr;

const char kPreferredLocationFile[] = "\\.quillon\\pref_jre.cfg";
const char kInstallerLocationFile[] = "\\.quillon\\inst_jre.cfg";
const char* const kJvmSubDirectories[] = {"hotspot", "client", "server", "classic", "jrockit"};
constexpr size_t kJvmTypeSize = 200;

struct VersionRange {
    std::string min;
    std::string max;
};

VersionRange configuredRange() {
    return {getConfigString(key::kMinJavaVersion), getConfigString(key::kMaxJavaVersion)};
}

// The whole value, however long; nothing when the variable is unset.
std::optional<std::string> environmentValue(const char* name) { return readEnvironment(name); }

// Sets PATH for the system's loader and for the C runtime's copy; nothing removes it.
void setPath(const std::optional<std::string>& value) {
    const char* text = value ? value->c_str() : "";
    if (SetEnvironmentVariableA("PATH", value ? text : nullptr))
        logMessage("Setting PATH %s", text);
    else
        logMessage("Setting PATH %s failed with error %d", text, static_cast<int>(GetLastError()));
    _putenv(("PATH=" + (value ? *value : std::string())).c_str());
}

std::string directoryOf(const std::string& path) {
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// "c:..." and "\\server..." entries are absolute; the fallback pass passes them over.
bool isAbsoluteEntry(const std::string& text) {
    return (text.size() > 1 && text[1] == ':') || text.compare(0, 2, "\\\\") == 0;
}

bool isDirectoryEntry(char type) { return type == 'A' || type == 'B' || type == 'R'; }

LocationType examineEntry(char type, const std::string& text, std::string& javaExeOut,
                          const VersionRange& range) {
    switch (type) {
    case 'A':
    case 'B':
    case 'R':
        return checkDirectoryRuntime(javaExeOut, text, range.min, range.max, false)
                   ? kLocationDirectory
                   : kLocationNone;
    case 'E':
        return checkEnvironmentRuntime(javaExeOut, text.c_str(), range.min, range.max)
                   ? kLocationEnvironment
                   : kLocationNone;
    case 'S':
        return checkSearchPathRuntime(javaExeOut, range.min, range.max) ? kLocationSearchPath
                                                                        : kLocationNone;
    case 'Y':
        return findRegistryRuntime(javaExeOut, range.min, range.max) ? kLocationRegistry
                                                                     : kLocationNone;
    default:
        return kLocationNone;
    }
}

bool checkLocationFile(const char* fileName, const char* foundText, const char* usingText,
                       std::string& javaExeOut, std::string& locationOut,
                       const VersionRange& range) {
    std::string line;
    if (!readLocationFile(line, fileName))
        return false;
    logMessage(foundText, line.c_str());
    if (!checkDirectoryRuntime(javaExeOut, line, range.min, range.max, false))
        return false;
    logMessage("%s", usingText);
    locationOut = line;
    return true;
}

void showLoadFailureMessages(LocationType type, const std::string& locationText) {
    const char* text = locationText.c_str();
    switch (type) {
    case kLocationSearchPath:
        showMessage(key::kMessageNoRuntime, launcherBitness());
        showMessage(key::kMessageJvmLoadFailed, text);
        showMessage(key::kMessageJvmLoadFailedAlt, text);
        break;
    case kLocationDirectory:
        showMessage(key::kMessageJvmLoadFailedAlt, text);
        break;
    case kLocationEnvironment:
        showMessage(key::kMessageJvmLoadFailed, text);
        showMessage(key::kMessageJvmLoadFailedAlt, text);
        break;
    default:
        break;
    }
    showMessageW(key::kMessageStartFailed, nullptr);
}

} // namespace

bool LoadDLL(bool showMessages, const char* location, bool isJavaExe) {
    logMessage("LoadDLL (%d, %s, %d)", showMessages ? 1 : 0, location ? location : "(null)",
               isJavaExe ? 1 : 0);
    std::string javaExe, locationText;
    LocationType type = kLocationNone;
    if (!location) {
        type = searchJvm(javaExe, locationText);
        if (type == kLocationNone) {
            logError("No JVM found");
            if (showMessages)
                showMessage(key::kMessageNoRuntime, launcherBitness());
            return false;
        }
    } else {
        logMessage("Got JRE location %s (java exe: %d)", location, isJavaExe ? 1 : 0);
        VersionRange range = configuredRange();
        logMessage("MinVersion: %s, MaxVersion: %s", range.min.c_str(), range.max.c_str());
        bool accepted;
        if (isJavaExe) {
            // A java.exe named explicitly is probed afresh, cache or not.
            javaExe = location;
            accepted = checkJavaCandidate(javaExe, range.min, range.max, true, false);
        } else {
            accepted = checkDirectoryRuntime(javaExe, location, range.min, range.max, true);
        }
        if (!accepted) {
            logError("Provided JVM unusable");
            if (showMessages)
                showMessage(key::kMessageNoRuntime, launcherBitness());
            return false;
        }
        locationText = location;
        type = kLocationDirectory;
    }

    logMessage("Trying to load JVM-DLL from %s", javaExe.c_str());
    HMODULE module = loadJvmLibrary(javaExe);
    setJvmHome(javaExe);
    if (!module)
        logError("Could not get DLL-Handle.");
    bool bound = bindCreateJavaVM(module);
    if (!bound)
        logError("Could not load functions");
    if (module && bound) {
        logMessage("Loading of JVM-DLL successful");
        return true;
    }
    if (showMessages)
        showLoadFailureMessages(type, locationText);
    return false;
}

LocationType searchJvm(std::string& javaExeOut, std::string& locationOut) {
    logMessage("Searching for a JVM");
    std::string sequence = getConfigString(key::kSearchSequence);
    VersionRange range = configuredRange();

    if (checkLocationFile(kPreferredLocationFile, "Has preferred location %s",
                          "Using preferred location", javaExeOut, locationOut, range))
        return kLocationDirectory;

    std::vector<std::string> entries = splitList(sequence, ';');
    for (const std::string& entry : entries) {
        char type = entry[0];
        std::string text = entry.substr(1);
        expandVariablesNarrow(text);
        logMessage("Testing location %s (type %c)", text.c_str(), type);
        LocationType found = examineEntry(type, text, javaExeOut, range);
        if (found != kLocationNone) {
            if (found != kLocationRegistry)
                locationOut = text;
            return found;
        }
    }

    if (checkLocationFile(kInstallerLocationFile, "Has installer location %s",
                          "Using installer location", javaExeOut, locationOut, range))
        return kLocationDirectory;

    // A private runtime beside the launcher is taken whatever its version, when nothing
    // else in range was found. Absolute entries qualify only as "B".
    for (const std::string& entry : entries) {
        char type = entry[0];
        std::string text = entry.substr(1);
        if (!isDirectoryEntry(type) || (isAbsoluteEntry(text) && type != 'B'))
            continue;
        logMessage("Testing relative location %s", text.c_str());
        if (checkDirectoryRuntime(javaExeOut, text, range.min, range.max, true) &&
            fileExists(javaExeOut)) {
            logMessage("%s exists", javaExeOut.c_str());
            locationOut = text;
            return kLocationDirectory;
        }
    }

    if (findInstallationRuntime(HKEY_CURRENT_USER, javaExeOut, range.min, range.max)) {
        logMessage("found JRE from previous installation (user) %s", javaExeOut.c_str());
        return kLocationRegistry;
    }
    if (findInstallationRuntime(HKEY_LOCAL_MACHINE, javaExeOut, range.min, range.max)) {
        logMessage("found JRE from previous installation (machine) %s", javaExeOut.c_str());
        return kLocationRegistry;
    }
    logMessage("Search sequence finished");

    for (const char* variable : {"TARVO_JAVA_HOME", "QUILLON_JAVA_HOME"}) {
        if (checkEnvironmentRuntime(javaExeOut, variable, range.min, range.max)) {
            locationOut = variable;
            return kLocationEnvironment;
        }
    }
    return kLocationNone;
}

bool readLocationFile(std::string& lineOut, const char* fileName) {
    std::wstring path =
        normalizePathW(getConfigWideString(key::kInstallationDirectory), false, true);
    while (!path.empty() && path.back() == L'\\')
        path.pop_back();
    path += widenBytes(fileName);
    if (!mayReadSideFile(path))
        return false;
    FILE* file = _wfopen(path.c_str(), L"rt");
    if (!file)
        return false;
    std::vector<char> line(kMaxText);
    bool read = fgets(line.data(), static_cast<int>(line.size()), file) != nullptr;
    fclose(file);
    if (!read)
        return false;
    std::string text = line.data();
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    // An empty first line names no runtime.
    if (text.empty())
        return false;
    lineOut = text;
    return true;
}

bool checkDirectoryRuntime(std::string& javaExeOut, const std::string& directory,
                           const std::string& minVersion, const std::string& maxVersion,
                           bool skipVersionCheck) {
    std::string home = normalizePath(directory, false);
    unpackPack200Runtime(home);
    bool qualifies = javaExeForHome(javaExeOut, home);
    if (skipVersionCheck)
        return true;
    return qualifies && checkJavaCandidate(javaExeOut, minVersion, maxVersion, true, true);
}

bool checkEnvironmentRuntime(std::string& javaExeOut, const char* variableName,
                             const std::string& minVersion, const std::string& maxVersion) {
    std::optional<std::string> value = environmentValue(variableName);
    if (!value || value->empty() || value->size() >= kMaxText)
        return false;
    std::string home = *value;
    std::replace(home.begin(), home.end(), '/', '\\');
    std::string javaExe;
    if (!javaExeForHome(javaExe, home))
        return false;
    if (!checkJavaCandidate(javaExe, minVersion, maxVersion, false, true))
        return false;
    javaExeOut = javaExe;
    return true;
}

namespace {

// The system's search order for programs without the current directory: a java.exe that
// happens to lie where the launcher was started from is no runtime anyone chose. Relative
// PATH entries would name the current directory again, so they go as well.
std::string javaSearchDirectories() {
    std::string directories = getExecutableDirectory().narrow;
    char system[MAX_PATH] = "";
    if (UINT length = GetSystemDirectoryA(system, MAX_PATH); length > 0 && length < MAX_PATH)
        directories += ";" + std::string(system, length);
    char windows[MAX_PATH] = "";
    if (UINT length = GetSystemWindowsDirectoryA(windows, MAX_PATH); length > 0 && length < MAX_PATH)
        directories += ";" + std::string(windows, length);
    for (const std::string& entry : splitList(environmentValue("PATH").value_or(""), ';'))
        if (!isRelativePath(entry))
            directories += ";" + entry;
    return directories;
}

} // namespace

bool checkSearchPathRuntime(std::string& javaExeOut, const std::string& minVersion,
                            const std::string& maxVersion) {
    std::vector<char> found(kMaxText);
    std::string directories = javaSearchDirectories();
    DWORD length = SearchPathA(directories.c_str(), "java.exe", nullptr,
                               static_cast<DWORD>(found.size()), found.data(), nullptr);
    if (length == 0 || length >= found.size())
        return false;
    std::string javaExe(found.data(), length);
    if (!checkJavaCandidate(javaExe, minVersion, maxVersion, false, true))
        return false;
    javaExeOut = javaExe;
    return true;
}

HMODULE loadJvmLibrary(const std::string& javaExe) {
    if (HMODULE module = loadJvmBesideJavaExe(javaExe))
        return module;
    // A JDK keeps its JVM library in the runtime inside it.
    size_t slash = javaExe.find_last_of('\\');
    std::string innerRuntime = javaExe.substr(0, slash == std::string::npos ? 0 : slash + 1) +
                               "..\\jre\\bin\\java.exe";
    return loadJvmBesideJavaExe(innerRuntime);
}

HMODULE loadJvmBesideJavaExe(const std::string& javaExe) {
    std::string binDir = directoryOf(javaExe);
    // The JVM library finds the runtime's other libraries through PATH.
    std::optional<std::string> oldPath = environmentValue("PATH");
    setPath(oldPath && !oldPath->empty() ? *oldPath + ";" + binDir : binDir);
    // Where the DLL search is restricted, PATH does not count: the directory is added.
    std::wstring wideBin = toWide(binDir, fileCodePage());
    bool binAdded = allowDllDirectory(wideBin);

    HMODULE module = nullptr;
    std::string preferred = getConfigString(key::kPreferredJvmType, kJvmTypeSize);
    if (!preferred.empty())
        module = tryLoadJvmDll(binDir, preferred);
    for (const char* subDir : kJvmSubDirectories) {
        if (module)
            break;
        module = tryLoadJvmDll(binDir, subDir);
    }
    if (!module) {
        setPath(oldPath);
        if (binAdded)
            withdrawDllDirectory(wideBin);
    }
    return module;
}

HMODULE tryLoadJvmDll(const std::string& binDir, const std::string& subDir) {
    std::string library = binDir + "\\" + subDir + "\\jvm.dll";
    bool exists = fileExists(library);
    logMessage("Trying %s (exists %d)", library.c_str(), exists ? 1 : 0);
    HMODULE module = loadLibraryRestricted(toWide(library, fileCodePage()));
    DWORD error = GetLastError();
    if (!module && exists)
        logMessage("Failed with error code %d", static_cast<int>(error));
    if (module)
        allowDllDirectory(toWide(binDir + "\\" + subDir, fileCodePage()));
    return module;
}

bool bindCreateJavaVM(HMODULE module) {
    if (!module)
        return false;
    FARPROC entry = GetProcAddress(module, "JNI_CreateJavaVM");
    if (!entry)
        return false;
    createJavaVM = reinterpret_cast<CreateJavaVMFunction>(reinterpret_cast<void*>(entry));
    return true;
}

CreateJavaVMFunction getCreateJavaVM() { return createJavaVM; }

const char* launcherBitness() { return sizeof(void*) == 8 ? "64" : "32"; }
