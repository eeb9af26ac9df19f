#include "jvm/java_version.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "core/config_keys.h"
#include "core/configuration.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/test_seams.h"
#include "jvm/registry_values.h"
#include "portable/java_version.h"
#include "win/handles.h"

namespace {

const char kCacheKeyPrefix[] = "SOFTWARE\\brightwell\\tarvo\\jvms\\";
constexpr DWORD kProbeTimeoutMs = 60000;
// More than ten lines of a hundred characters; the rest of the output is never looked at.
constexpr DWORD kProbeOutputLimit = 64 * 1024;

// Off only inside a checkJavaCandidate call that must probe afresh.
bool useVersionCache = true;

// Tests shorten the wait for a probe that hangs.
DWORD probeTimeout() {
    if (std::optional<std::string> value = testSeam("QLN_TEST_PROBE_TIMEOUT_MS"))
        return static_cast<DWORD>(strtoul(value->c_str(), nullptr, 10));
    return kProbeTimeoutMs;
}

std::string readProbeOutput(HANDLE input) {
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(input, start, nullptr, FILE_BEGIN))
        return {};
    std::string text(kProbeOutputLimit, '\0');
    DWORD read = 0;
    if (!ReadFile(input, &text[0], kProbeOutputLimit, &read, nullptr))
        read = 0;
    text.resize(read);
    return text;
}

bool sameFileTime(const std::string& stored, const FILETIME& time) {
    return stored.size() == sizeof time && memcmp(stored.data(), &time, sizeof time) == 0;
}

std::string withoutTrailingBackslash(std::string path) {
    if (!path.empty() && path.back() == '\\')
        path.pop_back();
    return path;
}

// Runs the probe process; its exit code, or nothing when it could not be started.
std::optional<DWORD> runProbe(const std::string& javaExe, HANDLE output,
                              const std::string& outputFile) {
    // The 8.3 form keeps the command line free of blanks; the program itself is named
    // separately, so a volume without short names still works.
    std::string shortPath = shortPathOf(javaExe);
    std::string commandLine =
        (shortPath.empty() ? "\"" + javaExe + "\"" : shortPath) + " -version";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdError = output;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(javaExe.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                        NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &process)) {
        logMessage("Could not create process %s > %s (error %d)", commandLine.c_str(),
                   outputFile.c_str(), static_cast<int>(GetLastError()));
        return std::nullopt;
    }
    UniqueKernelHandle processHandle(process.hProcess), threadHandle(process.hThread);
    WaitForSingleObject(process.hProcess, probeTimeout());
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    logMessage("Exit Code %d", static_cast<int>(exitCode));
    if (exitCode == STILL_ACTIVE) {
        logMessage("Terminating process");
        TerminateProcess(process.hProcess, 1);
        // Its end closes its handle of the output file, which then goes.
        WaitForSingleObject(process.hProcess, 5000);
    }
    return exitCode;
}

} // namespace

bool isVersionAcceptable(const std::string& version, const std::string& minVersion,
                         const std::string& maxVersion, bool allowPreRelease) {
    if (!allowPreRelease && getConfigInt(key::kAllowPrerelease) == 0 &&
        isPreReleaseVersion(version)) {
        logMessage("beta vm not allowed");
        return false;
    }
    return isInVersionRange(version, minVersion, maxVersion);
}

bool isRegistryVersionInRange(const std::string& name, const std::string& minVersion,
                              const std::string& maxVersion) {
    return isRegistryNameInRange(name, minVersion, maxVersion);
}

bool javaExeForHome(std::string& javaExeOut, const std::string& homeDir) {
    std::string home = withoutTrailingBackslash(homeDir);
    std::string innerRuntime = home + "\\jre\\bin\\java.exe";
    javaExeOut = fileExists(innerRuntime) ? innerRuntime : home + "\\bin\\java.exe";
    if (getConfigInt(key::kRequireJdk) == 0)
        return true;
    // Runtimes since Java 9 have no tools.jar and no inner jre; javac.exe marks them as JDKs.
    if (fileExists(home + "\\lib\\tools.jar") || fileExists(home + "\\bin\\javac.exe"))
        return true;
    logMessage("%s is no JDK", home.c_str());
    return false;
}

bool probeJavaVersion(const std::string& javaExe, const FILETIME& lastWriteTime,
                      std::string& versionOut) {
    std::string outputFile;
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    // Gone with its last handle: a process the probe leaves running may hold it longer.
    UniqueFile output(createNewTempFile(outputFile, GENERIC_READ | GENERIC_WRITE | DELETE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        &inheritable, FILE_FLAG_DELETE_ON_CLOSE));
    if (!output) {
        logMessage("Could not create %s (error %d)", outputFile.c_str(),
                   static_cast<int>(GetLastError()));
        return false;
    }
    std::optional<DWORD> exitCode = runProbe(javaExe, output.get(), outputFile);

    bool probed = false;
    if (exitCode && *exitCode != 0 && *exitCode != STILL_ACTIVE) {
        storeCachedVersion(javaExe, lastWriteTime, std::string(kBrokenVersion));
    } else if (exitCode && *exitCode == 0) {
        if (std::optional<std::string> version = parseVersionOutput(readProbeOutput(output.get()))) {
            versionOut = *version;
            logMessage("Java version: %s", versionOut.c_str());
            probed = true;
        } else {
            logMessage("no version line in the output of %s", javaExe.c_str());
        }
    }
    return probed;
}

bool checkJavaExe(std::string& javaExe, std::string& versionOut, const std::string& minVersion,
                  const std::string& maxVersion, bool allowPreRelease) {
    logMessage("checkJavaExe (%s, [out], %s, %s, %d)", javaExe.c_str(), minVersion.c_str(),
               maxVersion.c_str(), allowPreRelease ? 1 : 0);
    versionOut.clear();
    javaExe = normalizePath(javaExe, false);
    bool result = false;
    FILETIME lastWriteTime;
    if (!getFileLastWriteTime(javaExe, lastWriteTime)) {
        logMessage("file doesn't exist");
    } else {
        logMessage("file exists");
        std::string version;
        if (useVersionCache && readCachedVersion(javaExe, lastWriteTime, version) &&
            version != kBrokenVersion) {
            logMessage("got version from registry %s", version.c_str());
            versionOut = version;
            result = isVersionAcceptable(version, minVersion, maxVersion, allowPreRelease);
        } else if (probeJavaVersion(javaExe, lastWriteTime, version)) {
            logMessage("got version from execution %s", version.c_str());
            storeCachedVersion(javaExe, lastWriteTime, version);
            versionOut = version;
            result = isVersionAcceptable(version, minVersion, maxVersion, allowPreRelease);
        } else {
            logMessage("couldn't get version");
        }
    }
    // A GUI application runs on javaw.exe, which must sit beside java.exe.
    if (result && getConfigInt(key::kApplicationType) == 1 && javaExe.size() >= 4) {
        javaExe.replace(javaExe.size() - 4, 4, "w.exe");
        result = fileExists(javaExe);
    }
    logMessage("checkJavaExe returning %d", result ? 1 : 0);
    return result;
}

bool checkJavaCandidate(std::string& javaExe, const std::string& minVersion,
                        const std::string& maxVersion, bool allowPreRelease, bool useCache) {
    useVersionCache = useCache;
    std::string version;
    bool result = checkJavaExe(javaExe, version, minVersion, maxVersion, allowPreRelease);
    useVersionCache = true;
    return result;
}

std::string cacheKeyForPath(const std::string& path, const std::string& prefix) {
    std::string keyPath = prefix + path;
    for (size_t i = prefix.size(); i < keyPath.size(); ++i)
        if (keyPath[i] == '\\')
            keyPath[i] = '/';
    return keyPath;
}

bool readCachedVersion(const std::string& javaExe, const FILETIME& lastWriteTime,
                       std::string& versionOut) {
    UniqueRegistryKey entry =
        openRegistryKey(HKEY_CURRENT_USER, cacheKeyForPath(javaExe, kCacheKeyPrefix));
    if (!entry)
        return false;
    std::optional<std::string> stamp =
        readRegistryBinary(entry.get(), "LastWriteTime", sizeof lastWriteTime);
    if (!stamp || !sameFileTime(*stamp, lastWriteTime))
        return false;
    std::optional<std::string> version = readRegistryString(entry.get(), "Version", kMaxText);
    if (!version || !isUsableCachedVersion(*version))
        return false;
    versionOut = *version;
    return true;
}

void storeCachedVersion(const std::string& javaExe, const FILETIME& lastWriteTime,
                        const std::string& version) {
    UniqueRegistryKey entry =
        createRegistryKey(HKEY_CURRENT_USER, cacheKeyForPath(javaExe, kCacheKeyPrefix));
    if (!entry)
        return;
    RegSetValueExA(entry.get(), "LastWriteTime", 0, REG_BINARY,
                   reinterpret_cast<const BYTE*>(&lastWriteTime), sizeof lastWriteTime);
    RegSetValueExA(entry.get(), "Version", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(version.c_str()),
                   static_cast<DWORD>(version.size()));
}
