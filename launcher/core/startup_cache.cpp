#include "core/startup_cache.h"

#include <cstdarg>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "core/config_keys.h"
#include "core/configuration.h"
#include "core/dll_search.h"
#include "core/jvm_home.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/process.h"
#include "jvm/runtime_search.h"
#include "portable/startup_cache.h"
#include "portable/windows_command_line.h"
#include "win/encoding.h"
#include "win/environment.h"
#include "win/handles.h"
#include "win/win32.h"

#include <shlobj.h>

namespace {

bool enabled = false;

constexpr wchar_t kEnvironmentSwitch[] = L"QUILLON_STARTUP_CACHE";
constexpr size_t kMaxSmallFile = 1 << 20;
// Making an archive takes seconds; one that takes this long is stuck and is given up.
constexpr DWORD kMakeTimeoutMs = 10 * 60 * 1000;
constexpr int kMaxAttempts = 3;

std::string utf8(const std::wstring& text) { return toNarrow(text, CP_UTF8); }
std::wstring fromUtf8(const std::string& text) { return toWide(text, CP_UTF8); }

uint64_t fileTimeValue(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FileStamp stampOf(const std::wstring& path) {
    FileStamp stamp;
    stamp.path = utf8(path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return stamp;
    stamp.present = true;
    stamp.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    stamp.writeTime = fileTimeValue(data.ftLastWriteTime);
    return stamp;
}

bool isPlainFile(const std::wstring& path, uint64_t* size = nullptr) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return false;
    if (size)
        *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

std::optional<std::string> readSmallFile(const std::wstring& path) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file)
        return std::nullopt;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
        static_cast<uint64_t>(size.QuadPart) > kMaxSmallFile)
        return std::nullopt;
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() &&
        (!ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) ||
         read != bytes.size()))
        return std::nullopt;
    return bytes;
}

bool writeWholeFile(const std::wstring& path, const std::string& bytes) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    DWORD written = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) &&
           written == bytes.size();
}

void removeFile(const std::wstring& path) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);  // the JVM writes archives read-only
    DeleteFileW(path.c_str());
}

std::wstring localApplicationData() {
    if (std::optional<std::wstring> value = readEnvironmentW(L"LOCALAPPDATA"))
        if (!value->empty())
            return *value;
    // Bound at run time: shell32 and what it pulls in cost every start a few milliseconds,
    // and each module loaded before the JVM makes its own start slower.
    using GetFolderPath = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
    auto getFolderPath = systemFunctionAs<GetFolderPath>(L"shell32.dll", "SHGetFolderPathW");
    wchar_t buffer[MAX_PATH];
    if (!getFolderPath ||
        getFolderPath(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer) != S_OK)
        return std::wstring();
    return buffer;
}

bool makeDirectory(const std::wstring& path) {
    if (CreateDirectoryW(path.c_str(), nullptr))
        return true;
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::wstring lowerCase(std::wstring text) {
    if (!text.empty())
        CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

std::wstring fullPath(const std::wstring& path) {
    wchar_t buffer[MAX_PATH * 4];
    DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH * 4, buffer, nullptr);
    return length > 0 && length < MAX_PATH * 4 ? std::wstring(buffer, length) : path;
}

} // namespace

std::wstring launcherCacheDirectory() {
    std::wstring base = localApplicationData();
    if (base.empty())
        return base;
    const std::wstring& exe = getExecutablePathW();
    size_t slash = exe.find_last_of(L'\\');
    std::wstring stem = exe.substr(slash == std::wstring::npos ? 0 : slash + 1);
    if (stem.size() > 4)
        stem.resize(stem.size() - 4);
    return base + L"\\" + getProductWordW() + L"\\startup-cache\\" + stem + L"-" +
           fromUtf8(hashName(utf8(lowerCase(exe))));
}

namespace {

std::wstring jvmLibraryPath() {
    HMODULE module = nullptr;
    auto address = reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(getCreateJavaVM()));
    if (!address || !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                            GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                        address, &module))
        return std::wstring();
    wchar_t buffer[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(module, buffer, MAX_PATH * 4);
    return length > 0 && length < MAX_PATH * 4 ? std::wstring(buffer, length) : std::wstring();
}

uint64_t processCreationTime(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0;
    return fileTimeValue(created);
}

// The narrow form the JVM options need; empty when the code page cannot name the path.
std::string narrowPathOf(const std::wstring& path) {
    if (fitsCodePage(path, fileCodePage()))
        return toNarrow(path, fileCodePage());
    std::wstring shortForm = shortPathOf(path);
    if (!shortForm.empty() && fitsCodePage(shortForm, fileCodePage()))
        return toNarrow(shortForm, fileCodePage());
    return std::string();
}

std::vector<std::string> skip(const char* reason) {
    logMessage("startup cache skipped: %s", reason);
    return {};
}

struct Entry {
    std::wstring directory;
    std::string narrowDirectory;
    ArchiveKind kind = ArchiveKind::kNone;
    std::wstring file(const std::string& name) const { return directory + L"\\" + fromUtf8(name); }
    std::string narrowFile(const std::string& name) const { return narrowDirectory + "\\" + name; }
};

// Starts this launcher as the maker, suspended until it holds the lock and has its job.
bool startMaker(const Entry& entry, HANDLE lock, MakeJob job) {
    std::wstring commandLine = quoteArgument(getExecutablePathW()) + L" " +
                               fromUtf8(kStartupCacheMakerWord) + L" " +
                               quoteArgument(entry.directory);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    DWORD flags = CREATE_SUSPENDED | DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP |
                  BELOW_NORMAL_PRIORITY_CLASS;
    // It must outlive this process even when a job would end everything this one started.
    bool started = CreateProcessW(getExecutablePathW().c_str(), &commandLine[0], nullptr,
                                  nullptr, FALSE, flags | CREATE_BREAKAWAY_FROM_JOB, nullptr,
                                  nullptr, &startup, &process);
    if (!started)
        started = CreateProcessW(getExecutablePathW().c_str(), &commandLine[0], nullptr, nullptr,
                                 FALSE, flags, nullptr, nullptr, &startup, &process);
    if (!started) {
        logError("startup cache: could not start the maker (%d)",
                 static_cast<int>(GetLastError()));
        return false;
    }
    UniqueKernelHandle processHandle(process.hProcess);
    UniqueKernelHandle thread(process.hThread);
    HANDLE remoteLock = nullptr;
    job.parentProcessId = GetCurrentProcessId();
    job.parentCreationTime = processCreationTime(GetCurrentProcess());
    if (!DuplicateHandle(GetCurrentProcess(), lock, process.hProcess, &remoteLock, 0, FALSE,
                         DUPLICATE_SAME_ACCESS) ||
        (job.lockHandle = reinterpret_cast<uintptr_t>(remoteLock),
         !writeWholeFile(entry.file(EntryFiles::kJob), formatMakeJob(job)))) {
        TerminateProcess(process.hProcess, 1);
        removeFile(entry.file(EntryFiles::kJob));
        logError("startup cache: could not hand the job to the maker");
        return false;
    }
    ResumeThread(process.hThread);
    logMessage("startup cache: maker %d waits for this run to end",
               static_cast<int>(process.dwProcessId));
    return true;
}

HANDLE heldLock = INVALID_HANDLE_VALUE;  // held for the whole run of a recording start
bool filterRecordingNotice = false;

std::vector<std::string> prepare(const std::vector<std::string>& applicationOptions) {
    if (const char* reason = startupCacheOffReason())
        return skip(reason);
    std::string classPathOption;
    std::vector<std::string> archiveOptions;
    for (const std::string& option : applicationOptions) {
        if (conflictsWithStartupCache(option))
            return skip("the application's options manage class-data sharing themselves");
        if (option.rfind("-Djava.class.path=", 0) == 0)
            classPathOption = option;
        else if (affectsArchive(option))
            archiveOptions.push_back(option);
    }

    std::wstring home = fullPath(toWide(getJvmHome(), fileCodePage()));
    std::optional<std::string> release = readSmallFile(home + L"\\release");
    if (!release)
        return skip("the runtime has no release file to tell its version");
    std::optional<int> major = javaMajorFromRelease(*release);
    std::optional<std::wstring> switchWord = readEnvironmentW(kEnvironmentSwitch);
    bool preferAot = switchWord && lowerCase(*switchWord) == L"aot";
    ArchiveKind kind = archiveKindFor(major.value_or(0), preferAot);
    if (kind == ArchiveKind::kNone)
        return skip("the runtime has no archive mechanism the launcher uses");
    std::wstring javaExe = home + L"\\bin\\java.exe";
    if (!isPlainFile(javaExe))
        return skip("the runtime has no java.exe to make the archive with");

    CacheFingerprint fingerprint;
    fingerprint.runtimeHome = utf8(home);
    fingerprint.runtimeVersion = javaVersionFromRelease(*release).value_or("");
    fingerprint.jvmLibrary = stampOf(jvmLibraryPath());
    fingerprint.archiveOptions = archiveOptions;
    fingerprint.classPathOption = utf8(toWide(classPathOption, fileCodePage()));
    const std::string& runTemp = getLauncherTempDirectory();
    for (const std::string& entry : classPathEntries(classPathOption)) {
        if (!runTemp.empty() && entry.rfind(runTemp + "\\", 0) == 0)
            return skip("the class path holds files extracted for this run only");
        fingerprint.classPath.push_back(stampOf(toWide(entry, fileCodePage())));
    }
    fingerprint.launcher = stampOf(getExecutablePathW());
    std::string record = fingerprintRecord(fingerprint);

    std::wstring launcherDirectory = launcherCacheDirectory();
    if (launcherDirectory.empty())
        return skip("no local application data folder");
    Entry entry;
    entry.kind = kind;
    entry.directory = launcherDirectory + L"\\" + fromUtf8(hashName(record));
    // Each level may exist already; a file in the way ends it.
    for (size_t at = entry.directory.find(L'\\', 3); at != std::wstring::npos;
         at = entry.directory.find(L'\\', at + 1))
        CreateDirectoryW(entry.directory.substr(0, at).c_str(), nullptr);
    if (!makeDirectory(entry.directory))
        return skip("the cache directory cannot be created");
    entry.narrowDirectory = narrowPathOf(entry.directory);
    if (entry.narrowDirectory.empty())
        return skip("the code page cannot name the cache directory");

    std::string archive = archiveFileName(kind);
    uint64_t archiveSize = 0;
    if (isPlainFile(entry.file(archive), &archiveSize) && archiveSize > 0 &&
        readSmallFile(entry.file(EntryFiles::kRecord)) == record) {
        logMessage("startup cache: using %s", entry.narrowFile(archive).c_str());
        return useOptions(kind, entry.narrowFile(archive));
    }
    if (isPlainFile(entry.file(EntryFiles::kFailed)))
        return skip("making the archive failed before; see failed.txt in the cache entry");

    UniqueFile lock(CreateFileW(entry.file(EntryFiles::kLock).c_str(), GENERIC_READ | GENERIC_WRITE,
                                0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!lock) {
        if (GetLastError() == ERROR_SHARING_VIOLATION)
            return skip("another start is recording or making the archive");
        return skip("the cache directory is not writable");
    }
    // A job nobody holds the lock for is a maker that was ended before it could report (a
    // job object of the start it waited for, a shutdown); it gets a few more chances.
    int attempts = 0;
    if (std::optional<std::string> text = readSmallFile(entry.file(EntryFiles::kAttempts)))
        attempts = atoi(text->c_str());
    if (attempts >= kMaxAttempts) {
        writeWholeFile(entry.file(EntryFiles::kFailed), "the maker ended without a result " +
                                                            std::to_string(attempts) + " times\n");
        return skip("the maker ended without a result too often");
    }
    writeWholeFile(entry.file(EntryFiles::kAttempts), std::to_string(attempts + 1) + "\n");
    removeFile(entry.file(EntryFiles::kJob));
    for (const std::string& stale : {archive, trainingFileName(kind), partialArchiveFileName(kind),
                                     std::string(EntryFiles::kOutput)})
        removeFile(entry.file(stale));
    if (!writeWholeFile(entry.file(EntryFiles::kRecord), record))
        return skip("the cache directory is not writable");

    MakeJob job;
    job.javaExe = utf8(javaExe);
    std::vector<std::string> arguments =
        makeArguments(kind, entry.narrowFile(trainingFileName(kind)),
                      entry.narrowFile(partialArchiveFileName(kind)), archiveOptions,
                      classPathOption);
    for (const std::string& argument : arguments)
        job.arguments.push_back(utf8(toWide(argument, fileCodePage())));
    job.partialArchive = utf8(entry.file(partialArchiveFileName(kind)));
    job.archive = utf8(entry.file(archive));
    if (!startMaker(entry, lock.get(), job))
        return skip("the maker could not be started");
    heldLock = lock.release();
    filterRecordingNotice = kind == ArchiveKind::kAotCache;
    logMessage("startup cache: recording into %s",
               entry.narrowFile(trainingFileName(kind)).c_str());
    return recordOptions(kind, entry.narrowFile(trainingFileName(kind)));
}

// ----- the maker -----

void recordFailure(const std::wstring& directory, const std::string& reason) {
    writeWholeFile(directory + L"\\" + fromUtf8(EntryFiles::kFailed), reason + "\n");
}

// Entries of other fingerprints are left behind when a runtime, an option or a jar changed.
// One whose archive is mapped or whose lock is held stays for a later maker.
void removeOtherEntries(const std::wstring& entryDirectory) {
    size_t slash = entryDirectory.find_last_of(L'\\');
    std::wstring parent = entryDirectory.substr(0, slash);
    std::wstring own = entryDirectory.substr(slash + 1);
    WIN32_FIND_DATAW found;
    UniqueFind search(FindFirstFileW((parent + L"\\*").c_str(), &found));
    if (!search)
        return;
    do {
        std::wstring name = found.cFileName;
        // The included files live beside the entries and have a sweep of their own.
        if (name == L"." || name == L".." || lowerCase(name) == lowerCase(own) ||
            name.rfind(L"files-", 0) == 0 ||
            !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        std::wstring directory = parent + L"\\" + name;
        bool inUse = false;
        for (ArchiveKind kind : {ArchiveKind::kClassList, ArchiveKind::kAotCache}) {
            std::wstring archive = directory + L"\\" + fromUtf8(archiveFileName(kind));
            removeFile(archive);
            inUse |= GetFileAttributesW(archive.c_str()) != INVALID_FILE_ATTRIBUTES;
        }
        std::wstring lock = directory + L"\\" + fromUtf8(EntryFiles::kLock);
        if (inUse || (DeleteFileW(lock.c_str()) == FALSE && GetLastError() != ERROR_FILE_NOT_FOUND))
            continue;
        WIN32_FIND_DATAW inner;
        UniqueFind files(FindFirstFileW((directory + L"\\*").c_str(), &inner));
        if (files) {
            do {
                if (!(inner.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    removeFile(directory + L"\\" + inner.cFileName);
            } while (FindNextFileW(files.get(), &inner));
        }
        RemoveDirectoryW(directory.c_str());
    } while (FindNextFileW(search.get(), &found));
}

void waitForRecordingProcess(const MakeJob& job) {
    UniqueKernelHandle parent(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                    job.parentProcessId));
    // Gone already, or the number now names another process: either way it has ended.
    if (!parent || processCreationTime(parent.get()) != job.parentCreationTime)
        return;
    WaitForSingleObject(parent.get(), INFINITE);
}

// Runs java.exe at low priority with its output in make.out; its exit code, or nothing
// when it could not run or had to be ended.
std::optional<DWORD> runJava(const std::wstring& directory, const MakeJob& job) {
    std::wstring javaExe = fromUtf8(job.javaExe);
    std::wstring commandLine = quoteArgument(javaExe);
    for (const std::string& argument : job.arguments)
        commandLine += L" " + quoteArgument(fromUtf8(argument));
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    UniqueFile output(CreateFileW((directory + L"\\" + fromUtf8(EntryFiles::kOutput)).c_str(),
                                  GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(javaExe.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                        CREATE_SUSPENDED | CREATE_NO_WINDOW | BELOW_NORMAL_PRIORITY_CLASS,
                        nullptr, directory.c_str(), &startup, &process))
        return std::nullopt;
    UniqueKernelHandle processHandle(process.hProcess);
    UniqueKernelHandle thread(process.hThread);
    // java.exe ends with its maker, whatever ends the maker.
    UniqueKernelHandle killOnClose(CreateJobObjectW(nullptr, nullptr));
    if (killOnClose) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(killOnClose.get(), JobObjectExtendedLimitInformation, &limits,
                                sizeof limits);
        AssignProcessToJobObject(killOnClose.get(), process.hProcess);
    }
    ResumeThread(process.hThread);
    if (WaitForSingleObject(process.hProcess, kMakeTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
        return std::nullopt;
    }
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    return code;
}

} // namespace

void enableStartupCache() { enabled = true; }

const char* startupCacheOffReason() {
    if (!enabled)
        return "this launcher does not use it";
    std::string setting = getConfigString(key::kStartupCache);
    if (!setting.empty() && getConfigInt(key::kStartupCache) == 0)
        return "switched off by the launcher's configuration";
    if (std::optional<std::wstring> value = readEnvironmentW(kEnvironmentSwitch)) {
        std::wstring word = lowerCase(*value);
        if (word == L"off" || word == L"no" || word == L"0" || word == L"false")
            return "switched off for this run by QUILLON_STARTUP_CACHE";
    }
    return nullptr;
}

std::vector<std::string> startupCacheOptions(const std::vector<std::string>& applicationOptions) {
    if (!enabled)
        return {};
    std::vector<std::string> options = prepare(applicationOptions);
    for (const std::string& option : options)
        logMessage("startup cache option: %s", option.c_str());
    return options;
}

VmOutputHook startupCacheOutputHook() {
    if (!filterRecordingNotice)
        return nullptr;
    // The AOT recording announces its file on the console, which no -Xlog setting quiets.
    return [](FILE* stream, const char* format, va_list arguments) -> int {
        va_list copy;
        va_copy(copy, arguments);
        int length = vsnprintf(nullptr, 0, format, copy);
        va_end(copy);
        if (length <= 0)
            return length;
        std::string text(static_cast<size_t>(length) + 1, '\0');
        vsnprintf(&text[0], text.size(), format, arguments);
        text.resize(static_cast<size_t>(length));
        if (text.find("AOTConfiguration recorded:") != std::string::npos)
            return length;
        bool toError = false;
        if (HMODULE ucrt = GetModuleHandleW(L"ucrtbase.dll")) {
            using Streams = FILE*(__cdecl*)(unsigned);
            auto streams = reinterpret_cast<Streams>(
                reinterpret_cast<void*>(GetProcAddress(ucrt, "__acrt_iob_func")));
            toError = streams && stream == streams(2);
        }
        HANDLE target = GetStdHandle(toError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
        DWORD written = 0;
        if (target && target != INVALID_HANDLE_VALUE)
            WriteFile(target, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return length;
    };
}

int runStartupCacheMaker(const char*) {
    std::vector<std::wstring> words = splitWindowsCommandLine(std::wstring_view(GetCommandLineW()));
    if (words.size() < 3)
        return 2;
    std::wstring directory = words[2];

    std::optional<std::string> text = readSmallFile(directory + L"\\" + fromUtf8(EntryFiles::kJob));
    std::optional<MakeJob> job = text ? parseMakeJob(*text) : std::nullopt;
    if (!job) {
        recordFailure(directory, "the job of the maker is unreadable");
        return 2;
    }
    // Held until this process ends, so no other start records or makes meanwhile.
    HANDLE lock = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(job->lockHandle));
    (void)lock;
    waitForRecordingProcess(*job);

    std::wstring partial = fromUtf8(job->partialArchive);
    std::wstring archive = fromUtf8(job->archive);
    std::wstring training;
    for (const std::string& argument : job->arguments)
        for (const char* name : {"-XX:SharedClassListFile=", "-XX:AOTConfiguration="})
            if (argument.rfind(name, 0) == 0)
                training = fromUtf8(argument.substr(strlen(name)));
    uint64_t trainingSize = 0;
    std::string failure;
    if (!isPlainFile(training, &trainingSize) || trainingSize == 0) {
        failure = "the recording start left nothing to make the archive from";
    } else {
        std::optional<DWORD> code = runJava(directory, *job);
        uint64_t size = 0;
        if (!code)
            failure = "java.exe could not run or did not finish in time";
        else if (*code != 0)
            failure = "java.exe ended with exit code " + std::to_string(*code);
        else if (!isPlainFile(partial, &size) || size == 0)
            failure = "java.exe wrote no archive";
        else if (!MoveFileExW(partial.c_str(), archive.c_str(), MOVEFILE_REPLACE_EXISTING))
            failure = "the archive could not be put in place";
    }
    removeFile(training);
    removeFile(partial);
    if (!failure.empty())
        recordFailure(directory, failure);
    removeFile(directory + L"\\" + fromUtf8(EntryFiles::kJob));
    removeFile(directory + L"\\" + fromUtf8(EntryFiles::kAttempts));
    if (failure.empty())
        removeOtherEntries(directory);
    return failure.empty() ? 0 : 1;
}
