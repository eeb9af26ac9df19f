#include "jvm/java_vm_launcher.h"

#include <atomic>
#include <cstdio>
#include <utility>

#include "core/config_keys.h"
#include "core/errors.h"
#include "core/expansion.h"
#include "core/included_files_cache.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/single_instance.h"
#include "core/startup_cache.h"
#include "core/temp_lifetime.h"
#include "jvm/jvm_options.h"
#include "jvm/runtime_search.h"
#include "portable/java_launch.h"
#include "win/encoding.h"
#include "win/environment.h"
#include "win/win32.h"

namespace {

constexpr size_t kFixedArgumentsBuffer = 2000;
const char kMainSignature[] = "([Ljava/lang/String;)V";
const char kFirstRunClass[] = "com/quillon/runtime/launcher/FirstRun";

JavaVM* javaVm = nullptr;
JNIEnv* launchEnv = nullptr;
// Written once by the launching thread before main runs; the splash thread reads it.
std::atomic<bool> created{false};
bool serviceLauncher = false;
bool manualJre = false;

// The JVM writes the head of an escaped exception ("Exception in thread ...") through the
// standard error stream of its own C runtime, the trace through Java. When that stream is
// buffered (standard error on a pipe), the head arrives only as the process ends, after the
// launcher's message and torn from its trace. Unbuffered, everything leaves in order.
void unbufferRuntimeStandardError() {
    constexpr int kNoBuffering = 0x0004;  // _IONBF of the Microsoft C runtimes
    using SetBuffer = int(__cdecl*)(FILE*, char*, int, size_t);
    if (HMODULE ucrt = GetModuleHandleW(L"ucrtbase.dll")) {
        using Streams = FILE*(__cdecl*)(unsigned);
        auto stream = reinterpret_cast<Streams>(
            reinterpret_cast<void*>(GetProcAddress(ucrt, "__acrt_iob_func")));
        auto setBuffer = reinterpret_cast<SetBuffer>(
            reinterpret_cast<void*>(GetProcAddress(ucrt, "setvbuf")));
        if (stream && setBuffer)
            setBuffer(stream(2), nullptr, kNoBuffering, 0);
    }
    // Java 8 and older bring a runtime whose stream table has the layout of msvcrt's.
    for (const wchar_t* name : {L"msvcr120.dll", L"msvcr100.dll", L"msvcr71.dll"}) {
        HMODULE crt = GetModuleHandleW(name);
        if (!crt)
            continue;
        using Streams = FILE*(__cdecl*)();
        auto streams = reinterpret_cast<Streams>(
            reinterpret_cast<void*>(GetProcAddress(crt, "__iob_func")));
        auto setBuffer = reinterpret_cast<SetBuffer>(
            reinterpret_cast<void*>(GetProcAddress(crt, "setvbuf")));
        if (streams && setBuffer)
            setBuffer(&streams()[2], nullptr, kNoBuffering, 0);
    }
}

// Deletes a JNI local reference when it goes out of scope, so that a long parameter list
// does not fill the launching thread's local frame.
class LocalRef {
public:
    LocalRef(JNIEnv* env, jobject ref) : env_(env), ref_(ref) {}
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;
    ~LocalRef() {
        if (ref_ != nullptr)
            env_->functions->DeleteLocalRef(env_, ref_);
    }
    jobject get() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }

private:
    JNIEnv* env_;
    jobject ref_;
};

// Writes the whole trace of `exception` to the log, as Throwable.printStackTrace prints it.
// Runs once the exception is no longer pending; whatever fails on the way costs the log
// only the trace and leaves no exception pending behind.
void logStackTrace(JNIEnv* env, jthrowable exception) {
    const JNINativeInterface* jni = env->functions;
    if (jni->ExceptionCheck(env))
        jni->ExceptionClear(env);
    auto failed = [&](const char* step) {
        if (jni->ExceptionCheck(env))
            jni->ExceptionClear(env);
        logError("could not log the stack trace: %s", step);
    };
    LocalRef writerClass(env, jni->FindClass(env, "java/io/StringWriter"));
    if (!writerClass)
        return failed("StringWriter");
    jmethodID writerInit = jni->GetMethodID(env, writerClass.get(), "<init>", "()V");
    if (writerInit == nullptr)
        return failed("StringWriter()");
    LocalRef writer(env, jni->NewObject(env, writerClass.get(), writerInit));
    if (!writer)
        return failed("new StringWriter");
    LocalRef printerClass(env, jni->FindClass(env, "java/io/PrintWriter"));
    if (!printerClass)
        return failed("PrintWriter");
    jmethodID printerInit =
        jni->GetMethodID(env, printerClass.get(), "<init>", "(Ljava/io/Writer;)V");
    if (printerInit == nullptr)
        return failed("PrintWriter(Writer)");
    LocalRef printer(env, jni->NewObject(env, printerClass.get(), printerInit, writer.get()));
    if (!printer)
        return failed("new PrintWriter");
    LocalRef throwableClass(env, jni->FindClass(env, "java/lang/Throwable"));
    if (!throwableClass)
        return failed("Throwable");
    jmethodID print = jni->GetMethodID(env, throwableClass.get(), "printStackTrace",
                                       "(Ljava/io/PrintWriter;)V");
    if (print == nullptr)
        return failed("printStackTrace(PrintWriter)");
    jni->CallVoidMethod(env, exception, print, printer.get());
    if (jni->ExceptionCheck(env))
        return failed("printStackTrace");
    jmethodID toString =
        jni->GetMethodID(env, writerClass.get(), "toString", "()Ljava/lang/String;");
    if (toString == nullptr)
        return failed("toString()");
    LocalRef text(env, jni->CallObjectMethod(env, writer.get(), toString));
    if (jni->ExceptionCheck(env) || !text)
        return failed("toString");
    jsize length = jni->GetStringLength(env, text.get());
    const jchar* chars = jni->GetStringChars(env, text.get(), nullptr);
    if (chars == nullptr || length < 0)
        return failed("GetStringChars");
    std::wstring trace(reinterpret_cast<const wchar_t*>(chars), static_cast<size_t>(length));
    jni->ReleaseStringChars(env, text.get(), chars);

    // One log entry of "\n"-separated lines, without the runtime's line ends.
    std::wstring lines;
    for (wchar_t c : trace)
        if (c != L'\r')
            lines += c;
    while (!lines.empty() && lines.back() == L'\n')
        lines.pop_back();
    logMessage("%s", toNarrow(lines).c_str());
}

[[noreturn]] void internalError(const char* what) {
    logError("internal error in JavaVMLauncher: %s", what);
    fatalError(std::string("Internal Error: ") + what + " (JavaVMLauncher)");
}

std::string environmentValue(const char* name, bool& present) {
    std::optional<std::string> value = readEnvironment(name);
    present = value.has_value();
    return value.value_or("");
}

uint32_t consoleOutputCodepage() {
    // Without a console there is no code page to speak of, whatever the query returns.
    HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                 nullptr);
    if (console == INVALID_HANDLE_VALUE)
        return 0;
    CloseHandle(console);
    return GetConsoleOutputCP();
}

std::vector<std::string> collectLauncherSystemProperties() {
    LauncherFacts facts;
    facts.semaphoreName = getInstanceSemaphoreName();
    facts.manualJre = manualJre;
    facts.quillonFlavor = getLauncherFlavor() == 'q';
    facts.service = serviceLauncher;
    facts.executablePath = getExecutablePath();
    if (getConfigInt(key::kSingleInstance) != 0)
        facts.processCommFile = makePidTempFileName(GetCurrentProcessId());
    facts.tempDirectory = getIncludedFilesDirectory();
    facts.unextractedPosition = unextractedPosition(isLanguageRestart(), getIncludedFilesStart(),
                                                    getIncludedFilesEnd());
    bool pathSet = false, manPathSet = false;
    facts.path = environmentValue("PATH", pathSet);
    environmentValue("MANPATH", manPathSet);
    if (!manPathSet)
        facts.consoleCodepage = consoleOutputCodepage();
    return launcherSystemProperties(facts);
}

// Keys 103 and 105: expanded; "$..." is left for the Java side, anything else becomes a
// full path under the launcher directory.
std::wstring configuredPathParameter(int32_t enabledKey, int32_t pathKey) {
    if (getConfigInt(enabledKey) == 0)
        return std::wstring();
    std::wstring value = getConfigWideString(pathKey);
    expandVariables(value, false);
    if (!value.empty() && value[0] == L'$')
        return value;
    return normalizePathW(value, false, true);
}

std::string withTrailingBackslash(std::string path) {
    if (path.empty() || path.back() != '\\')
        path += '\\';
    return path;
}

jstring newJavaString(JNIEnv* env, const std::wstring& text) {
    static_assert(sizeof(wchar_t) == sizeof(jchar), "UTF-16 code units");
    return env->functions->NewString(env, reinterpret_cast<const jchar*>(text.data()),
                                     static_cast<jsize>(text.size()));
}

std::vector<std::wstring> mainParameters(const ArgumentList& commandLineWords) {
    std::vector<std::wstring> parameters;
    addLauncherParameters(parameters);
    if (!commandLineWords.empty())
        parameters.push_back(commandLineWords[0]);
    std::wstring fixedArguments = getConfigWideString(key::kFixedArguments, kFixedArgumentsBuffer);
    expandVariables(fixedArguments, false, kFixedArgumentsBuffer);
    splitCommandLine(fixedArguments, parameters);
    bool jWordsAreJvmOptions = getConfigInt(key::kJOptionsAreJvmOptions) != 0;
    for (std::wstring& word : forwardedArguments(commandLineWords, jWordsAreJvmOptions))
        parameters.push_back(std::move(word));
    return parameters;
}

// The runtime's exit hook: System.exit ends the process without returning here. A run
// directory that no cleanup copy waits for goes now; the runtime then ends the process.
void JNICALL removeRunDirectoryAtExit(jint) {
    const std::string& directory = getLauncherTempDirectory();
    if (!directory.empty())
        removeOwnTempDirectory(directory);
}

} // namespace

void setServiceLauncher() { serviceLauncher = true; }
void setManualJre() { manualJre = true; }
bool jvmCreated() { return created.load(); }

void addLauncherParameters(std::vector<std::wstring>& parameters) {
    parameters.push_back(getConfigInt(key::kApplicationType) == 1 ? L"true" : L"false");
    parameters.push_back(getConfigWideString(key::kParameter2));
    parameters.push_back(configuredPathParameter(key::kParameter3Enabled, key::kParameter3Path));
    parameters.push_back(configuredPathParameter(key::kParameter4Enabled, key::kParameter4Path));
    parameters.push_back(getConfigInt(key::kParameter5) != 0 ? L"true" : L"false");
}

bool createJavaVM(const ArgumentList& commandLineWords,
                  const std::vector<std::string>& launcherSystemProperties) {
    std::vector<std::string> options = buildJvmOptions(commandLineWords, launcherSystemProperties);
    std::vector<JavaVMOption> vmOptions(options.size());
    logMessage("vmoption count %d", static_cast<int>(options.size()));
    for (size_t i = 0; i < options.size(); ++i) {
        logMessage("vmoption %d: %s", static_cast<int>(i), options[i].c_str());
        vmOptions[i].optionString = &options[i][0];
        vmOptions[i].extraInfo = nullptr;
    }
    // In front, so that the application's own -Xlog options still take effect.
    std::vector<std::string> cacheOptions = startupCacheOptions(options);
    std::vector<JavaVMOption> cacheVmOptions(cacheOptions.size());
    for (size_t i = 0; i < cacheOptions.size(); ++i) {
        cacheVmOptions[i].optionString = &cacheOptions[i][0];
        cacheVmOptions[i].extraInfo = nullptr;
    }
    vmOptions.insert(vmOptions.begin(), cacheVmOptions.begin(), cacheVmOptions.end());
    char outputHookName[] = "vfprintf";
    if (VmOutputHook hook = startupCacheOutputHook())
        vmOptions.push_back({outputHookName, reinterpret_cast<void*>(hook)});
    char exitHookName[] = "exit";
    if (!getLauncherTempDirectory().empty() && !cleanupAfterExitArranged())
        vmOptions.push_back({exitHookName, reinterpret_cast<void*>(&removeRunDirectoryAtExit)});
    JavaVMInitArgs initArgs{};
    initArgs.version = JNI_VERSION_1_2;
    initArgs.nOptions = static_cast<jint>(vmOptions.size());
    initArgs.options = vmOptions.data();
    initArgs.ignoreUnrecognized = JNI_TRUE;

    CreateJavaVMFunction create = getCreateJavaVM();
    if (create == nullptr) {
        logError("JNI_CreateJavaVM is not bound");
        return false;
    }
    logMessage("Creating JVM");
    void* vm = nullptr;
    void* env = nullptr;
    if (create(&vm, &env, &initArgs) != JNI_OK)
        return false;
    javaVm = static_cast<JavaVM*>(vm);
    launchEnv = static_cast<JNIEnv*>(env);
    logMessage("JVM created");
    created = true;
    unbufferRuntimeStandardError();
    return true;
}

bool checkFirstRun() {
    if (getLauncherFlavor() != 'q')
        return true;
    std::string installation = normalizePath(getConfigString(key::kInstallationDirectory), true);
    std::string marker = withTrailingBackslash(installation) + ".quillon\\firstrun";
    if (!fileExists(marker))
        return true;
    logMessage("first run marker %s found", marker.c_str());

    JNIEnv* env = launchEnv;
    const JNINativeInterface* jni = env->functions;
    LocalRef firstRunClass(env, jni->FindClass(env, kFirstRunClass));
    if (!firstRunClass)
        fatalMessage(key::kMessageInternalError, "14");
    jmethodID firstRun = jni->GetStaticMethodID(env, firstRunClass.get(), "firstRun", "()Z");
    if (firstRun == nullptr)
        fatalMessage(key::kMessageInternalError, "15");
    jboolean goOn = jni->CallStaticBooleanMethod(env, firstRunClass.get(), firstRun);
    LocalRef exception(env, jni->ExceptionOccurred(env));
    if (exception) {
        jni->ExceptionDescribe(env);
        return false;
    }
    return goOn != JNI_FALSE;
}

bool callMainMethod(const ArgumentList& commandLineWords) {
    if (!checkFirstRun()) {
        logMessage("checkFirstRun stopped further execution");
        return true;
    }
    JNIEnv* env = launchEnv;
    const JNINativeInterface* jni = env->functions;

    std::string className = launcherClassName(getLauncherFlavor());
    logMessage("main class: %s", className.c_str());
    LocalRef launcherClass(env, jni->FindClass(env, className.c_str()));
    if (!launcherClass) {
        logError("could not find main class");
        fatalMessageW(key::kMessageLauncherClassMissing, nullptr);
    }
    jmethodID main = jni->GetStaticMethodID(env, launcherClass.get(), "main", kMainSignature);
    if (main == nullptr) {
        logError("could not find main method");
        fatalMessageW(key::kMessageMainMethodMissing, nullptr);
    }

    std::vector<std::wstring> parameters = mainParameters(commandLineWords);
    logMessage("param count: %d", static_cast<int>(parameters.size()));
    LocalRef stringClass(env, jni->FindClass(env, "java/lang/String"));
    if (!stringClass)
        internalError("paramArray");
    LocalRef array(env, jni->NewObjectArray(env, static_cast<jsize>(parameters.size()),
                                            stringClass.get(), nullptr));
    if (!array)
        internalError("paramArray");
    for (size_t i = 0; i < parameters.size(); ++i) {
        logMessage("param %d: %S", static_cast<int>(i), parameters[i].c_str());
        LocalRef text(env, newJavaString(env, parameters[i]));
        if (!text)
            internalError("jstr");
        jni->SetObjectArrayElement(env, array.get(), static_cast<jsize>(i), text.get());
    }

    logMessage("calling main");
    jni->CallStaticVoidMethod(env, launcherClass.get(), main, array.get());
    logMessage("main returned");
    LocalRef exception(env, jni->ExceptionOccurred(env));
    if (exception) {
        logError("an exception occured");
        jni->ExceptionDescribe(env);
        logStackTrace(env, exception.get());
        return false;
    }
    return true;
}

bool launchJavaProgram(const ArgumentList& commandLineWords, bool destroyAfterMain) {
    logMessage("launching program");
    std::vector<std::string> properties = collectLauncherSystemProperties();
    if (!createJavaVM(commandLineWords, properties)) {
        logError("could not initialize JVM");
        return false;
    }
    if (!callMainMethod(commandLineWords)) {
        logError("could not call main");
        return false;
    }
    if (destroyAfterMain) {
        logMessage("dest JVM");
        javaVm->functions->DestroyJavaVM(javaVm);
    }
    logMessage("launch done");
    return true;
}

JNIEnv* attachToJavaVM() {
    if (!created)
        return nullptr;
    void* env = nullptr;
    if (javaVm->functions->AttachCurrentThread(javaVm, &env, nullptr) != JNI_OK)
        return nullptr;
    return static_cast<JNIEnv*>(env);
}

void detachFromJavaVM() {
    if (created)
        javaVm->functions->DetachCurrentThread(javaVm);
}
