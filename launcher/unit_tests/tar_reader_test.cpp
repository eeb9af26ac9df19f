#include "portable/tar_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

// A decompressed stream in memory; `failAt` makes reads from that offset on fail.
class MemorySource final : public TarSource {
public:
    explicit MemorySource(std::string bytes, int64_t failAt = -1)
        : bytes_(std::move(bytes)), failAt_(failAt) {}
    int64_t read(void* buffer, size_t size) override {
        if (failAt_ >= 0 && position_ >= failAt_)
            return -1;
        if (position_ >= static_cast<int64_t>(bytes_.size())) {
            eof_ = true;
            return 0;
        }
        size_t count = std::min(size, bytes_.size() - static_cast<size_t>(position_));
        std::memcpy(buffer, bytes_.data() + position_, count);
        position_ += static_cast<int64_t>(count);
        if (count < size)
            eof_ = true;
        return static_cast<int64_t>(count);
    }
    // Like gzseek on a read stream: a skip past the end is not an error by itself.
    bool skip(int64_t count) override {
        position_ += count;
        return true;
    }
    bool atEnd() override { return eof_; }
    int64_t position() override { return position_; }

private:
    std::string bytes_;
    int64_t failAt_;
    int64_t position_ = 0;
    bool eof_ = false;
};

class MemorySink final : public TarSink {
public:
    void makeDirectory(const std::string& path) override { directories.push_back(path); }
    void beginFile(int64_t) override {}
    bool openFile(const std::string& path, int32_t) override {
        if (path == refuseOpen)
            return false;
        current = path;
        files[path];
        return true;
    }
    bool writeFile(const void* data, size_t size) override {
        if (writeFails)
            return false;
        files[current].append(static_cast<const char*>(data), size);
        return true;
    }
    void fileProgress(int64_t) override {}
    bool closeFile() override { return true; }

    std::map<std::string, std::string> files;
    std::vector<std::string> directories;
    std::string current;
    std::string refuseOpen;
    bool writeFails = false;
};

std::string octal(uint64_t value, size_t width) {
    std::string text(width - 1, '0');
    for (size_t i = width - 1; i-- > 0 && value;) {
        text[i] = static_cast<char>('0' + (value & 7));
        value >>= 3;
    }
    return text + '\0';
}

enum class Magic { Gnu, Posix, None };

// One 512-byte header; the checksum is left blank since the reader never looks at it.
std::string header(const std::string& name, char type, const std::string& sizeField,
                   Magic magic = Magic::Gnu, const std::string& prefix = "") {
    std::string block(kTarBlockSize, '\0');
    block.replace(0, std::min<size_t>(name.size(), 100), name.substr(0, 100));
    block.replace(124, sizeField.size(), sizeField);
    block[156] = type;
    if (magic == Magic::Gnu)
        block.replace(257, 8, "ustar  \0"s);
    else if (magic == Magic::Posix)
        block.replace(257, 8, "ustar\00000"s);
    block.replace(345, prefix.size(), prefix);
    return block;
}

std::string padded(const std::string& data) {
    size_t rest = data.size() % kTarBlockSize;
    return rest ? data + std::string(kTarBlockSize - rest, '\0') : data;
}

std::string entry(const std::string& name, char type, const std::string& data,
                  Magic magic = Magic::Gnu, const std::string& prefix = "") {
    return header(name, type, octal(data.size(), 12), magic, prefix) + padded(data);
}

std::string file(const std::string& name, const std::string& data) {
    return entry(name, '0', data);
}
std::string directory(const std::string& name) { return entry(name, '5', ""); }
std::string ending() { return std::string(2 * kTarBlockSize, '\0'); }

std::string paxRecord(const std::string& keyword, const std::string& value) {
    std::string body = " " + keyword + "=" + value + "\n";
    size_t length = body.size() + 1;
    while (std::to_string(length).size() + body.size() != length)
        length++;
    return std::to_string(length) + body;
}

struct Extraction {
    TarResult result;
    MemorySink sink;
};

Extraction extract(const std::string& archive, int64_t failAt = -1) {
    MemorySource in(archive, failAt);
    Extraction e;
    e.result = extractTarStream(in, e.sink);
    return e;
}

// ---------------------------------------------------------------------------------------

TEST(TarSize, FieldForms) {
    struct Case {
        std::string field;
        std::optional<int32_t> value;
    } cases[] = {
        {"00000001750\0"s, 1000},       // GNU and POSIX: zero-padded, NUL-terminated
        {"     1750 \0\0"s, 1000},      // old tars: leading spaces and a trailing space
        {"1750\0\0\0\0\0\0\0\0"s, 1000}, // NUL right after the digits
        {"000000001750"s, 1000},        // all twelve characters used
        {"0000000007 5"s, 7},           // a space ends the field once digits started
        {"\0\0\0\0\0\0\0\0\0\0\0\0"s, 0},
        {"00000000000\0"s, 0},
        {"17777777777\0"s, 2147483647},  // the largest signed 32-bit size
        {"20000000000\0"s, std::nullopt}, // 2 GiB does not fit
        {"77777777777\0"s, std::nullopt},
        {"\x80\0\0\0\0\0\0\0\0\0\0\x01"s, std::nullopt}, // base-256 form of big files
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseTarSize(c.field), c.value) << '"' << c.field << '"';
    }
}

TEST(TarPath, SafePaths) {
    struct Case {
        const char* path;
        bool safe;
    } cases[] = {
        {"bin\\java.exe", true},       {"lib/rt.jar", true},      {".\\bin\\", true},
        {"a..b\\c", true},             {"..", false},             {"..\\evil.dll", false},
        {"bin\\..\\..\\evil", false},  {"bin/../../evil", false}, {"\\windows\\x", false},
        {"/etc/passwd", false},        {"C:\\evil.dll", false},   {"c:evil", false},
        {"bin\\java.exe:stream", false}, {"", false},             {"bin\\..", false},
        // Windows would drop trailing dots and blanks, so the name checked is not the one made.
        {"bin\\java.exe.", false},     {"bin\\java.exe ", false}, {"bin.\\x", false},
        {"bin \\x", false},            {"...", false},            {"bin\\ .x", true},
        // Devices, with any extension and in any case.
        {"CON", false},                {"bin\\nul", false},       {"lib\\aux.dll", false},
        {"Prn.tar.gz", false},         {"com1", false},           {"LPT9.txt", false},
        {"COM0", false},               {"com\xB9.x", false},      {"conin$", false},
        {"CONOUT$.log", false},        {"nul .txt", false},       {"bin/Con/x", false},
        // ... but not names that only begin like one.
        {"console.dll", true},         {"nullable\\x", true},     {"com10", true},
        {"lpt", true},                 {"auxiliary.jar", true},   {"xcon", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isSafeTarPath(c.path), c.safe) << c.path;
    }
}

TEST(TarExtract, FilesDirectoriesAndPadding) {
    std::string block(512, 'b');
    std::string archive = directory("jre/") + directory("jre/bin/") + file("jre/one", "x") +
                          file("jre/bin/block", block) + file("jre/empty", "") + ending();
    Extraction e = extract(archive);
    EXPECT_EQ(e.result.status, TarStatus::Done);
    EXPECT_EQ(e.result.filesExtracted, 3);
    EXPECT_TRUE(e.result.errors.empty());
    EXPECT_EQ(e.sink.directories, (std::vector<std::string>{"jre\\", "jre\\bin\\"}));
    EXPECT_EQ(e.sink.files["jre\\one"], "x");
    EXPECT_EQ(e.sink.files["jre\\bin\\block"], block);
    EXPECT_EQ(e.sink.files["jre\\empty"], "");
}

TEST(TarExtract, EndsRegularlyWithoutZeroBlocks) {
    Extraction e = extract(file("a", "data"));
    EXPECT_EQ(e.result.status, TarStatus::Done);
    EXPECT_EQ(e.sink.files["a"], "data");
}

TEST(TarExtract, LongNameKeepsForwardSlashes) {
    std::string longName = "jre/" + std::string(150, 'n') + "/file.txt";
    std::string archive = entry("././@LongLink", 'L', longName + '\0') +
                          file(longName.substr(0, 100), "long") + file("short/x", "s") + ending();
    Extraction e = extract(archive);
    EXPECT_EQ(e.result.status, TarStatus::Done);
    EXPECT_EQ(e.sink.files[longName], "long");
    EXPECT_EQ(e.sink.files["short\\x"], "s");
}

TEST(TarExtract, LongNameLimit) {
    std::string fits(5999, 'a');
    Extraction ok = extract(entry("././@LongLink", 'L', fits) + file("x", "1") + ending());
    EXPECT_EQ(ok.result.status, TarStatus::Done);
    EXPECT_EQ(ok.sink.files.count(fits), 1u);

    std::string tooLong(6000, 'a');
    Extraction refused = extract(file("before", "1") + entry("././@LongLink", 'L', tooLong) +
                                 file("x", "2") + ending());
    EXPECT_EQ(refused.result.status, TarStatus::Failed);
    EXPECT_EQ(refused.result.errors, (std::vector<std::string>{"long file name too long"}));
    EXPECT_EQ(refused.sink.files.count("x"), 0u);
}

TEST(TarExtract, SkipsLinksAndGlobalHeadersWithTheirData) {
    // Data blocks that would look like headers if they were not skipped.
    std::string decoy = header("decoy", '0', octal(3, 12));
    std::string archive = entry("link", '2', decoy) + entry("hard", '1', decoy) +
                          entry("pax_global_header", 'g', paxRecord("comment", decoy)) +
                          entry("longlink", 'K', decoy) + file("real", "r") + ending();
    Extraction e = extract(archive);
    EXPECT_EQ(e.result.status, TarStatus::Done);
    EXPECT_EQ(e.sink.files.size(), 1u);
    EXPECT_EQ(e.sink.files["real"], "r");
}

TEST(TarExtract, PaxPathNamesTheNextEntryOnly) {
    std::string longName = "jre/" + std::string(120, 'p') + "/Main.class";
    std::string records = paxRecord("mtime", "1.5") + paxRecord("path", longName);
    std::string archive = entry("PaxHeaders/x", 'x', records, Magic::Posix) +
                          entry(longName.substr(0, 100), '0', "pax", Magic::Posix) +
                          entry("next", '0', "n", Magic::Posix) + ending();
    Extraction e = extract(archive);
    EXPECT_EQ(e.result.status, TarStatus::Done);
    EXPECT_EQ(e.sink.files[longName], "pax");
    EXPECT_EQ(e.sink.files["next"], "n");
    EXPECT_EQ(e.sink.files.size(), 2u);
}

TEST(TarExtract, PaxSizeOverridesTheHeader) {
    std::string archive = entry("PaxHeaders/x", 'x', paxRecord("size", "5"), Magic::Posix) +
                          header("f", '0', octal(0, 12), Magic::Posix) + padded("12345") + ending();
    Extraction e = extract(archive);
    EXPECT_EQ(e.result.status, TarStatus::Done);
    EXPECT_EQ(e.sink.files["f"], "12345");
}

TEST(TarExtract, MalformedPaxRefuses) {
    Extraction e =
        extract(entry("PaxHeaders/x", 'x', "99 path=x\n", Magic::Posix) + file("f", "1"));
    EXPECT_EQ(e.result.status, TarStatus::Failed);
    EXPECT_EQ(e.result.errors, (std::vector<std::string>{"malformed pax header"}));
    EXPECT_TRUE(e.sink.files.empty());
}

TEST(TarExtract, UstarPrefixOnlyInPosixHeaders) {
    std::string prefix = "jre/" + std::string(90, 'q');
    Extraction posix = extract(entry("lib/x.jar", '0', "u", Magic::Posix, prefix) + ending());
    EXPECT_EQ(posix.result.status, TarStatus::Done);
    EXPECT_EQ(posix.sink.files.count("jre\\" + std::string(90, 'q') + "\\lib\\x.jar"), 1u);

    // GNU headers keep other data where the prefix would be.
    Extraction gnu = extract(entry("lib/x.jar", '0', "u", Magic::Gnu, "\x01\x02") + ending());
    EXPECT_EQ(gnu.sink.files.count("lib\\x.jar"), 1u);
}

TEST(TarExtract, RefusesPathsOutsideTheTarget) {
    const char* names[] = {"../evil.dll", "/abs/evil.dll", "C:/evil.dll", "bin/../../evil.dll",
                           "x:stream"};
    for (const char* name : names) {
        Extraction e =
            extract(file("first", "1") + file(name, "evil") + file("after", "2") + ending());
        EXPECT_EQ(e.result.status, TarStatus::Failed) << name;
        ASSERT_EQ(e.result.errors.size(), 1u) << name;
        EXPECT_EQ(e.result.errors[0].rfind("unsafe path in archive: ", 0), 0u) << name;
        EXPECT_EQ(e.sink.files.size(), 1u) << name;
    }
    std::string longName = "../" + std::string(200, 'e');
    Extraction viaLong = extract(entry("././@LongLink", 'L', longName) + file("x", "e") + ending());
    EXPECT_EQ(viaLong.result.status, TarStatus::Failed);
    EXPECT_TRUE(viaLong.sink.files.empty());
    Extraction viaPax = extract(entry("p", 'x', paxRecord("path", "/etc/x"), Magic::Posix) +
                                entry("x", '0', "e", Magic::Posix) + ending());
    EXPECT_EQ(viaPax.result.status, TarStatus::Failed);
    EXPECT_TRUE(viaPax.sink.files.empty());
    Extraction viaDirectory = extract(file("a", "1") + directory("../outside/") + ending());
    EXPECT_EQ(viaDirectory.result.status, TarStatus::Failed);
    EXPECT_TRUE(viaDirectory.sink.directories.empty());
}

TEST(TarExtract, RefusesEntriesDifferingOnlyInLetterCase) {
    struct Case {
        const char* what;
        std::string archive;
        bool refused;
    } cases[] = {
        {"file, then file", file("bin/java.exe", "1") + file("BIN/Java.EXE", "2"), true},
        {"directory, then file", directory("lib/") + file("LIB", "2"), true},
        {"other separators and a dot", file("a/b", "1") + file("A\\.\\B", "2"), true},
        {"same spelling twice", file("a/b", "1") + file("a/b", "2"), false},
        {"same path, other separators", file("a/b", "1") + file("a\\b", "2"), false},
        {"only a parent in other case", directory("lib/") + file("LIB/x", "2"), false},
    };
    for (const Case& c : cases) {
        Extraction e = extract(c.archive + file("after", "3") + ending());
        if (c.refused) {
            EXPECT_EQ(e.result.status, TarStatus::Failed) << c.what;
            ASSERT_EQ(e.result.errors.size(), 1u) << c.what;
            EXPECT_EQ(e.result.errors[0].rfind("entries differ only in letter case: ", 0), 0u)
                << c.what;
            EXPECT_EQ(e.sink.files.count("after"), 0u) << c.what;
        } else {
            EXPECT_EQ(e.result.status, TarStatus::Done) << c.what;
        }
    }
}

TEST(TarExtract, StopsBeforeTheFileThatPassesTheUnpackedLimit) {
    std::string archive = file("a", std::string(600, 'a')) + file("b", std::string(400, 'b')) +
                          file("c", "c") + ending();
    struct Case {
        std::optional<int64_t> limit;
        size_t files;
        bool done;
    } cases[] = {{std::nullopt, 3, true}, {1001, 3, true}, {1000, 2, false}, {999, 1, false},
                 {0, 0, false}};
    for (const Case& c : cases) {
        MemorySource in(archive);
        MemorySink sink;
        TarResult result = extractTarStream(in, sink, c.limit);
        EXPECT_EQ(sink.files.size(), c.files) << c.limit.value_or(-1);
        EXPECT_EQ(result.status == TarStatus::Done, c.done) << c.limit.value_or(-1);
        if (!c.done) {
            ASSERT_EQ(result.errors.size(), 1u);
            EXPECT_EQ(result.errors[0].rfind("unpacked size exceeds " + std::to_string(*c.limit) +
                                                 " bytes at ",
                                             0),
                      0u);
        }
    }
}

TEST(TarExtract, EndingCases) {
    struct Case {
        const char* what;
        std::string archive;
        std::vector<std::string> errors;
    } cases[] = {
        {"directories only", directory("jre/") + directory("jre/bin/") + ending(),
         {"no magic number"}},
        {"empty stream", "", {"unexpected eof"}},
        {"not a tar", std::string(1024, 'z'), {"no magic number"}},
        {"cut in a file's data",
         file("a", "1") + header("b", '0', octal(2000, 12)) + std::string(700, 'd'),
         {"sizes don't match: 700, 2000", "extract file failed"}},
        {"cut inside a long name", header("././@LongLink", 'L', octal(300, 12)) + "abc",
         {"gzread failed for long file name"}},
        {"size beyond 2 GiB", header("big", '0', "20000000000\0"s) + ending(),
         {"size field out of range"}},
    };
    for (const Case& c : cases) {
        Extraction e = extract(c.archive);
        EXPECT_EQ(e.result.status, TarStatus::Failed) << c.what;
        EXPECT_EQ(e.result.errors, c.errors) << c.what;
    }
}

TEST(TarExtract, ReadAndWriteErrors) {
    std::string archive = file("a", std::string(600, 'a')) + file("b", "b") + ending();
    Extraction readError = extract(archive, 1024 + 512);
    EXPECT_EQ(readError.result.status, TarStatus::Failed);
    EXPECT_EQ(readError.result.errors, (std::vector<std::string>{"gzread failed"}));

    MemorySource in(archive);
    MemorySink sink;
    sink.writeFails = true;
    TarResult writeError = extractTarStream(in, sink);
    EXPECT_EQ(writeError.status, TarStatus::Failed);
    EXPECT_EQ(writeError.errors, (std::vector<std::string>{"stream error", "extract file failed"}));
}

TEST(TarExtract, OpenFailureNamesThePath) {
    MemorySource in(file("jre/a", "1") + file("jre/missing/x", "2") + ending());
    MemorySink sink;
    sink.refuseOpen = "jre\\missing\\x";
    TarResult result = extractTarStream(in, sink);
    EXPECT_EQ(result.status, TarStatus::OpenFailed);
    EXPECT_EQ(result.failedPath, "jre\\missing\\x");
}

} // namespace
