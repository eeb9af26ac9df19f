#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The decompressed tar stream: zlib's gz functions in the installer, a byte span in the
// unit tests and fuzzers.
class TarSource {
public:
    virtual ~TarSource() = default;
    // Reads up to `size` bytes: the count, 0 at the end, -1 on a read error.
    virtual int64_t read(void* buffer, size_t size) = 0;
    // Skips `count` bytes forward.
    virtual bool skip(int64_t count) = 0;
    virtual bool atEnd() = 0;
    // Position in the decompressed stream, for progress.
    virtual int64_t position() = 0;
};

// Where the entries go. The sink writes files relative to its target directory.
class TarSink {
public:
    virtual ~TarSink() = default;
    // Errors are ignored, as a missing directory shows itself when a file is opened in it.
    virtual void makeDirectory(const std::string& path) = 0;
    // Called before each file's data with the stream position.
    virtual void beginFile(int64_t streamPosition) = 0;
    virtual bool openFile(const std::string& path, int32_t size) = 0;
    virtual bool writeFile(const void* data, size_t size) = 0;
    // During a file's data, after every block.
    virtual void fileProgress(int64_t streamPosition) = 0;
    // False when the stream reported an error while writing or closing.
    virtual bool closeFile() = 0;
};

constexpr size_t kTarBlockSize = 512;
constexpr size_t kTarHeaderReadSize = 500;
constexpr size_t kTarCopyBlock = 32768;
// The path buffer: a long name must leave room for its terminator.
constexpr size_t kTarMaxPath = 6000;

// The size field: leading spaces and zeros skipped, a NUL ends it, a space ends it once
// digits began. Empty when the value does not fit a signed 32-bit size.
std::optional<int32_t> parseTarSize(std::string_view field);

// True for a relative path that names a plain file or directory below the target directory:
// not absolute, no drive or stream colon, no ".." component, no component that Windows
// would change or read as a device (trailing dots or blanks; CON, NUL, COM1, CONIN$, ... with
// any extension). Both separators count.
bool isSafeTarPath(std::string_view path);

enum class TarStatus {
    Done,         // at least one file written and the archive ended regularly
    Failed,       // damaged, truncated or refused; `errors` says why
    OpenFailed,   // a file could not be created; `failedPath` names it
};

struct TarResult {
    TarStatus status = TarStatus::Failed;
    int filesExtracted = 0;
    // The error lines in the order they arose, for the log.
    std::vector<std::string> errors;
    std::string failedPath;
};

// Reads the whole stream. Paths reach the sink with "\\" for "/" in a header's own name;
// a long name or a pax path is used as it stands. With `maxUnpackedBytes`, an entry that would
// take the file data written past it fails the archive before it is opened.
TarResult extractTarStream(TarSource& in, TarSink& out,
                           std::optional<int64_t> maxUnpackedBytes = std::nullopt);
