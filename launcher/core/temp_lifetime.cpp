#include "core/temp_lifetime.h"

#include <cstring>
#include <vector>

#include "core/log.h"
#include "core/paths.h"
#include "core/privilege.h"
#include "core/test_seams.h"
#include "core/process.h"
#include "win/encoding.h"
#include "win/handles.h"

#include <aclapi.h>
#include <sddl.h>

namespace {

// The name file of the directory this process made, and those of adopted directories;
// they stay open until the process ends.
HANDLE ownNameFile = INVALID_HANDLE_VALUE;
std::vector<HANDLE> adoptedNameFiles;

// The form that lifts the 260-character limit of the wide file functions.
std::wstring extendedPath(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\", 0) == 0)
        return path;
    if (path.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + path.substr(2);
    if (path.size() >= 2 && path[1] == L':')
        return L"\\\\?\\" + path;
    return path;
}

// The name file of "<name>_dir<time>", or empty when the directory is not named so.
std::wstring nameFileOf(const std::wstring& directory) {
    size_t mark = directory.rfind(L"_dir");
    if (mark == std::wstring::npos || mark + 4 == directory.size())
        return {};
    for (size_t i = mark + 4; i < directory.size(); ++i)
        if (directory[i] < L'0' || directory[i] > L'9')
            return {};
    return directory.substr(0, mark);
}

HANDLE openNameFile(const std::wstring& path, DWORD access, DWORD share, bool inheritable,
                    DWORD disposition = OPEN_EXISTING) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, inheritable ? TRUE : FALSE};
    return CreateFileW(extendedPath(path).c_str(), access, share, &attributes, disposition,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

constexpr DWORD kTreeAccess =
    DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;

// A reparse point (junction, symbolic link, mount point) is a link: it may be removed, never
// entered. The search's attributes count as well as the handle's, since some systems report
// the link only in the one or the other.
bool isLink(DWORD foundAttributes, HANDLE handle) {
    if (foundAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return true;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag))
        return true;  // what cannot be told apart is never entered
    return (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool isDirectory(DWORD foundAttributes, HANDLE handle) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag))
        foundAttributes |= tag.FileAttributes;
    return (foundAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Marks what the handle names for deletion; it goes when the last handle closes.
bool deleteThroughHandle(HANDLE handle) {
    FILE_BASIC_INFO basic{};
    if (GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) &&
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
        basic.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
        if (basic.FileAttributes == 0)
            basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
    }
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition) != FALSE;
}

struct Entry {
    std::wstring name;
    DWORD attributes;
};

// The entries of an open directory, read through its handle.
std::vector<Entry> listThroughHandle(HANDLE directory) {
    std::vector<Entry> entries;
    std::vector<unsigned char> buffer(64 * 1024);
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(directory, kind, buffer.data(),
                                        static_cast<DWORD>(buffer.size()))) {
        kind = FileIdBothDirectoryInfo;
        size_t offset = 0;
        for (;;) {
            auto* info = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(buffer.data() + offset);
            std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..")
                entries.push_back({name, info->FileAttributes});
            if (info->NextEntryOffset == 0)
                break;
            offset += info->NextEntryOffset;
        }
    }
    return entries;
}

// Removes `path` (extended form) and, unless it is a link, everything inside it. Every
// directory on the way stays open without delete sharing until its contents are gone, so
// nobody can rename it or put a link in its place while the walk is below it.
bool removeEntry(const std::wstring& path, DWORD foundAttributes) {
    UniqueFile handle(CreateFileW(path.c_str(), kTreeAccess, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
    if (!handle)
        return false;
    bool all = true;
    if (isDirectory(foundAttributes, handle.get()) && !isLink(foundAttributes, handle.get())) {
        for (const Entry& entry : listThroughHandle(handle.get()))
            all = removeEntry(path + L"\\" + entry.name, entry.attributes) && all;
    }
    return deleteThroughHandle(handle.get()) && all;
}

// A name file counts only as a plain file of this account: a link or a directory under that
// name, or a file someone else made, is not the mark of one of this user's runs.
bool isOwnPlainFile(const std::wstring& path, HANDLE file) {
    DWORD found = GetFileAttributesW(extendedPath(path).c_str());
    if (found == INVALID_FILE_ATTRIBUTES || isLink(found, file) || isDirectory(found, file))
        return false;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    wchar_t* text = nullptr;
    bool own = ConvertSidToStringSidW(owner, &text) && currentUserSid() == text;
    LocalFree(text);
    LocalFree(descriptor);
    return own;
}

// Written into the name file by an owner that holds it. Launchers that knew nothing of
// holding left their name files empty; a directory of theirs may belong to a run that is
// still going, so the sweep never touches it.
constexpr char kOwnerMark[] = "held by its launcher\r\n";
constexpr DWORD kOwnerMarkSize = sizeof kOwnerMark - 1;

bool carriesOwnerMark(HANDLE file) {
    char text[kOwnerMarkSize] = {};
    DWORD read = 0;
    return ReadFile(file, text, kOwnerMarkSize, &read, nullptr) && read == kOwnerMarkSize &&
           memcmp(text, kOwnerMark, kOwnerMarkSize) == 0;
}

// Shared among all holders, but never with a deleter.
HANDLE holdNameFile(const std::wstring& path, DWORD disposition = OPEN_EXISTING) {
    return openNameFile(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        true, disposition);
}

// Removes a directory whose name file no process holds; the exclusive open proves that and
// keeps a late holder out while the directory goes.
void removeIfEnded(const std::wstring& directory, DWORD foundAttributes) {
    std::wstring nameFile = nameFileOf(directory);
    if (nameFile.empty())
        return;
    UniqueFile exclusive(
        openNameFile(nameFile, GENERIC_READ | READ_CONTROL | DELETE, 0, false));
    if (!exclusive || !isOwnPlainFile(nameFile, exclusive.get()) ||
        !carriesOwnerMark(exclusive.get()))
        return;  // still held, not ours, or of a launcher that never held its name
    if (removeEntry(extendedPath(directory), foundAttributes)) {
        deleteThroughHandle(exclusive.get());
        logMessage("removed ended temp dir %S", directory.c_str());
    }
}

// A name file whose directory is gone: left when its owner ended between removing the one
// and the other, or before it made the directory. Only an ended owner lets it be opened alone.
void removeIfOrphanNameFile(const std::wstring& nameFile) {
    UniqueFile exclusive(openNameFile(nameFile, GENERIC_READ | READ_CONTROL | DELETE, 0, false));
    if (!exclusive || !isOwnPlainFile(nameFile, exclusive.get()) ||
        !carriesOwnerMark(exclusive.get()))
        return;
    WIN32_FIND_DATAW entry;
    UniqueFind directories(FindFirstFileW(extendedPath(nameFile + L"_dir*").c_str(), &entry));
    if (directories)
        return;  // the directory's own removal takes the name file with it
    if (deleteThroughHandle(exclusive.get()))
        logMessage("removed ended temp name %S", nameFile.c_str());
}

} // namespace

bool holdTempName(const std::string& nameFile) {
    releaseTempName();
    ownNameFile = holdNameFile(toWide(nameFile, fileCodePage()), CREATE_NEW);
    if (ownNameFile == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    WriteFile(ownNameFile, kOwnerMark, kOwnerMarkSize, &written, nullptr);
    return true;
}

void releaseTempName(const std::string& removeFile) {
    if (ownNameFile != INVALID_HANDLE_VALUE)
        CloseHandle(ownNameFile);
    ownNameFile = INVALID_HANDLE_VALUE;
    if (!removeFile.empty())
        DeleteFileW(extendedPath(toWide(removeFile, fileCodePage())).c_str());
}

void adoptTempDirectory(const std::wstring& directory) {
    std::wstring path = directory;
    while (!path.empty() && path.back() == L'\\')
        path.pop_back();
    std::wstring nameFile = nameFileOf(path);
    if (nameFile.empty())
        return;
    HANDLE held = holdNameFile(nameFile);
    if (held == INVALID_HANDLE_VALUE)
        return;
    adoptedNameFiles.push_back(held);
    logMessage("holding temp dir %S", path.c_str());
}

bool takeTempDirectoryAlone(const std::string& directory) {
    std::wstring nameFile = nameFileOf(toWide(directory, fileCodePage()));
    if (nameFile.empty())
        return true;
    releaseTempName();
    ownNameFile = openNameFile(nameFile, GENERIC_READ | DELETE, 0, false);
    if (ownNameFile != INVALID_HANDLE_VALUE)
        return true;
    return GetLastError() != ERROR_SHARING_VIOLATION;
}

bool removeOwnTempDirectory(const std::string& directory) {
    if (directory.empty() || !takeTempDirectoryAlone(directory))
        return false;
    std::wstring extended = extendedPath(toWide(directory, fileCodePage()));
    DWORD found = GetFileAttributesW(extended.c_str());
    if (!removeEntry(extended, found == INVALID_FILE_ATTRIBUTES ? 0 : found))
        return false;
    if (ownNameFile != INVALID_HANDLE_VALUE)
        deleteThroughHandle(ownNameFile);
    releaseTempName();
    logMessage("removed temp dir %s", directory.c_str());
    return true;
}

void sweepEndedTempDirectories(const std::wstring& tempDirectory) {
    if (tempDirectory.empty())
        return;
    std::wstring base = tempDirectory;
    if (base.back() != L'\\')
        base += L'\\';
    WIN32_FIND_DATAW entry;
    UniqueFind search(FindFirstFileW(extendedPath(base + L"tvo*.tmp_dir*").c_str(), &entry));
    std::vector<Entry> candidates;
    while (search) {
        if (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            candidates.push_back({base + entry.cFileName, entry.dwFileAttributes});
        if (!FindNextFileW(search.get(), &entry))
            search.reset();
    }
    for (const Entry& candidate : candidates)
        removeIfEnded(candidate.name, candidate.attributes);

    std::vector<std::wstring> nameFiles;
    search.reset(FindFirstFileW(extendedPath(base + L"tvo*.tmp").c_str(), &entry));
    if (!search)
        return;
    do {
        std::wstring name = entry.cFileName;
        // The pattern also matches longer names on some systems; only "<...>.tmp" itself.
        if (!(entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
            name.size() > 4 && name.compare(name.size() - 4, 4, L".tmp") == 0)
            nameFiles.push_back(base + name);
    } while (FindNextFileW(search.get(), &entry));
    search.reset();
    for (const std::wstring& nameFile : nameFiles)
        removeIfOrphanNameFile(nameFile);
}

namespace {

const wchar_t kCleanupMarker[] = L"__qln_cleanup";
bool cleanupArranged = false;

} // namespace

bool cleanupAfterExitArranged() { return cleanupArranged; }

void startCleanupAfterExit() {
    cleanupArranged = true;
    // Tests that look at what a run left behind keep it until the next start.
    if (testSeam("QLN_TEST_NO_CLEANUP_AFTER_EXIT"))
        return;
    std::wstring program = getExecutablePathW();
    std::wstring commandLine = L"\"" + program + L"\" " + kCleanupMarker + L" " +
                               std::to_wstring(GetCurrentProcessId());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // Nothing is inherited: a name file handle in the copy would keep the directory alive.
    // It leaves a job this process may belong to, where the job allows that, so that closing
    // the job with this process does not end the copy before its work.
    DWORD flags = DETACHED_PROCESS | CREATE_NO_WINDOW;
    BOOL started = CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                                  flags | CREATE_BREAKAWAY_FROM_JOB, nullptr, nullptr, &startup,
                                  &process);
    if (!started)
        started = CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, flags,
                                 nullptr, nullptr, &startup, &process);
    if (!started) {
        logMessage("cleanup after exit not started (%d)", static_cast<int>(GetLastError()));
        return;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

bool runCleanupIfAsked() {
    ArgumentList words;
    splitCommandLine(GetCommandLineW(), words);
    if (words.size() != 3 || words[1] != kCleanupMarker)
        return false;
    setLogPolicy(LogPolicy::Off);
    DWORD parent = wcstoul(words[2].c_str(), nullptr, 10);
    // A parent that is already gone cannot be opened: then there is nothing to wait for.
    // Otherwise the wait lasts as long as the run does; its end is what this copy is for.
    UniqueKernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, parent));
    if (process && WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0)
        return true;
    sweepEndedTempDirectories(toWide(getTempDirectory(), fileCodePage()));
    return true;
}
