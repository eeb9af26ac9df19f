#include "jvm/runtime_registry.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "core/config_keys.h"
#include "core/configuration.h"
#include "core/log.h"
#include "core/test_seams.h"
#include "jvm/java_version.h"
#include "jvm/registry_values.h"
#include "portable/java_version.h"
#include "portable/path_text.h"

namespace {

const char kRuntimeBaseKey[] = "SOFTWARE\\JavaSoft\\Java Runtime Environment";
const char kJdkBaseKey[] = "SOFTWARE\\JavaSoft\\Java Development Kit";
const char kLocatedJvmsKey[] = "SOFTWARE\\brightwell\\tarvo\\locatedjvms";
const char kInstallationsKey[] = "SOFTWARE\\brightwell\\quillon\\installations";
constexpr size_t kVersionNameSize = 100;

// Where Oracle's installers register since Java 9; the layout of the two keys above.
const char kModernRuntimeBaseKey[] = "SOFTWARE\\JavaSoft\\JRE";
const char kModernJdkBaseKey[] = "SOFTWARE\\JavaSoft\\JDK";

// Runtimes registered under their vendor's key: one sub-key per version or product name,
// the home in `value` of `below` under it. Searched in this order, after the JavaSoft keys.
struct VendorLayout {
    const char* baseKey;
    const char* below;
    const char* value;
    bool runtimeOnly;  // skipped when a JDK is required
};
const VendorLayout kVendorLayouts[] = {
    {"SOFTWARE\\Eclipse Adoptium\\JDK", "\\hotspot\\MSI", "Path", false},
    {"SOFTWARE\\Eclipse Adoptium\\JRE", "\\hotspot\\MSI", "Path", true},
    // The same installers before the project moved to Eclipse.
    {"SOFTWARE\\AdoptOpenJDK\\JDK", "\\hotspot\\MSI", "Path", false},
    {"SOFTWARE\\AdoptOpenJDK\\JRE", "\\hotspot\\MSI", "Path", true},
    {"SOFTWARE\\Azul Systems\\Zulu", "", "InstallationPath", false},
    {"SOFTWARE\\Microsoft\\JDK", "\\hotspot\\MSI", "Path", false},
    {"SOFTWARE\\BellSoft\\Liberica", "", "InstallationPath", false},
    {"SOFTWARE\\Amazon Corretto\\JDK", "", "JavaHome", false},
    {"SOFTWARE\\Amazon Corretto\\JDK", "\\MSI", "Path", false},
};

bool jdkRequired() { return getConfigInt(key::kRequireJdk) != 0; }

// Wine lets every process write machine keys; tests take that right away here.
bool machineKeysWritable() {
    return testSeam("QLN_TEST_READ_ONLY_MACHINE_KEYS").value_or("") != "1";
}

// The "CurrentVersion" name of a JavaSoft base key, empty when missing or out of range.
std::string currentVersionName(const char* baseKey, const std::string& minVersion,
                               const std::string& maxVersion) {
    UniqueRegistryKey base = openRegistryKey(HKEY_LOCAL_MACHINE, baseKey);
    if (!base)
        return {};
    std::optional<std::string> name =
        readRegistryString(base.get(), "CurrentVersion", kVersionNameSize);
    if (!name || !isRegistryVersionInRange(*name, minVersion, maxVersion))
        return {};
    return *name;
}

// Checks the runtime whose home a JavaSoft version key names.
bool checkJavaSoftVersionKey(const std::string& versionKey, std::string& javaExeOut,
                             std::string& versionOut, const std::string& minVersion,
                             const std::string& maxVersion) {
    UniqueRegistryKey entry = openRegistryKey(HKEY_LOCAL_MACHINE, versionKey);
    if (!entry)
        return false;
    std::optional<std::string> home = readRegistryString(entry.get(), "JavaHome", kMaxText);
    if (!home)
        return false;
    std::string javaExe;
    if (!javaExeForHome(javaExe, *home))
        return false;
    std::string version;
    if (!checkJavaExe(javaExe, version, minVersion, maxVersion, false))
        return false;
    javaExeOut = javaExe;
    versionOut = version;
    return true;
}

// Whether a runtime with `version` beats the one chosen so far.
bool isBetter(bool haveBest, const std::string& version, const std::string& bestVersion) {
    return !haveBest || compareVersions(version, bestVersion) > 0;
}

// The runtime the "CurrentVersion" values of a JDK and a runtime base key name.
bool findCurrentVersionIn(const char* jdkBaseKey, const char* runtimeBaseKey,
                          std::string& javaExeOut, std::string& versionOut,
                          const std::string& minVersion, const std::string& maxVersion) {
    std::string jdk = currentVersionName(jdkBaseKey, minVersion, maxVersion);
    std::string runtime =
        jdkRequired() ? std::string() : currentVersionName(runtimeBaseKey, minVersion, maxVersion);
    if (jdk.empty() && runtime.empty())
        return false;
    // On equal names the runtime's entry is taken.
    std::string versionKey = compareVersions(jdk, runtime) > 0
                                 ? std::string(jdkBaseKey) + "\\" + jdk
                                 : std::string(runtimeBaseKey) + "\\" + runtime;
    return checkJavaSoftVersionKey(versionKey, javaExeOut, versionOut, minVersion, maxVersion);
}

// The newest acceptable runtime of one vendor layout. Product names such as "zulu-17" are
// no version names, so every sub-key is tried, greatest name first; the probe judges.
bool scanVendorLayout(const VendorLayout& layout, std::string& javaExeOut,
                      std::string& versionOut, const std::string& minVersion,
                      const std::string& maxVersion) {
    UniqueRegistryKey base = openRegistryKey(HKEY_LOCAL_MACHINE, layout.baseKey);
    if (!base)
        return false;
    std::vector<std::string> names = listRegistrySubKeys(base.get());
    base.reset();
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return compareVersions(a, b) < 0;
    });
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        UniqueRegistryKey entry = openRegistryKey(
            HKEY_LOCAL_MACHINE, std::string(layout.baseKey) + "\\" + *name + layout.below);
        if (!entry)
            continue;
        std::optional<std::string> home = readRegistryString(entry.get(), layout.value, kMaxText);
        entry.reset();
        std::string javaExe, version;
        if (home && javaExeForHome(javaExe, *home) &&
            checkJavaExe(javaExe, version, minVersion, maxVersion, false)) {
            logMessage("found in %s\\%s", layout.baseKey, name->c_str());
            javaExeOut = javaExe;
            versionOut = version;
            return true;
        }
    }
    return false;
}

} // namespace

bool findCurrentVersionRuntime(std::string& javaExeOut, std::string& versionOut,
                               const std::string& minVersion, const std::string& maxVersion) {
    return findCurrentVersionIn(kJdkBaseKey, kRuntimeBaseKey, javaExeOut, versionOut, minVersion,
                                maxVersion);
}

bool scanJavaSoftVersions(std::string& javaExeOut, std::string& versionOut,
                          const std::string& minVersion, const std::string& maxVersion,
                          const std::string& baseKey) {
    UniqueRegistryKey base = openRegistryKey(HKEY_LOCAL_MACHINE, baseKey);
    if (!base)
        return false;
    std::vector<std::string> names;
    for (std::string& name : listRegistrySubKeys(base.get()))
        if (isRegistryVersionInRange(name, minVersion, maxVersion))
            names.push_back(std::move(name));
    base.reset();
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return compareVersions(a, b) < 0;
    });
    for (auto name = names.rbegin(); name != names.rend(); ++name)
        if (checkJavaSoftVersionKey(baseKey + "\\" + *name, javaExeOut, versionOut, minVersion,
                                    maxVersion))
            return true;
    return false;
}

bool findJavaSoftRuntime(std::string& javaExeOut, std::string& versionOut,
                         const std::string& minVersion, const std::string& maxVersion) {
    if (findCurrentVersionRuntime(javaExeOut, versionOut, minVersion, maxVersion))
        return true;
    if (!jdkRequired() &&
        scanJavaSoftVersions(javaExeOut, versionOut, minVersion, maxVersion, kRuntimeBaseKey))
        return true;
    if (scanJavaSoftVersions(javaExeOut, versionOut, minVersion, maxVersion, kJdkBaseKey))
        return true;
    // Then the keys of today's installers, in the same order.
    if (findCurrentVersionIn(kModernJdkBaseKey, kModernRuntimeBaseKey, javaExeOut, versionOut,
                             minVersion, maxVersion))
        return true;
    if (!jdkRequired() && scanJavaSoftVersions(javaExeOut, versionOut, minVersion, maxVersion,
                                               kModernRuntimeBaseKey))
        return true;
    if (scanJavaSoftVersions(javaExeOut, versionOut, minVersion, maxVersion, kModernJdkBaseKey))
        return true;
    for (const VendorLayout& layout : kVendorLayouts)
        if (!(layout.runtimeOnly && jdkRequired()) &&
            scanVendorLayout(layout, javaExeOut, versionOut, minVersion, maxVersion))
            return true;
    return false;
}

bool scanLocatedJvms(HKEY hive, std::string& javaExeOut, std::string& versionOut,
                     const std::string& minVersion, const std::string& maxVersion) {
    versionOut.clear();
    UniqueRegistryKey located = openRegistryKey(hive, kLocatedJvmsKey);
    if (!located)
        return false;
    std::vector<std::string> names = listRegistrySubKeys(located.get());
    located.reset();
    bool found = false;
    for (const std::string& name : names) {
        std::string javaExe = name;
        std::replace(javaExe.begin(), javaExe.end(), '/', '\\');
        std::string version;
        // A runtime the user picked by hand may be a pre-release. On equal versions the
        // first one listed stays.
        if (checkJavaExe(javaExe, version, minVersion, maxVersion, true) &&
            isBetter(found, version, versionOut)) {
            found = true;
            versionOut = version;
            javaExeOut = javaExe;
        }
    }
    return found;
}

bool findLocatedJvm(std::string& javaExeOut, std::string& versionOut,
                    const std::string& minVersion, const std::string& maxVersion) {
    std::string userExe, userVersion, machineExe, machineVersion;
    bool user = scanLocatedJvms(HKEY_CURRENT_USER, userExe, userVersion, minVersion, maxVersion);
    bool machine =
        scanLocatedJvms(HKEY_LOCAL_MACHINE, machineExe, machineVersion, minVersion, maxVersion);
    // The user's runtime wins only with a greater version.
    if (user && (!machine || compareVersions(userVersion, machineVersion) > 0)) {
        javaExeOut = userExe;
        versionOut = userVersion;
        return true;
    }
    if (machine) {
        javaExeOut = machineExe;
        versionOut = machineVersion;
        return true;
    }
    return false;
}

bool findRegistryRuntime(std::string& javaExeOut, const std::string& minVersion,
                         const std::string& maxVersion) {
    std::string sunExe, sunVersion, locatedExe, locatedVersion;
    bool sun = findJavaSoftRuntime(sunExe, sunVersion, minVersion, maxVersion);
    if (sun)
        logMessage("found sun %s %s", sunExe.c_str(), sunVersion.c_str());
    bool located = findLocatedJvm(locatedExe, locatedVersion, minVersion, maxVersion);
    if (located)
        logMessage("found located %s %s", locatedExe.c_str(), locatedVersion.c_str());
    if (!sun && !located)
        return false;
    // The located runtime wins unless the JavaSoft one has a greater version.
    javaExeOut = sun && (!located || compareVersions(sunVersion, locatedVersion) > 0)
                     ? sunExe
                     : locatedExe;
    return true;
}

bool findInstallationRuntime(HKEY hive, std::string& javaExeOut, const std::string& minVersion,
                             const std::string& maxVersion) {
    std::string installationId = getConfigString(key::kInstallationId);
    if (installationId.empty())
        return false;
    UniqueRegistryKey installations = openRegistryKey(hive, kInstallationsKey);
    if (!installations)
        return false;
    std::optional<std::string> list =
        readRegistryString(installations.get(), installationId.c_str(), kMaxText);
    installations.reset();
    if (!list || list->empty())
        return false;
    logMessage("found installations: %s", list->c_str());
    for (const std::string& directory : splitList(*list, ';')) {
        std::string javaExe;
        if (!javaExeForHome(javaExe, directory + "\\jre"))
            continue;
        if (checkJavaCandidate(javaExe, minVersion, maxVersion, false, true)) {
            javaExeOut = javaExe;
            return true;
        }
    }
    return false;
}

void registerLocatedJvm(const std::string& javaExe) {
    std::string keyPath = cacheKeyForPath(javaExe, std::string(kLocatedJvmsKey) + "\\");
    UniqueRegistryKey entry;
    if (machineKeysWritable())
        entry = createRegistryKey(HKEY_LOCAL_MACHINE, keyPath);
    const char* hive = "machine";
    if (!entry) {
        entry = createRegistryKey(HKEY_CURRENT_USER, keyPath);
        hive = "user";
    }
    if (entry)
        logMessage("registered located JVM %s (%s)", javaExe.c_str(), hive);
}
