#include "portable/startup_cache.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(StartupCache, ArchiveKindByRelease) {
    struct Case {
        const char* release;
        std::optional<int> major;
        ArchiveKind kind;
    };
    const Case cases[] = {
        {"IMPLEMENTOR=\"x\"\nJAVA_VERSION=\"17.0.9\"\n", 17, ArchiveKind::kClassList},
        {"JAVA_VERSION=\"25.0.2\"\r\nMODULES=\"java.base\"\r\n", 25, ArchiveKind::kClassList},
        {"JAVA_VERSION=\"24\"", 24, ArchiveKind::kClassList},
        {"JAVA_VERSION=\"10.0.2\"", 10, ArchiveKind::kClassList},
        {"JAVA_VERSION=\"9.0.4\"", 9, ArchiveKind::kNone},
        {"JAVA_VERSION=\"1.8.0_292\"", 8, ArchiveKind::kNone},
        {"JAVA_VERSION=\"\"", std::nullopt, ArchiveKind::kNone},
        {"JAVA_VERSION=\"abc\"", std::nullopt, ArchiveKind::kNone},
        {"JAVA_VERSION=\"17\"x\"", std::nullopt, ArchiveKind::kNone},
        {"MODULES=\"java.base\"", std::nullopt, ArchiveKind::kNone},
        {"", std::nullopt, ArchiveKind::kNone},
    };
    for (const Case& c : cases) {
        std::optional<int> major = javaMajorFromRelease(c.release);
        EXPECT_EQ(major, c.major) << c.release;
        EXPECT_EQ(archiveKindFor(major.value_or(0)), c.kind) << c.release;
    }
    EXPECT_EQ(javaVersionFromRelease("JAVA_VERSION=\"17.0.9\"\n"), "17.0.9");
    EXPECT_EQ(archiveKindFor(25, true), ArchiveKind::kAotCache);
    EXPECT_EQ(archiveKindFor(26, true), ArchiveKind::kAotCache);
    EXPECT_EQ(archiveKindFor(24, true), ArchiveKind::kClassList);
    EXPECT_EQ(archiveKindFor(9, true), ArchiveKind::kNone);
}

TEST(StartupCache, OptionClasses) {
    struct Case {
        const char* option;
        bool conflicts;
        bool affects;
    };
    const Case cases[] = {
        {"-Xshare:off", true, false},
        {"-XX:SharedArchiveFile=C:\\a.jsa", true, true},
        {"-XX:AOTCache=C:\\a.aot", true, true},
        {"-XX:+AutoCreateSharedArchive", true, true},
        {"-XX:ArchiveClassesAtExit=a.jsa", true, true},
        {"-XX:-UseSharedSpaces", true, true},
        {"-XX:+UseSerialGC", false, true},
        {"-Xmx64g", false, true},
        {"--add-modules=java.sql", false, true},
        {"-Djdk.module.main=app", false, true},
        {"-Dapp.setting=1", false, false},
        {"-Xlog:cds", false, false},
        {"-Djava.class.path=a.jar", false, false},
        {"-Xss2m", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(conflictsWithStartupCache(c.option), c.conflicts) << c.option;
        EXPECT_EQ(affectsArchive(c.option), c.affects) << c.option;
    }
}

TEST(StartupCache, ClassPathEntries) {
    EXPECT_EQ(classPathEntries("-Djava.class.path=C:\\a.jar;;C:\\b dir\\b.jar;"),
              (std::vector<std::string>{"C:\\a.jar", "C:\\b dir\\b.jar"}));
    EXPECT_TRUE(classPathEntries("-Djava.class.path=").empty());
    EXPECT_TRUE(classPathEntries("-Dother=a.jar").empty());
}

CacheFingerprint sampleFingerprint() {
    CacheFingerprint f;
    f.runtimeHome = "C:\\jre";
    f.runtimeVersion = "17.0.9";
    f.jvmLibrary = {"C:\\jre\\bin\\server\\jvm.dll", true, 100, 5};
    f.archiveOptions = {"-Xmx256m"};
    f.classPathOption = "-Djava.class.path=C:\\app\\a.jar";
    f.classPath = {{"C:\\app\\a.jar", true, 10, 7}};
    f.launcher = {"C:\\app\\app.exe", true, 1000, 9};
    return f;
}

// Each thing an archive depends on must change the record, and so the directory.
TEST(StartupCache, FingerprintSeesEveryDependency) {
    const std::string base = fingerprintRecord(sampleFingerprint());
    EXPECT_EQ(base, fingerprintRecord(sampleFingerprint()));
    std::vector<void (*)(CacheFingerprint&)> changes = {
        [](CacheFingerprint& f) { f.runtimeHome = "C:\\jre2"; },
        [](CacheFingerprint& f) { f.runtimeVersion = "17.0.10"; },
        [](CacheFingerprint& f) { f.jvmLibrary.size = 101; },
        [](CacheFingerprint& f) { f.jvmLibrary.writeTime = 6; },
        [](CacheFingerprint& f) { f.archiveOptions.push_back("-XX:+UseSerialGC"); },
        [](CacheFingerprint& f) { f.classPathOption += ";C:\\app\\b.jar"; },
        [](CacheFingerprint& f) { f.classPath[0].size = 11; },
        [](CacheFingerprint& f) { f.classPath[0].writeTime = 8; },
        [](CacheFingerprint& f) { f.classPath[0].present = false; },
        [](CacheFingerprint& f) { f.launcher.writeTime = 10; },
        // A line break must not let one field pass for two.
        [](CacheFingerprint& f) { f.archiveOptions = {"-Xmx256m\noption=-Xmx1g"}; },
    };
    for (size_t i = 0; i < changes.size(); ++i) {
        CacheFingerprint changed = sampleFingerprint();
        changes[i](changed);
        std::string record = fingerprintRecord(changed);
        EXPECT_NE(record, base) << "change " << i;
        EXPECT_NE(hashName(record), hashName(base)) << "change " << i;
    }
}

TEST(StartupCache, HashNameIsStableHex) {
    EXPECT_EQ(hashName(""), "cbf29ce484222325");
    EXPECT_EQ(hashName("a"), "af63dc4c8601ec8c");
}

TEST(StartupCache, OptionsByKind) {
    EXPECT_EQ(useOptions(ArchiveKind::kAotCache, "C:\\c\\app.aot"),
              (std::vector<std::string>{"-Xlog:aot=off", "-Xlog:cds=off", "-XX:AOTMode=auto",
                                        "-XX:AOTCache=C:\\c\\app.aot"}));
    EXPECT_EQ(useOptions(ArchiveKind::kClassList, "C:\\c\\app.jsa"),
              (std::vector<std::string>{"-Xlog:cds=off", "-Xshare:auto",
                                        "-XX:SharedArchiveFile=C:\\c\\app.jsa"}));
    EXPECT_EQ(recordOptions(ArchiveKind::kAotCache, "C:\\c\\app.aotconf"),
              (std::vector<std::string>{"-Xlog:aot=off", "-Xlog:cds=off", "-XX:AOTMode=record",
                                        "-XX:AOTConfiguration=C:\\c\\app.aotconf"}));
    EXPECT_EQ(recordOptions(ArchiveKind::kClassList, "C:\\c\\l.txt"),
              (std::vector<std::string>{"-Xlog:cds=off", "-XX:DumpLoadedClassList=C:\\c\\l.txt"}));
    EXPECT_TRUE(useOptions(ArchiveKind::kNone, "x").empty());
    EXPECT_TRUE(recordOptions(ArchiveKind::kNone, "x").empty());
    EXPECT_EQ(makeArguments(ArchiveKind::kClassList, "l.txt", "a.part", {"-Xmx1g"},
                            "-Djava.class.path=a.jar"),
              (std::vector<std::string>{"-Xmx1g", "-Djava.class.path=a.jar", "-Xshare:dump",
                                        "-XX:SharedClassListFile=l.txt",
                                        "-XX:SharedArchiveFile=a.part"}));
    EXPECT_EQ(makeArguments(ArchiveKind::kAotCache, "c.conf", "a.part", {},
                            "-Djava.class.path=a.jar"),
              (std::vector<std::string>{"-Djava.class.path=a.jar", "-XX:AOTMode=create",
                                        "-XX:AOTConfiguration=c.conf", "-XX:AOTCache=a.part"}));
}

// The C runtime's rules: 2n backslashes before a quote are n, 2n+1 are n and a quote;
// elsewhere backslashes are literal.
TEST(StartupCache, QuoteArgument) {
    struct Case {
        const wchar_t* argument;
        const wchar_t* quoted;
    };
    const Case cases[] = {
        {L"plain", L"plain"},
        {L"", L"\"\""},
        {L"C:\\Program Files\\x", L"\"C:\\Program Files\\x\""},
        {L"C:\\dir with blank\\", L"\"C:\\dir with blank\\\\\""},
        {L"say \"hi\"", L"\"say \\\"hi\\\"\""},
        {L"a\\\"b", L"\"a\\\\\\\"b\""},
        {L"C:\\no\\blank\\", L"C:\\no\\blank\\"},
        {L"tab\there", L"\"tab\there\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(quoteArgument(c.argument), c.quoted);
}

TEST(StartupCache, MakeJobRoundTrip) {
    MakeJob job;
    job.parentProcessId = 4242;
    job.parentCreationTime = 133000000000000000ull;
    job.lockHandle = 0x1a4;
    job.javaExe = "C:\\jre\\bin\\java.exe";
    job.arguments = {"-Djava.class.path=C:\\a b\\x.jar", "-Xshare:dump"};
    job.partialArchive = "C:\\c\\app.jsa.part";
    job.archive = "C:\\c\\app.jsa";
    std::string text = formatMakeJob(job);
    std::optional<MakeJob> back = parseMakeJob(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->parentProcessId, job.parentProcessId);
    EXPECT_EQ(back->parentCreationTime, job.parentCreationTime);
    EXPECT_EQ(back->lockHandle, job.lockHandle);
    EXPECT_EQ(back->javaExe, job.javaExe);
    EXPECT_EQ(back->arguments, job.arguments);
    EXPECT_EQ(back->partialArchive, job.partialArchive);
    EXPECT_EQ(back->archive, job.archive);

    // A job cut anywhere, or with a field it does not know, is no job.
    for (size_t cut = 0; cut + 1 < text.size(); ++cut)
        EXPECT_FALSE(parseMakeJob(text.substr(0, cut))) << cut;
    EXPECT_FALSE(parseMakeJob(text + "other=1\n"));
    EXPECT_FALSE(parseMakeJob("parent=12x 5\njava=j\npartial=p\narchive=a\n"));
    EXPECT_FALSE(parseMakeJob("parent=12\njava=j\npartial=p\narchive=a\n"));
}

} // namespace
