#include "jvm/runtime_search.h"

#include "core/config_keys.h"
#include "core/errors.h"
#include "core/log.h"

namespace {
std::string jvmHome;
} // namespace

const std::string& getJvmHome() { return jvmHome; }

const char* launcherBitness() { return sizeof(void*) == 8 ? "64" : "32"; }

bool LoadDLL(bool showMessages, const char* location, bool isJavaExe) {
    logMessage("searching for a Java runtime (location: %s, java.exe: %d)",
               location ? location : "none", isJavaExe ? 1 : 0);
    // No search sequence is walked yet, so no runtime can be found.
    logError("no runtime search sequence available");
    if (showMessages)
        showMessage(key::kMessageNoRuntime, launcherBitness());
    return false;
}
