#include "installer/runtime_unpack.h"

#include <atomic>

#include <fcntl.h>
#include <io.h>

#include <zlib.h>

#include "core/config_keys.h"
#include "core/configuration.h"
#include "core/errors.h"
#include "core/log.h"
#include "installer/cancel.h"
#include "installer/dialogs.h"
#include "installer/runtime_download.h"
#include "jvm/pack200.h"
#include "jvm/runtime_search.h"
#include "portable/tar_reader.h"
#include "win/handles.h"

namespace {

constexpr DWORD kProgressIntervalMillis = 200;

// Read by the pack200 progress thread.
std::atomic<DWORD> extractionMillis{0};
std::atomic<bool> unpackDone{false};

class GzSource final : public TarSource {
public:
    explicit GzSource(gzFile file) : file_(file) {}
    int64_t read(void* buffer, size_t size) override {
        return gzread(file_, buffer, static_cast<unsigned>(size));
    }
    bool skip(int64_t count) override {
        return count == 0 || gzseek(file_, static_cast<z_off_t>(count), SEEK_CUR) >= 0;
    }
    bool atEnd() override { return gzeof(file_) != 0; }
    int64_t position() override { return gztell(file_); }

private:
    gzFile file_;
};

// Writes entries relative to the current directory, which untarGzip set to the target.
class FileSink final : public TarSink {
public:
    FileSink(HWND progressDialog, int32_t totalSize)
        : dialog_(progressDialog), totalSize_(totalSize) {}

    // A cancel stops the extraction between entries and blocks; the unwinding closes the
    // open file and the archive.
    void makeDirectory(const std::string& path) override {
        cancelPoint();
        CreateDirectoryA(path.c_str(), nullptr);
    }
    void beginFile(int64_t streamPosition) override {
        pauseForTests("unpack");
        cancelPoint();
        showProgress(streamPosition);
        lastProgress_ = 0;
        firstBlock_ = true;
    }
    bool openFile(const std::string& path, int32_t size) override {
        logMessage("extracting %s (size %d)", path.c_str(), static_cast<int>(size));
        file_.reset(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        streamError_ = false;
        return static_cast<bool>(file_);
    }
    bool writeFile(const void* data, size_t size) override {
        DWORD written = 0;
        if (!WriteFile(file_.get(), data, static_cast<DWORD>(size), &written, nullptr) ||
            written != size) {
            streamError_ = true;
            return false;
        }
        return true;
    }
    void fileProgress(int64_t streamPosition) override {
        cancelPoint();
        DWORD now = GetTickCount();
        if (firstBlock_ || now - lastProgress_ >= kProgressIntervalMillis) {
            firstBlock_ = false;
            lastProgress_ = now;
            showProgress(streamPosition);
        }
    }
    bool closeFile() override {
        if (file_.get() != INVALID_HANDLE_VALUE && !CloseHandle(file_.release()))
            streamError_ = true;
        return !streamError_;
    }

private:
    // 100 to 200 on the progress scale; without a known total size there is no share to show.
    void showProgress(int64_t streamPosition) {
        if (!dialog_ || totalSize_ <= 0)
            return;
        double share = static_cast<double>(streamPosition) / totalSize_ * 100;
        setProgressPosition(dialog_, 100 + static_cast<int>(share));
    }

    HWND dialog_;
    int32_t totalSize_;
    UniqueFile file_;
    bool streamError_ = false;
    bool firstBlock_ = true;
    DWORD lastProgress_ = 0;
};

DWORD WINAPI unpackProgressThread(LPVOID parameter) {
    HWND dialog = static_cast<HWND>(parameter);
    int position = 200;
    setProgressPosition(dialog, position);
    while (!unpackDone && position < 300) {
        Sleep(extractionMillis / 10);
        position += 10;
        setProgressPosition(dialog, position);
    }
    return 0;
}

// Closes the archive and goes back to the directory it started in, also when a cancel
// unwinds the extraction.
class ExtractionScope {
public:
    explicit ExtractionScope(gzFile archive) : archive_(archive) {
        GetCurrentDirectoryA(MAX_PATH, previous_);
    }
    ~ExtractionScope() {
        SetCurrentDirectoryA(previous_);
        gzclose(archive_);
    }
    ExtractionScope(const ExtractionScope&) = delete;
    ExtractionScope& operator=(const ExtractionScope&) = delete;

private:
    gzFile archive_;
    char previous_[MAX_PATH] = "";
};

} // namespace

namespace {

// Takes the archive and closes it.
bool untarGzFile(gzFile archive, const std::string& targetDirectory, HWND progressDialog,
                 int32_t totalSize) {
    TarResult result;
    {
        ExtractionScope scope(archive);
        if (!SetCurrentDirectoryA(targetDirectory.c_str())) {
            logError("Could not change to %s (%d)", targetDirectory.c_str(),
                     static_cast<int>(GetLastError()));
            return false;
        }
        GzSource in(archive);
        FileSink out(progressDialog, totalSize);
        // The size that stands for 100 % also bounds the archive: what unpacks to more than
        // twice that is damaged or made to fill the disk.
        std::optional<int64_t> limit;
        if (totalSize > 0)
            limit = 2 * static_cast<int64_t>(totalSize);
        result = extractTarStream(in, out, limit);
        if (result.status == TarStatus::OpenFailed) {
            char text[kMaxText];
            snprintf(text, sizeof text, "Could not open file %s\n", result.failedPath.c_str());
            logError("%s", text);
            fatalError(text);
        }
    }
    for (const std::string& error : result.errors)
        logError("%s", error.c_str());
    bool done = result.status == TarStatus::Done;
    if (done)
        logMessage("untaring JRE was successful");
    else
        logError("untaring JRE was unsuccessful");
    return done;
}

// The downloaded archive, read through the handle it was written and hashed through.
bool untarGzip(UniqueFile archive, const std::string& targetDirectory, HWND progressDialog,
               int32_t totalSize) {
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(archive.get()),
                                     _O_RDONLY | _O_BINARY);
    if (descriptor == -1) {
        logError("Could not open gz-file");
        return false;
    }
    archive.release();
    gzFile gz = gzdopen(descriptor, "rb");
    if (!gz) {
        _close(descriptor);
        logError("Could not open gz-file");
        return false;
    }
    return untarGzFile(gz, targetDirectory, progressDialog, totalSize);
}

} // namespace

bool untarGzip(const std::string& archivePath, const std::string& targetDirectory,
               HWND progressDialog, int32_t totalSize) {
    gzFile archive = gzopen(archivePath.c_str(), "rb");
    if (!archive) {
        logError("Could not open gz-file");
        return false;
    }
    return untarGzFile(archive, targetDirectory, progressDialog, totalSize);
}

void unpackIncludedRuntime(HWND progressDialog) {
    DWORD started = GetTickCount();
    logMessage("extracting JRE");
    if (!CreateDirectoryA("jre", nullptr))
        logError("Could not create JRE dir");
    int32_t totalSize = getConfigInt(key::kUnpackProgressSize);
    UniqueFile downloaded = takeDownloadedArchive();
    bool unpacked = downloaded
                        ? untarGzip(std::move(downloaded), "jre", progressDialog, totalSize)
                        : untarGzip("jre.tar.gz", "jre", progressDialog, totalSize);
    if (!unpacked) {
        logError("Could not untar JRE");
        fatalError("The bundled JRE is corrupted. If you downloaded the setup file please "
                   "download it again.");
    }
    DeleteFileA("jre.tar.gz");
    extractionMillis = GetTickCount() - started;

    if (getConfigInt(key::kPack200Jars) != 0) {
        logMessage("JRE is packed");
        if (progressDialog) {
            HANDLE thread =
                CreateThread(nullptr, 0, unpackProgressThread, progressDialog, 0, nullptr);
            if (thread) {
                SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL);
                CloseHandle(thread);
            }
        }
        char home[kMaxText];
        DWORD length = GetFullPathNameA("jre", kMaxText, home, nullptr);
        std::string runtime = length > 0 && length < kMaxText ? home : "jre";
        // The runtime may lie at the top of the archive or in a "jre" folder inside it.
        unpackPack200Runtime(runtime);
        unpackPack200Runtime(runtime + "\\jre");
        unpackDone = true;
    }
    useUnpackedRuntime();
}

void useUnpackedRuntime() {
    char directory[kMaxText] = "";
    DWORD length = GetFullPathNameA("jre", kMaxText, directory, nullptr);
    if (length == 0 || length >= kMaxText)
        directory[0] = '\0';
    logMessage("JRE dir: %s", directory);
    if (LoadDLL(false, directory, false))
        return;
    logError("Could not load bundled JRE. Trying to find another JRE.");
    if (!LoadDLL(false, nullptr, false)) {
        logError("Could not find another JRE.");
        fatalError("Could not use bundled JRE. Please send this log file to your software vendor:");
    }
}
