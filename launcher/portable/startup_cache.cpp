#include "portable/startup_cache.h"

#include <charconv>

namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

constexpr std::string_view kClassPathOption = "-Djava.class.path=";

// Every one of these sets up an archive of the application's own, or none at all.
constexpr std::string_view kConflictPrefixes[] = {
    "-Xshare:",
    "-XX:SharedArchiveFile",
    "-XX:SharedClassListFile",
    "-XX:DumpLoadedClassList",
    "-XX:ArchiveClassesAtExit",
    "-XX:+AutoCreateSharedArchive",
    "-XX:AOTMode",
    "-XX:AOTCache",
    "-XX:AOTConfiguration",
    "-XX:AOTCacheOutput",
    "-XX:-UseSharedSpaces",
};

constexpr std::string_view kArchivePrefixes[] = {
    "-XX:",        "-Xmx",           "-Xms",           "--add-modules", "--limit-modules",
    "--module-path", "--upgrade-module-path", "--patch-module", "--add-exports",
    "--add-opens", "--add-reads",    "--enable-preview", "-Djdk.module.",
};

void appendStamp(std::string& text, std::string_view name, const FileStamp& stamp) {
    text += name;
    text += '=';
    text += stamp.path;
    if (stamp.present)
        text += '|' + std::to_string(stamp.size) + '|' + std::to_string(stamp.writeTime);
    else
        text += "|missing";
    text += '\n';
}

// Record values are single lines; a line break inside one would forge another field.
std::string oneLine(std::string_view value) {
    std::string line;
    for (char c : value)
        line += (c == '\n' || c == '\r') ? ' ' : c;
    return line;
}

} // namespace

ArchiveKind archiveKindFor(int javaMajor, bool preferAot) {
    if (javaMajor >= 25 && preferAot)
        return ArchiveKind::kAotCache;
    if (javaMajor >= 10)
        return ArchiveKind::kClassList;
    return ArchiveKind::kNone;
}

std::optional<std::string> javaVersionFromRelease(std::string_view text) {
    constexpr std::string_view kKey = "JAVA_VERSION=";
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        std::string_view line = text.substr(at, end == std::string_view::npos ? end : end - at);
        at = end == std::string_view::npos ? text.size() : end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (!startsWith(line, kKey))
            continue;
        std::string_view value = line.substr(kKey.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.empty() || value.find('"') != std::string_view::npos)
            return std::nullopt;
        return std::string(value);
    }
    return std::nullopt;
}

std::optional<int> javaMajorFromRelease(std::string_view text) {
    std::optional<std::string> version = javaVersionFromRelease(text);
    if (!version)
        return std::nullopt;
    std::string_view rest = *version;
    if (startsWith(rest, "1."))
        rest.remove_prefix(2);
    int major = 0;
    auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), major);
    if (error != std::errc() || end == rest.data() || major <= 0)
        return std::nullopt;
    return major;
}

bool conflictsWithStartupCache(std::string_view option) {
    for (std::string_view prefix : kConflictPrefixes)
        if (startsWith(option, prefix))
            return true;
    return false;
}

bool affectsArchive(std::string_view option) {
    for (std::string_view prefix : kArchivePrefixes)
        if (startsWith(option, prefix))
            return true;
    return false;
}

std::vector<std::string> classPathEntries(std::string_view option) {
    std::vector<std::string> entries;
    if (!startsWith(option, kClassPathOption))
        return entries;
    std::string_view list = option.substr(kClassPathOption.size());
    while (!list.empty()) {
        size_t semicolon = list.find(';');
        std::string_view entry = list.substr(0, semicolon);
        if (!entry.empty())
            entries.emplace_back(entry);
        if (semicolon == std::string_view::npos)
            break;
        list.remove_prefix(semicolon + 1);
    }
    return entries;
}

std::string fingerprintRecord(const CacheFingerprint& f) {
    std::string text = "startup-cache 1\n";
    text += "runtime=" + oneLine(f.runtimeHome) + '\n';
    text += "version=" + oneLine(f.runtimeVersion) + '\n';
    appendStamp(text, "jvm", f.jvmLibrary);
    for (const std::string& option : f.archiveOptions)
        text += "option=" + oneLine(option) + '\n';
    text += "classpath=" + oneLine(f.classPathOption) + '\n';
    for (const FileStamp& entry : f.classPath)
        appendStamp(text, "entry", FileStamp{oneLine(entry.path), entry.present, entry.size,
                                             entry.writeTime});
    appendStamp(text, "launcher", f.launcher);
    return text;
}

std::string hashName(std::string_view bytes) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    static const char kDigits[] = "0123456789abcdef";
    std::string name(16, '0');
    for (int i = 15; i >= 0; --i, hash >>= 4)
        name[static_cast<size_t>(i)] = kDigits[hash & 0xF];
    return name;
}

std::string archiveFileName(ArchiveKind kind) {
    return kind == ArchiveKind::kAotCache ? "app.aot" : "app.jsa";
}

std::string trainingFileName(ArchiveKind kind) {
    return kind == ArchiveKind::kAotCache ? "app.aotconf" : "classlist.txt";
}

std::string partialArchiveFileName(ArchiveKind kind) { return archiveFileName(kind) + ".part"; }

std::vector<std::string> quietOptions(ArchiveKind kind) {
    if (kind == ArchiveKind::kAotCache)
        return {"-Xlog:aot=off", "-Xlog:cds=off"};
    if (kind == ArchiveKind::kClassList)
        return {"-Xlog:cds=off"};
    return {};
}

std::vector<std::string> useOptions(ArchiveKind kind, const std::string& archive) {
    std::vector<std::string> options = quietOptions(kind);
    if (kind == ArchiveKind::kAotCache) {
        options.push_back("-XX:AOTMode=auto");
        options.push_back("-XX:AOTCache=" + archive);
    } else if (kind == ArchiveKind::kClassList) {
        options.push_back("-Xshare:auto");
        options.push_back("-XX:SharedArchiveFile=" + archive);
    }
    return options;
}

std::vector<std::string> recordOptions(ArchiveKind kind, const std::string& training) {
    std::vector<std::string> options = quietOptions(kind);
    if (kind == ArchiveKind::kAotCache) {
        options.push_back("-XX:AOTMode=record");
        options.push_back("-XX:AOTConfiguration=" + training);
    } else if (kind == ArchiveKind::kClassList) {
        options.push_back("-XX:DumpLoadedClassList=" + training);
    }
    return options;
}

std::vector<std::string> makeArguments(ArchiveKind kind, const std::string& training,
                                       const std::string& output,
                                       const std::vector<std::string>& archiveOptions,
                                       const std::string& classPathOption) {
    std::vector<std::string> arguments = archiveOptions;
    arguments.push_back(classPathOption);
    if (kind == ArchiveKind::kAotCache) {
        arguments.push_back("-XX:AOTMode=create");
        arguments.push_back("-XX:AOTConfiguration=" + training);
        arguments.push_back("-XX:AOTCache=" + output);
    } else {
        arguments.push_back("-Xshare:dump");
        arguments.push_back("-XX:SharedClassListFile=" + training);
        arguments.push_back("-XX:SharedArchiveFile=" + output);
    }
    return arguments;
}

std::wstring quoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes double only ahead of a quote, which then gets its own.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

std::string formatMakeJob(const MakeJob& job) {
    std::string text = "parent=" + std::to_string(job.parentProcessId) + ' ' +
                       std::to_string(job.parentCreationTime) + '\n';
    text += "lock=" + std::to_string(job.lockHandle) + '\n';
    text += "java=" + oneLine(job.javaExe) + '\n';
    for (const std::string& argument : job.arguments)
        text += "arg=" + oneLine(argument) + '\n';
    text += "partial=" + oneLine(job.partialArchive) + '\n';
    text += "archive=" + oneLine(job.archive) + '\n';
    return text;
}

std::optional<MakeJob> parseMakeJob(std::string_view text) {
    MakeJob job;
    bool parent = false;
    while (!text.empty()) {
        size_t end = text.find('\n');
        if (end == std::string_view::npos)
            return std::nullopt;  // cut short: the writer did not finish
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            return std::nullopt;
        std::string_view name = line.substr(0, equals);
        std::string value(line.substr(equals + 1));
        if (name == "parent") {
            size_t blank = value.find(' ');
            if (blank == std::string::npos)
                return std::nullopt;
            const char* first = value.data();
            auto pid = std::from_chars(first, first + blank, job.parentProcessId);
            auto time = std::from_chars(first + blank + 1, first + value.size(),
                                        job.parentCreationTime);
            if (pid.ec != std::errc() || pid.ptr != first + blank || time.ec != std::errc() ||
                time.ptr != first + value.size())
                return std::nullopt;
            parent = true;
        } else if (name == "lock") {
            auto read = std::from_chars(value.data(), value.data() + value.size(), job.lockHandle);
            if (read.ec != std::errc() || read.ptr != value.data() + value.size())
                return std::nullopt;
        } else if (name == "java") {
            job.javaExe = value;
        } else if (name == "arg") {
            job.arguments.push_back(value);
        } else if (name == "partial") {
            job.partialArchive = value;
        } else if (name == "archive") {
            job.archive = value;
        } else {
            return std::nullopt;
        }
    }
    if (!parent || job.javaExe.empty() || job.partialArchive.empty() || job.archive.empty())
        return std::nullopt;
    return job;
}
