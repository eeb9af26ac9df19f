#include "jvm/runtime_splash.h"

#include <mutex>
#include <string>

#include "core/jvm_home.h"
#include "core/log.h"
#include "core/process.h"
#include "win/win32.h"

namespace {

constexpr int kImageResource = 10000;

using SplashInitFunction = void (*)();
using SplashLoadMemoryFunction = int (*)(void* data, int size);
using SplashCloseFunction = void (*)();

// A hide request may come from any thread; the library's close function is taken under the
// lock and called outside it.
std::mutex splashLock;
bool splashActive = false;
SplashCloseFunction splashClose = nullptr;

} // namespace

void showRuntimeSplash() {
    {
        std::lock_guard<std::mutex> guard(splashLock);
        if (splashActive)
            return;
    }
    std::string path = getJvmHome() + "\\bin\\splashscreen.dll";
    logMessage("loading splashscreen dll from %s", path.c_str());
    // The library's own dependencies lie beside it in the runtime's bin directory.
    HMODULE library = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!library) {
        logError("Could not load splashscreen.dll");
        return;
    }
    auto init = reinterpret_cast<SplashInitFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, "SplashInit")));
    auto loadMemory = reinterpret_cast<SplashLoadMemoryFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, "SplashLoadMemory")));
    auto close = reinterpret_cast<SplashCloseFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, "SplashClose")));
    if (!init || !loadMemory || !close) {
        logError("Could not find functions in splashscreen.dll");
        return;
    }
    init();
    HINSTANCE instance = getModuleInstance();
    HRSRC resource = FindResourceA(instance, MAKEINTRESOURCEA(kImageResource),
                                   MAKEINTRESOURCEA(10)); // RT_RCDATA
    HGLOBAL loaded = resource ? LoadResource(instance, resource) : nullptr;
    void* data = loaded ? LockResource(loaded) : nullptr;
    int size = resource ? static_cast<int>(SizeofResource(instance, resource)) : 0;
    int result = loadMemory(data, size);
    logMessage("splash load memory returned %d (%p, %p, %d)", result,
               static_cast<void*>(loaded), data, size);
    std::lock_guard<std::mutex> guard(splashLock);
    splashClose = close;
    splashActive = true;
}

void closeRuntimeSplash() {
    SplashCloseFunction close = nullptr;
    {
        std::lock_guard<std::mutex> guard(splashLock);
        if (splashActive)
            close = splashClose;
        splashClose = nullptr;
    }
    if (close)
        close();
}
