#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The start-up cache keeps, per runtime and class path, an archive the JVM maps at start
// (a class-data-sharing archive up to Java 24, an AOT cache from Java 25 on). This part
// decides what a start does and what the archive must match; the Windows side only looks
// at files and starts processes.

enum class ArchiveKind {
    kNone,       // the runtime has no usable mechanism
    kClassList,  // Java 10 and later: class list, then -Xshare:dump
    kAotCache,   // Java 25 and later: AOT configuration, then -XX:AOTMode=create
};

// Java 25 can do either. Measured on a database shell of 1,500 classes, both archives start
// it equally fast, but an AOT recording start takes more than twice as long as a plain one
// (and writes its configuration on the way out), a class-list start no longer: so the class
// list unless `preferAot`.
ArchiveKind archiveKindFor(int javaMajor, bool preferAot = false);

// The feature release from the JAVA_VERSION line of a runtime's "release" file
// ("1.8.0_292" gives 8, "17.0.9" gives 17); nothing when the line is missing or unusable.
std::optional<int> javaMajorFromRelease(std::string_view releaseText);
// The version text of that line, unquoted.
std::optional<std::string> javaVersionFromRelease(std::string_view releaseText);

// Options the application sets for itself that leave no room for ours: it manages its own
// archive, or switches sharing off.
bool conflictsWithStartupCache(std::string_view option);

// Options that change what an archive holds or whether the JVM accepts it: the heap and
// collector settings (compressed pointers), module options, the -XX flags. System
// properties other than the module ones and -Xlog do not.
bool affectsArchive(std::string_view option);

// The entries of a "-Djava.class.path=" option, empty ones dropped.
std::vector<std::string> classPathEntries(std::string_view classPathOption);

struct FileStamp {
    std::string path;
    bool present = false;
    uint64_t size = 0;
    uint64_t writeTime = 0;
};

// Everything an archive depends on. Two starts with equal fingerprints may share one.
struct CacheFingerprint {
    std::string runtimeHome;
    std::string runtimeVersion;
    FileStamp jvmLibrary;
    std::vector<std::string> archiveOptions;
    std::string classPathOption;
    std::vector<FileStamp> classPath;
    FileStamp launcher;
};

// A line-based text of the fingerprint: stored beside the archive and compared whole, so a
// name collision of two fingerprints cannot hand one the other's archive.
std::string fingerprintRecord(const CacheFingerprint& fingerprint);

// FNV-1a over the bytes, as 16 lower-case hex digits: directory names, not security.
std::string hashName(std::string_view bytes);

// The files of one cache entry, relative to its directory.
struct EntryFiles {
    static constexpr const char* kRecord = "fingerprint.txt";
    static constexpr const char* kFailed = "failed.txt";
    static constexpr const char* kLock = "make.lock";
    static constexpr const char* kJob = "make.job";
    static constexpr const char* kOutput = "make.out";
    static constexpr const char* kAttempts = "make.attempts";
};
std::string archiveFileName(ArchiveKind kind);   // "app.jsa" or "app.aot"
std::string trainingFileName(ArchiveKind kind);  // "classlist.txt" or "app.aotconf"
std::string partialArchiveFileName(ArchiveKind kind);

// Quiets the JVM about an archive it cannot use; the application's console stays as it
// would be without the cache.
std::vector<std::string> quietOptions(ArchiveKind kind);
// A start that maps an existing archive.
std::vector<std::string> useOptions(ArchiveKind kind, const std::string& archive);
// A start that records what the archive will hold.
std::vector<std::string> recordOptions(ArchiveKind kind, const std::string& training);
// java.exe's arguments that turn the recording into the archive `output`.
std::vector<std::string> makeArguments(ArchiveKind kind, const std::string& training,
                                       const std::string& output,
                                       const std::vector<std::string>& archiveOptions,
                                       const std::string& classPathOption);

// One argument quoted so that the C runtime's command-line splitting gives it back.
std::wstring quoteArgument(const std::wstring& argument);

// The job a recording start leaves for the process that makes the archive after it ended.
struct MakeJob {
    uint32_t parentProcessId = 0;
    uint64_t parentCreationTime = 0;
    uint64_t lockHandle = 0;  // the maker's own handle of the entry's lock file
    std::string javaExe;  // UTF-8
    std::vector<std::string> arguments;  // UTF-8
    std::string partialArchive;
    std::string archive;
};
std::string formatMakeJob(const MakeJob& job);
std::optional<MakeJob> parseMakeJob(std::string_view text);
