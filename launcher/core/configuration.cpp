#include "core/configuration.h"

#include "core/config_keys.h"
#include "core/errors.h"
#include "core/locale.h"
#include "core/log.h"
#include "core/paths.h"
#include "portable/payload.h"
#include "win/encoding.h"
#include "win/file_reader.h"

namespace {

ConfigRecord record;

[[noreturn]] void failRead(const ReadFailure& failure) {
    switch (failure.field) {
    case PayloadField::Int:
        logMessage("error %d %d\n", static_cast<int>(failure.systemError),
                   static_cast<int>(failure.bytesRead));
        break;
    case PayloadField::Long:
    case PayloadField::Short:
        logMessage("error %d\n", static_cast<int>(failure.systemError));
        break;
    case PayloadField::String:
    case PayloadField::WString:
        break;
    }
    fatalError(internalErrorText(failure.field));
}

void traceLocation(const PayloadLocation& location) {
    if (location.sectionCount)
        logMessage("number of sections: %d", *location.sectionCount);
    if (location.optionalHeaderSize) {
        logMessage("size of optional headers: %d", *location.optionalHeaderSize);
        logMessage("resSectionTableStart: %d", static_cast<int>(location.lastSectionEntry));
    }
    if (location.rawDataOffset)
        logMessage("rawDataSize: %d, rawDataOffset: %d", static_cast<int>(*location.rawDataSize),
                   static_cast<int>(*location.rawDataOffset));
}

} // namespace

UniqueFile openLauncherFile() {
    return UniqueFile(CreateFileW(getExecutablePathW().c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

uint64_t seekToPayload(HANDLE file) {
    FileReader reader(file);
    PayloadLocation location;
    ReadFailure failure;
    bool found = seekToPayload(reader, location, failure);
    traceLocation(location);
    if (!found)
        failRead(failure);
    return location.payloadStart;
}

int32_t readConfiguration(const ArgumentList* arguments) {
    UniqueFile file = openLauncherFile();
    if (!file) {
        logError("Could not open %S", getExecutablePathW().c_str());
        fatalError("Error opening media file. Please move this file to an ascii-only path like "
                   "c:\\");
    }
    seekToPayload(file.get());
    FileReader reader(file.get());
    ReadFailure failure;
    PayloadHeader header;
    if (!readPayloadHeader(reader, header, failure))
        failRead(failure);
    if (header.magic != kPayloadMagic)
        fatalError("Internal Error: magic");
    if (!readConfigMaps(reader, record, failure))
        failRead(failure);
    std::string locale = selectLocale(arguments);
    if (!applyLanguageBlocks(reader, record, locale, failure))
        failRead(failure);
    record.includedFilesStart = static_cast<uint32_t>(reader.position());
    file.reset();

    int32_t applicationType = getConfigInt(key::kApplicationType);
    if (applicationType != 1 && applicationType != 5)
        setConsoleErrorMode();
    return applicationType;
}

std::string getConfigString(int32_t key, size_t size) {
    auto found = record.narrow.find(key);
    return found == record.narrow.end() ? std::string() : cutToBuffer(found->second, size);
}

std::wstring getConfigWideString(int32_t key, size_t size) {
    return widenBytes(getConfigString(key, size));
}

std::wstring getConfigMessage(int32_t key) {
    auto found = record.wide.find(key);
    return found == record.wide.end() ? std::wstring()
                                      : cutToBuffer(fromU16(found->second), kMaxText);
}

int32_t getConfigInt(int32_t key) {
    auto found = record.narrow.find(key);
    return found == record.narrow.end() ? 0 : parseConfigInt(found->second);
}

uint32_t getConfigColor(int32_t key) {
    auto found = record.narrow.find(key);
    return found == record.narrow.end() ? 0 : parseConfigColor(found->second);
}

uint32_t getIncludedFilesStart() { return record.includedFilesStart; }
uint32_t getIncludedFilesEnd() { return record.includedFilesEnd; }
void setIncludedFilesEnd(uint32_t position) { record.includedFilesEnd = position; }

int copyPayloadBytes(HANDLE source, HANDLE target, int64_t size, bool unscramble) {
    constexpr DWORD kChunk = 6000;
    char chunk[kChunk];
    int64_t copied = 0;
    while (copied < size) {
        DWORD wanted = static_cast<DWORD>(std::min<int64_t>(kChunk, size - copied));
        DWORD got = 0;
        if (!ReadFile(source, chunk, wanted, &got, nullptr) || got == 0) {
            logError("ReadFile failed %d %d %I64d", static_cast<int>(got),
                     static_cast<int>(GetLastError()), static_cast<long long>(copied));
            return 1;
        }
        if (unscramble)
            for (DWORD i = 0; i < got; ++i)
                chunk[i] = static_cast<char>(chunk[i] ^ kIncludedFileXor);
        DWORD written = 0;
        while (written < got) {
            DWORD step = 0;
            if (!WriteFile(target, chunk + written, got - written, &step, nullptr) || step == 0) {
                logError("WriteFile failed %d %d", static_cast<int>(got - written),
                         static_cast<int>(GetLastError()));
                return 2;
            }
            written += step;
        }
        copied += got;
    }
    return 0;
}

int extractIncludedFile(HANDLE source, const std::string& path) {
    FileReader reader(source);
    ReadFailure failure;
    int64_t size = 0;
    if (!readLong(reader, size, failure))
        failRead(failure);
    logMessage("extracting %s (size: %I64d)", path.c_str(), static_cast<long long>(size));
    if (size <= 0)
        return 0;
    // Made new: a file that is already there was not made by this run and is never used.
    UniqueFile target(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!target)
        fatalMessage(key::kMessageInternalError, "11");
    return copyPayloadBytes(source, target.get(), size, true);
}
