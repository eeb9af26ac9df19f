#include "installer/runtime_download.h"

#include "core/config_keys.h"
#include "core/errors.h"
#include "core/log.h"

// This build carries no download: the step ends as a download that failed.
DWORD runtimeDownloadStep(HWND) {
    logError("JRE download is not available in this build");
    fatalLocalizedMessage(key::kTextDownloadFailed);
}
