#pragma once

#include "win/win32.h"

// Gets a runtime when none was found: asks (or not, by the configuration), downloads
// "jre.tar.gz" and makes it the included runtime. Ends the process when that fails.
DWORD runtimeDownloadStep(HWND progressDialog);
