#include "service/output_log.h"

#include <utility>

#include "core/log.h"

namespace {

// A file that could not be opened is tried again after this long, not on every block.
constexpr uint64_t kReopenIntervalMs = 2000;

std::wstring numbered(const std::wstring& path, uint32_t number) {
    return path + L"." + std::to_wstring(number);
}

} // namespace

RotatingLog::RotatingLog(std::wstring path, uint64_t maxSize, uint32_t keep)
    : path_(std::move(path)), maxSize_(maxSize), keep_(keep) {
    InitializeCriticalSection(&lock_);
}

RotatingLog::~RotatingLog() {
    if (droppedInRun_ > 0)
        logMessage("%I64u bytes for %S were dropped", droppedInRun_, path_.c_str());
    file_.reset();
    DeleteCriticalSection(&lock_);
}

bool RotatingLog::open() {
    uint64_t now = GetTickCount64();
    if (now < nextOpenAttempt_)
        return false;
    file_.reset(CreateFileW(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) {
        DWORD error = GetLastError();
        nextOpenAttempt_ = now + kReopenIntervalMs;
        if (droppedInRun_ == 0)
            logMessage("cannot open %S (%lu); its output is dropped", path_.c_str(), error);
        return false;
    }
    LARGE_INTEGER size{};
    size_ = GetFileSizeEx(file_.get(), &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
    return true;
}

void RotatingLog::rotate() {
    file_.reset();
    if (keep_ == 0) {
        DeleteFileW(path_.c_str());
    } else {
        DeleteFileW(numbered(path_, keep_).c_str());
        for (uint32_t i = keep_; i > 1; --i)
            MoveFileExW(numbered(path_, i - 1).c_str(), numbered(path_, i).c_str(),
                        MOVEFILE_REPLACE_EXISTING);
        if (!MoveFileExW(path_.c_str(), numbered(path_, 1).c_str(), MOVEFILE_REPLACE_EXISTING))
            logMessage("cannot move %S aside (%lu)", path_.c_str(), GetLastError());
    }
    size_ = 0;
    nextOpenAttempt_ = 0;
}

bool RotatingLog::write(const char* data, size_t size) {
    EnterCriticalSection(&lock_);
    bool ready = file_ || open();
    // A block that does not fit starts a new file; one larger than the limit still goes whole.
    if (ready && size_ > 0 && size_ + size > maxSize_) {
        rotate();
        ready = open();
    }
    bool written = false;
    if (ready) {
        DWORD done = 0;
        written = WriteFile(file_.get(), data, static_cast<DWORD>(size), &done, nullptr) &&
                  done == size;
        if (written) {
            size_ += done;
        } else {
            logMessage("writing %S failed (%lu); its output is dropped", path_.c_str(),
                       GetLastError());
            file_.reset();
            nextOpenAttempt_ = GetTickCount64() + kReopenIntervalMs;
        }
    }
    if (written && droppedInRun_ > 0) {
        logMessage("%I64u bytes for %S were dropped", droppedInRun_, path_.c_str());
        droppedInRun_ = 0;
    } else if (!written) {
        dropped_ += size;
        droppedInRun_ += size;
    }
    LeaveCriticalSection(&lock_);
    return written;
}

bool createDirectories(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    size_t slash = path.find_last_of(L"\\/");
    if (slash != std::wstring::npos && slash > 2 && !createDirectories(path.substr(0, slash)))
        return false;
    return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}
