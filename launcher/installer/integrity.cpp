#include "installer/integrity.h"

#include <algorithm>
#include <string>

#include <zlib.h>

#include "core/config_keys.h"
#include "core/configuration.h"
#include "core/errors.h"
#include "core/log.h"
#include "installer/cancel.h"
#include "installer/dialogs.h"
#include "installer/installer_state.h"
#include "portable/payload.h"
#include "win/file_reader.h"

namespace {

constexpr size_t kCheckBlock = 12000;

// The header fields after the magic; the configuration reader has read them once already,
// so a failure here means the file changed under us.
[[noreturn]] void failHeaderRead(const ReadFailure& failure) {
    if (failure.field == PayloadField::Int)
        logMessage("error %d %d\n", static_cast<int>(failure.systemError),
                   static_cast<int>(failure.bytesRead));
    else
        logMessage("error %d\n", static_cast<int>(failure.systemError));
    fatalError(internalErrorText(failure.field));
}

} // namespace

// zlib keeps the pre- and post-conditioning inside crc32(); the three steps only carry
// the running value, so 0 starts and the value is final as it stands.
uint32_t crc32Init(uint32_t value) { return value; }

uint32_t crc32Update(uint32_t value, const void* bytes, size_t count) {
    const Bytef* data = static_cast<const Bytef*>(bytes);
    while (count > 0) {
        uInt piece = static_cast<uInt>(std::min<size_t>(count, 1u << 30));
        value = static_cast<uint32_t>(crc32(value, data, piece));
        data += piece;
        count -= piece;
    }
    return value;
}

uint32_t crc32Final(uint32_t value) { return value; }

void verifyExecutableIntegrity(HWND progressDialog) {
    UniqueFile file = openLauncherFile();
    if (!file) {
        logError("could not open module %d", static_cast<int>(GetLastError()));
        fatalMessage(key::kMessageInternalError, "30");
    }
    uint64_t start = seekToPayload(file.get());
    logMessage("starting at %d", static_cast<int>(start));

    FileReader in(file.get());
    ReadFailure failure;
    uint32_t expected = 1;
    uint32_t computed = 0;
    int32_t magic = 0;
    if (!readInt(in, magic, failure))
        failHeaderRead(failure);
    if (static_cast<uint32_t>(magic) == kPayloadMagic) {
        expected = 0;
        int32_t checkFlag = 0;
        if (installerState().verifyIntegrity && !readInt(in, checkFlag, failure))
            failHeaderRead(failure);
        if (installerState().verifyIntegrity && checkFlag != 0) {
            int32_t stored = 0;
            int64_t length = 0;
            if (!readInt(in, stored, failure) || !readLong(in, length, failure))
                failHeaderRead(failure);
            expected = static_cast<uint32_t>(stored);
            logMessage("verifying integrity length %I64d", static_cast<long long>(length));
            static char buffer[kCheckBlock];
            uint32_t value = crc32Init(0);
            int64_t checked = 0;
            int lastPercent = 0;
            while (checked < length) {
                cancelPoint();
                pauseForTests("integrity");
                size_t want = static_cast<size_t>(std::min<int64_t>(kCheckBlock, length - checked));
                size_t got = in.read(buffer, want);
                if (got == 0) {
                    logError("check ReadFile failed %d %d %I64d", static_cast<int>(got),
                             static_cast<int>(in.lastError()), static_cast<long long>(checked));
                    fatalMessage(key::kMessageInternalError, "34");
                }
                value = crc32Update(value, buffer, got);
                checked += static_cast<int64_t>(got);
                if (progressDialog) {
                    int percent = static_cast<int>(checked * 100 / length);
                    if (percent > lastPercent) {
                        lastPercent = percent;
                        setProgressPosition(progressDialog, percent);
                    }
                }
            }
            computed = crc32Final(value);
            logMessage("checksums: %u %u %d %d", computed, expected, static_cast<int>(computed),
                       static_cast<int>(expected));
        } else if (progressDialog) {
            // The bar starts after the share the check would have taken.
            setProgressRange(progressDialog, 100, 400);
            setProgressPosition(progressDialog, 101);
        }
    }
    file.reset();
    if (computed == expected || cancelledExit())
        return;
    std::wstring caption = getConfigMessage(key::kTextInstallerCaption);
    std::wstring text = getConfigMessage(key::kTextDataDamaged);
    MessageBoxW(progressDialog, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
    exitLauncher(1);
}
