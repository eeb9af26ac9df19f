#include "jvm/splash_screen.h"

#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>

#include "core/config_keys.h"
#include "core/configuration.h"
#include "core/errors.h"
#include "core/log.h"
#include "core/process.h"
#include "core/single_instance.h"
#include "jvm/java_vm_launcher.h"
#include "jvm/runtime_splash.h"
#include "portable/splash_text.h"
#include "win/win32.h"

namespace {

constexpr char kWindowClass[] = "TarvoSplashScreen";
constexpr char kIconName[] = "ID_SPLASH_ICON";
constexpr int kImageResource = 10000;
constexpr UINT_PTR kTimerId = 9962;
constexpr UINT kTickMilliseconds = 100;
// CS_VREDRAW | CS_HREDRAW | CS_OWNDC
constexpr UINT kClassStyle = 0x23;
// A font without serifs at the default pitch (FF_SWISS | DEFAULT_PITCH).
constexpr BYTE kPitchAndFamily = 0x20;
constexpr size_t kFaceNameBuffer = 32;

constexpr char kControllerClass[] = "com/tarvo/runtime/TarvoController";
constexpr jint kActionHide = 1;
constexpr jint kActionNewText = 2;

using GetCreatedJavaVMsFunction = jint(JNICALL*)(JavaVM** vms, jsize size, jsize* count);

// Shared with the threads that ask for a hide or a new status text. The test and the setting
// of `splashActive` happen under the lock, and the splash thread creates its window while it
// holds the lock, so a hide request either finds the window or keeps it from being made.
// Nothing that sends a message to another thread runs under the lock.
std::mutex splashLock;
bool splashActive = false;
HWND splashWindow = nullptr;
std::string statusText;

// Everything below belongs to the splash thread alone.
struct TextLine {
    int x = 0;
    int y = 0;
    COLORREF color = 0;
    HFONT font = nullptr;
};

struct SplashState {
    int width = 0;
    int height = 0;
    TextLine status;
    TextLine second;
    std::string secondText;
    bool fontsCreated = false;
    HBITMAP image = nullptr;
    bool autoOff = false;
    bool ticking = false;
    // A thread timer gets its id from the system; the one asked for is ignored.
    UINT_PTR timer = 0;
    JNIEnv* env = nullptr;
    bool controllerLookedUp = false;
    jclass controller = nullptr;
    jmethodID getAction = nullptr;
    jmethodID getText = nullptr;
};
SplashState splash;

bool usesRuntimeLibrary() { return getConfigInt(key::kRuntimeSplashLibrary) != 0; }

HFONT createFont(int32_t faceKey, int32_t sizeKey, int32_t weightKey, HDC dc) {
    std::string face = getConfigString(faceKey, kFaceNameBuffer);
    int height = -MulDiv(getConfigInt(sizeKey), GetDeviceCaps(dc, LOGPIXELSY), 72);
    return CreateFontA(height, 0, 0, 0, getConfigInt(weightKey), FALSE, FALSE, FALSE, 0,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, kPitchAndFamily,
                       face.c_str());
}

void drawLine(HDC dc, const TextLine& line, const std::string& text) {
    SelectObject(dc, line.font);
    SetTextColor(dc, line.color);
    TextOutA(dc, line.x, line.y, text.c_str(), static_cast<int>(strlen(text.c_str())));
}

// Drawn off-screen and copied in one go, so that the image never flickers.
void paint(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    if (!splash.fontsCreated) {
        splash.status.font = createFont(key::kSplashText1Font, key::kSplashText1Size,
                                        key::kSplashText1Weight, dc);
        splash.second.font = createFont(key::kSplashText2Font, key::kSplashText2Size,
                                        key::kSplashText2Weight, dc);
        splash.fontsCreated = true;
    }
    std::string status;
    {
        std::lock_guard<std::mutex> guard(splashLock);
        status = statusText;
    }
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP canvas = CreateCompatibleBitmap(dc, splash.width, splash.height);
    HGDIOBJ oldCanvas = SelectObject(memory, canvas);
    HGDIOBJ oldFont = GetCurrentObject(memory, OBJ_FONT);
    RECT all{0, 0, splash.width, splash.height};
    FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH)));
    if (splash.image) {
        HDC source = CreateCompatibleDC(dc);
        HGDIOBJ oldImage = SelectObject(source, splash.image);
        BitBlt(memory, 0, 0, splash.width, splash.height, source, 0, 0, SRCCOPY);
        SelectObject(source, oldImage);
        DeleteDC(source);
    }
    SetBkMode(memory, TRANSPARENT);
    drawLine(memory, splash.status, status);
    drawLine(memory, splash.second, splash.secondText);
    BitBlt(dc, 0, 0, splash.width, splash.height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, oldFont);
    SelectObject(memory, oldCanvas);
    DeleteObject(canvas);
    DeleteDC(memory);
    EndPaint(window, &ps);
}

LRESULT CALLBACK splashWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        switch (message) {
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            paint(window);
            return 0;
        default:
            break;
        }
    } catch (...) {
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND createSplashWindow() {
    HINSTANCE instance = getModuleInstance();
    WNDCLASSA windowClass{};
    windowClass.style = kClassStyle;
    windowClass.lpfnWndProc = splashWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, kIconName);
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassA(&windowClass);

    RECT desktop{};
    GetWindowRect(GetDesktopWindow(), &desktop);
    WindowOrigin origin = centredOrigin(desktop.left, desktop.top, desktop.right, desktop.bottom,
                                        splash.width, splash.height);
    std::string title = getConfigString(key::kApplicationName);
    return CreateWindowExA(0, kWindowClass, title.c_str(), WS_POPUP, origin.x, origin.y,
                           splash.width, splash.height, nullptr, nullptr, instance, nullptr);
}

void readLayout() {
    splash.width = getConfigInt(key::kSplashWidth);
    splash.height = getConfigInt(key::kSplashHeight);
    splash.status = {getConfigInt(key::kSplashText1X), getConfigInt(key::kSplashText1Y),
                     getConfigColor(key::kSplashText1Color), nullptr};
    splash.second = {getConfigInt(key::kSplashText2X), getConfigInt(key::kSplashText2Y),
                     getConfigColor(key::kSplashText2Color), nullptr};
    splash.secondText = getConfigString(key::kSplashText2);
    splash.image = LoadBitmapA(getModuleInstance(), MAKEINTRESOURCEA(kImageResource));
}

// The splash thread attaches itself as a daemon: an ordinary attached thread keeps
// DestroyJavaVM waiting for ever once main has returned while the splash window shows. Null
// while there is no JVM yet; the next tick tries again.
JNIEnv* attachAsDaemon() {
    if (!jvmCreated())
        return nullptr;
    auto getCreatedJavaVMs = reinterpret_cast<GetCreatedJavaVMsFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("jvm.dll"), "JNI_GetCreatedJavaVMs")));
    JavaVM* vm = nullptr;
    jsize count = 0;
    if (!getCreatedJavaVMs || getCreatedJavaVMs(&vm, 1, &count) != JNI_OK || count < 1 || !vm)
        return nullptr;
    void* env = nullptr;
    return vm->functions->AttachCurrentThreadAsDaemon(vm, &env, nullptr) == JNI_OK
               ? static_cast<JNIEnv*>(env)
               : nullptr;
}

void clearPendingException(JNIEnv* env) {
    if (env->functions->ExceptionCheck(env))
        env->functions->ExceptionClear(env);
}

// Looked up once: a missing class or method leaves the window to auto off and hide requests.
void lookUpController(JNIEnv* env) {
    splash.controllerLookedUp = true;
    jclass found = env->functions->FindClass(env, kControllerClass);
    if (!found) {
        clearPendingException(env);
        return;
    }
    splash.getAction = env->functions->GetStaticMethodID(env, found, "getAction", "()I");
    clearPendingException(env);
    splash.getText =
        env->functions->GetStaticMethodID(env, found, "getText", "()Ljava/lang/String;");
    clearPendingException(env);
    // The thread has no Java frame, so the local reference lasts until it detaches.
    splash.controller = found;
}

void showNewStatusText(JNIEnv* env) {
    jobject text = env->functions->CallStaticObjectMethod(env, splash.controller, splash.getText);
    clearPendingException(env);
    if (!text)
        return;
    jsize length = env->functions->GetStringLength(env, text);
    const jchar* chars = env->functions->GetStringChars(env, text, nullptr);
    if (chars) {
        std::wstring copy(reinterpret_cast<const wchar_t*>(chars), static_cast<size_t>(length));
        env->functions->ReleaseStringChars(env, text, chars);
        setSplashStatusText(copy);
    }
    env->functions->DeleteLocalRef(env, text);
}

void stopTicking() {
    if (splash.timer != 0)
        KillTimer(nullptr, splash.timer);
    splash.timer = 0;
    splash.ticking = false;
    if (splash.env) {
        detachFromJavaVM();
        splash.env = nullptr;
    }
}

// One tick of the 100 ms timer.
void tick(HWND window) {
    if (!IsWindowVisible(window)) {
        stopTicking();
        return;
    }
    // The splash window itself is one of the process's windows.
    if (splash.autoOff && countProcessWindows(GetCurrentProcessId()) > 1) {
        logMessage("Splash screen auto off");
        hideSplashScreen();
        stopTicking();
        return;
    }
    if (!splash.env) {
        splash.env = attachAsDaemon();
        if (!splash.env)
            return;
    }
    JNIEnv* env = splash.env;
    if (!splash.controllerLookedUp)
        lookUpController(env);
    if (!splash.controller || !splash.getAction || !splash.getText)
        return;
    jint action = env->functions->CallStaticIntMethod(env, splash.controller, splash.getAction);
    clearPendingException(env);
    if (action == kActionHide) {
        hideSplashScreen();
        stopTicking();
    } else if (action == kActionNewText) {
        showNewStatusText(env);
    }
}

void runSplashThread(int showCommand) {
    logMessage("Showing splash screen");
    HWND window = nullptr;
    {
        std::lock_guard<std::mutex> guard(splashLock);
        if (splashActive)
            return;
        logMessage("Initializing splash screen");
        statusText = getConfigString(key::kSplashText1);
        readLayout();
        window = createSplashWindow();
        if (!window) {
            logError("Could not create the splash window (error %d)",
                     static_cast<int>(GetLastError()));
            return;
        }
        splashWindow = window;
        splashActive = true;
    }
    setErrorOwnerWindow(window);
    // A hide request from now on waits for this thread's message loop; the window ends up
    // hidden whichever comes first.
    ShowWindow(window, showCommand);
    if (getConfigInt(key::kSplashOnTop) != 0)
        SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    splash.autoOff = getConfigInt(key::kSplashAutoHide) != 0;
    splash.timer = SetTimer(nullptr, kTimerId, kTickMilliseconds, nullptr);
    splash.ticking = splash.timer != 0;

    // The thread keeps serving its hidden window after the last tick: it owns the error
    // message boxes, and a thread that ends takes its windows, and their owned boxes, along.
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == nullptr) {
            if (splash.ticking)
                tick(window);
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

DWORD WINAPI splashThread(LPVOID parameter) {
    try {
        runSplashThread(static_cast<int>(reinterpret_cast<intptr_t>(parameter)));
    } catch (...) {
        logError("splash screen thread failed");
    }
    return 0;
}

// Brings this process's windows forward unless one of them already is.
void restoreForeground() {
    DWORD foregroundProcess = 0;
    HWND foreground = GetForegroundWindow();
    if (foreground)
        GetWindowThreadProcessId(foreground, &foregroundProcess);
    if (foregroundProcess != GetCurrentProcessId())
        activateProcessWindows(GetCurrentProcessId(), false);
}

} // namespace

void showSplashScreen(int showCommand) {
    setSplashHideHandler(hideSplashScreen);
    if (showCommand == 0) {
        hideSplashScreen();
        return;
    }
    if (usesRuntimeLibrary()) {
        showRuntimeSplash();
        return;
    }
    logMessage("Starting splash screen thread");
    HANDLE thread = CreateThread(nullptr, 0, splashThread,
                                 reinterpret_cast<LPVOID>(static_cast<intptr_t>(showCommand)), 0,
                                 nullptr);
    if (thread)
        CloseHandle(thread);
    else
        logError("Could not start the splash screen thread (error %d)",
                 static_cast<int>(GetLastError()));
}

void hideSplashScreen() {
    if (usesRuntimeLibrary()) {
        closeRuntimeSplash();
        return;
    }
    logMessage("Hiding splash screen");
    bool wasActive = false;
    HWND window = nullptr;
    {
        std::lock_guard<std::mutex> guard(splashLock);
        wasActive = splashActive;
        splashActive = true;
        window = splashWindow;
    }
    if (!wasActive || !window)
        return;
    ShowWindow(window, SW_HIDE);
    restoreForeground();
}

void setSplashStatusText(std::wstring_view text) {
    std::u16string units(text.begin(), text.end());
    HWND window = nullptr;
    {
        std::lock_guard<std::mutex> guard(splashLock);
        if (!splashActive)
            return;
        statusText = statusTextFromUtf16(units);
        window = splashWindow;
    }
    if (window) {
        InvalidateRect(window, nullptr, FALSE);
        UpdateWindow(window);
    }
}
