#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "core/config_keys.h"
#include "core/errors.h"
#include "core/expansion.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/single_instance.h"
#include "core/temp_lifetime.h"
#include "core/startup_cache.h"
#include "core/test_seams.h"
#include "jvm/java_vm_launcher.h"
#include "jvm/runtime_search.h"
#include "portable/supervisor.h"
#include "portable/windows_command_line.h"
#include "service/output_log.h"
#include "service/service.h"
#include "service/settings.h"
#include "win/child_process.h"
#include "win/encoding.h"

namespace {

constexpr size_t kChildCommandLineSize = 12000;
constexpr DWORD kChildNotStarted = 5000;
// Reported when the service main gives up before a child exists: the pipes failed.
constexpr DWORD kPipesNotCreated = 5001;
// Reported when the child crashed once more after the last restart the policy allows.
constexpr DWORD kRestartLimitReached = 5002;
constexpr DWORD kDrainBlock = 6000;
// Stop-pending reports come this often, each with a higher check point.
constexpr DWORD kStopProgressMs = 1000;
// Added to the remaining stop time in wait hints: the kill and the last report take a moment.
constexpr DWORD kWaitHintSlackMs = 5000;
// How long the drains may take to write what is left once every child is gone.
constexpr DWORD kDrainEndWaitMs = 5000;
constexpr const wchar_t* kRestartMarker = L"__qln_restart";
constexpr const char* kPriorityKey = "SOFTWARE\\brightwell\\tarvo\\priority";

SERVICE_STATUS serviceStatus;
SERVICE_STATUS_HANDLE statusHandle;
// The control handler and the service main both report; one report at a time.
CRITICAL_SECTION statusLock;

// The dispatcher returns as soon as the service reports itself stopped, while the service-main
// thread still has its last steps to do; the start-up thread waits for them before it ends.
HANDLE serviceMainEnded;
// Set by the control handler on stop, shutdown and pre-shutdown; the service main acts on it.
HANDLE stopEvent;
// The write end of the running child's standard input. Taken by the first shutdown request,
// so that it is written and closed only once whatever thread asks.
HANDLE volatile shutdownPipe;

std::unique_ptr<RotatingLog> eventLog;

// A line for the service's own log, with a time stamp, and for the diagnostic log.
void serviceEvent(const char* format, ...) __attribute__((format(ms_printf, 1, 2)));
void serviceEvent(const char* format, ...) {
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    logMessage("%s", text);
    if (!eventLog)
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char line[1100];
    int length = snprintf(line, sizeof line, "%04u-%02u-%02u %02u:%02u:%02u.%03u %s\r\n",
                          now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                          now.wSecond, now.wMilliseconds, text);
    if (length > 0)
        eventLog->write(line, std::min<size_t>(static_cast<size_t>(length), sizeof line - 1));
}

void reportStatus(const char* failureText) {
    EnterCriticalSection(&statusLock);
    if (!SetServiceStatus(statusHandle, &serviceStatus) && failureText)
        logMessage(failureText, static_cast<int>(GetLastError()));
    LeaveCriticalSection(&statusLock);
}

void reportStopped(DWORD win32ExitCode, DWORD specificExitCode) {
    EnterCriticalSection(&statusLock);
    serviceStatus.dwCurrentState = SERVICE_STOPPED;
    serviceStatus.dwCheckPoint = 0;
    serviceStatus.dwWaitHint = 0;
    serviceStatus.dwWin32ExitCode = win32ExitCode;
    serviceStatus.dwServiceSpecificExitCode = specificExitCode;
    reportStatus(nullptr);
    LeaveCriticalSection(&statusLock);
}

// Stop pending with a higher check point and a wait hint that covers `remainingMs`.
void reportStopProgress(uint64_t remainingMs, const char* failureText) {
    EnterCriticalSection(&statusLock);
    if (serviceStatus.dwCurrentState != SERVICE_STOPPED) {
        serviceStatus.dwCurrentState = SERVICE_STOP_PENDING;
        serviceStatus.dwCheckPoint++;
        serviceStatus.dwWaitHint =
            static_cast<DWORD>(std::min<uint64_t>(remainingMs, 86400000)) + kWaitHintSlackMs;
        reportStatus(failureText);
    }
    LeaveCriticalSection(&statusLock);
}

void sendShutdownRequest(int code) {
    logMessage("sending shutdown1 %d", code);
    char text[8];
    int length = snprintf(text, sizeof text, "%d\n", code & 0xff);
    HANDLE pipe = InterlockedExchangePointer(const_cast<HANDLE*>(&shutdownPipe), nullptr);
    DWORD written = 0;
    if (!pipe) {
        logMessage("sending shutdown failed");
        logMessage("error code %d", static_cast<int>(ERROR_INVALID_HANDLE));
        return;
    }
    if (!WriteFile(pipe, text, static_cast<DWORD>(length), &written, nullptr)) {
        DWORD error = GetLastError();
        logMessage("sending shutdown failed");
        logMessage("error code %d", static_cast<int>(error));
    }
    CloseHandle(pipe);
    logMessage("shutdown sent");
}

const char* controlName(DWORD control) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
        return "stop";
    case SERVICE_CONTROL_SHUTDOWN:
        return "shutdown";
    default:
        return "pre-shutdown";
    }
}

DWORD WINAPI serviceControlHandler(DWORD control, DWORD, LPVOID, LPVOID) {
    logMessage("control handler request %d", static_cast<int>(control));
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
    case SERVICE_CONTROL_PRESHUTDOWN:
        serviceEvent("%s asked", controlName(control));
        reportStopProgress(uint64_t{serviceSettings().stopTimeoutSeconds} * 1000,
                           control == SERVICE_CONTROL_STOP ? "SetServiceStatus 2 failed %d"
                                                           : "SetServiceStatus 1 failed %d");
        SetEvent(stopEvent);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        reportStatus("SetServiceStatus 3 failed %d");
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

BOOL WINAPI consoleEventHandler(DWORD) {
    logMessage("ConsoleCtrlHandler event");
    return TRUE;
}

std::wstring buildChildCommandLine(DWORD argumentCount, LPSTR* arguments) {
    ArgumentList own;
    splitCommandLine(GetCommandLineW(), own);
    ArgumentList words;
    words.push_back(own.empty() ? getExecutablePathW() : own[0]);
    words.push_back(toWide(serviceName));
    for (size_t i = 1; i < own.size(); ++i)
        words.push_back(own[i]);
    for (DWORD i = 1; i < argumentCount; ++i)
        words.push_back(toWide(arguments[i] ? arguments[i] : ""));
    words.push_back(kRestartMarker);
    // Each word quoted as the child splits it: a start parameter stays one word.
    return joinWindowsCommandLine(words);
}

DWORD childPriorityClass() {
    DWORD priority = NORMAL_PRIORITY_CLASS;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPriorityKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return priority;
    UniqueRegistryKey owned(key);
    DWORD value = 0;
    DWORD size = sizeof value;
    LONG status = RegQueryValueExA(key, serviceName.c_str(), nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(&value), &size);
    if (status == ERROR_SUCCESS && size == sizeof value) {
        logMessage("using priority %d", static_cast<int>(value));
        priority = value;
    }
    return priority;
}

// A test build can make one of the four pipe steps fail.
bool pipeStepFails(const char* step) {
    std::optional<std::string> seam = testSeam("QLN_TEST_SERVICE_PIPE_FAILURE");
    return seam && *seam == step;
}

bool createPipe(UniqueKernelHandle& readEnd, UniqueKernelHandle& writeEnd, const char* step) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, TRUE};
    if (pipeStepFails(step)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&read, &write, &attributes, 0))
        return false;
    readEnd.reset(read);
    writeEnd.reset(write);
    return true;
}

bool keepPrivate(HANDLE handle, const char* step) {
    if (pipeStepFails(step)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0) != 0;
}

// One stream of the children's output and the file it goes to.
struct OutputStream {
    UniqueKernelHandle readEnd;
    UniqueKernelHandle writeEnd;
    std::unique_ptr<RotatingLog> log;
    UniqueKernelHandle drain;
};

DWORD WINAPI drainStream(LPVOID parameter) {
    auto* stream = static_cast<OutputStream*>(parameter);
    logMessage("consuming output");
    static_assert(kDrainBlock <= 8192, "the block lives on the thread's stack");
    char block[kDrainBlock];
    DWORD read = 0;
    while (ReadFile(stream->readEnd.get(), block, kDrainBlock, &read, nullptr) && read > 0)
        stream->log->write(block, read);
    logMessage("consuming output done");
    return 0;
}

// The children's standard output and error, each on a pipe of its own that lives as long as
// the service, so that a restarted child writes on where the last one stopped.
bool createOutputStreams(OutputStream& output, OutputStream& error) {
    const ServiceSettings& settings = serviceSettings();
    if (!createPipe(output.readEnd, output.writeEnd, "1") ||
        !createPipe(error.readEnd, error.writeEnd, "1")) {
        logMessage("CreatePipe error (%d)", static_cast<int>(GetLastError()));
        return false;
    }
    if (!keepPrivate(output.readEnd.get(), "2") || !keepPrivate(error.readEnd.get(), "2")) {
        logMessage("SetHandleInformation error (%d)", static_cast<int>(GetLastError()));
        return false;
    }
    output.log = std::make_unique<RotatingLog>(serviceFilePath(serviceName, L".out.log"),
                                               settings.logMaxSize, settings.logKeep);
    error.log = std::make_unique<RotatingLog>(serviceFilePath(serviceName, L".err.log"),
                                              settings.logMaxSize, settings.logKeep);
    return true;
}

void writeStatusFile(DWORD childId, uint32_t restarts) {
    std::wstring path = serviceFilePath(serviceName, L".status");
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return;
    char text[64];
    int length = snprintf(text, sizeof text, "%lu %lu %lu\r\n", GetCurrentProcessId(), childId,
                          static_cast<unsigned long>(restarts));
    DWORD written = 0;
    WriteFile(file.get(), text, static_cast<DWORD>(length), &written, nullptr);
}

// Starts, asks and ends the children for the supervisor.
class ServiceChildren : public ChildControl {
public:
    ServiceChildren(std::wstring commandLine, HANDLE output, HANDLE error)
        : commandLine_(std::move(commandLine)), output_(output), error_(error) {}

    bool startChild() override {
        failureCode_ = kPipesNotCreated;
        UniqueKernelHandle inputRead;
        UniqueKernelHandle inputWrite;
        if (!createPipe(inputRead, inputWrite, "3")) {
            logMessage("CreatePipe error 2 (%d)", static_cast<int>(GetLastError()));
            return false;
        }
        if (!keepPrivate(inputWrite.get(), "4")) {
            logMessage("SetHandleInformation error 2 (%d)", static_cast<int>(GetLastError()));
            return false;
        }
        failureCode_ = kChildNotStarted;
        DWORD priority = childPriorityClass();
        ChildProcessOptions options;
        options.standardInput = inputRead.get();
        options.standardOutput = output_;
        options.standardError = error_;
        options.creationFlags = priority | DETACHED_PROCESS;
        bool started = false;
        // A cut command line would lose the restart marker, so a longer one is not started.
        if (commandLine_.size() < kChildCommandLineSize)
            started = startChildProcess(commandLine_, options, child_);
        else
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
        if (!started) {
            DWORD error = GetLastError();
            logMessage("could not start process %S (%d)", commandLine_.c_str(),
                       static_cast<int>(error));
            serviceEvent("the child could not be started (error %lu)", error);
            return false;
        }
        if (!child_.job)
            logMessage("the child runs outside a job: processes it starts may outlive it");
        // Wine starts every process at normal priority whatever the creation flags ask for,
        // so the class is set once more on the running child.
        if (GetPriorityClass(child_.process.get()) != priority &&
            !SetPriorityClass(child_.process.get(), priority))
            logMessage("SetPriorityClass error (%d)", static_cast<int>(GetLastError()));
        shutdownPipe = inputWrite.release();
        serviceEvent("child started, process id %lu", child_.id);
        writeStatusFile(child_.id, restarts_);
        return true;
    }

    void askChildToStop() override { sendShutdownRequest(0); }

    void killChild() override {
        serviceEvent("the child did not end within %lu s; ending it and every process it started",
                     static_cast<unsigned long>(serviceSettings().stopTimeoutSeconds));
        killChildProcess(child_, 1);
    }

    void restartScheduled(uint32_t delaySeconds, uint32_t restartInWindow) override {
        ++restarts_;
        serviceEvent("restarting in %u s (restart %u of at most %u)", delaySeconds,
                     restartInWindow, serviceSettings().restart.limit);
        writeStatusFile(0, restarts_);
    }

    HANDLE process() const { return child_.process.get(); }

    // The exit code of the ended child; its job goes too, with whatever the child left running.
    DWORD reap() {
        DWORD exitCode = 0;
        if (!GetExitCodeProcess(child_.process.get(), &exitCode))
            exitCode = 0;
        closeIfOpen(InterlockedExchangePointer(const_cast<HANDLE*>(&shutdownPipe), nullptr));
        child_ = ChildProcess{};
        return exitCode;
    }

    void endAll() {
        killChildProcess(child_, 1);
        child_ = ChildProcess{};
        closeIfOpen(InterlockedExchangePointer(const_cast<HANDLE*>(&shutdownPipe), nullptr));
    }

    DWORD failureCode() const { return failureCode_; }

private:
    static void closeIfOpen(HANDLE handle) {
        if (handle)
            CloseHandle(handle);
    }

    std::wstring commandLine_;
    HANDLE output_;
    HANDLE error_;
    ChildProcess child_;
    DWORD failureCode_ = kChildNotStarted;
    uint32_t restarts_ = 0;
};

// Variables of the configuration, for the children only: the service process starts them
// with its own environment.
void setChildEnvironment() {
    for (const auto& [name, configured] : serviceSettings().environment) {
        std::wstring value = configured;
        expandVariables(value, false);
        if (SetEnvironmentVariableW(name.c_str(), value.c_str()))
            logMessage("environment variable %S set", name.c_str());
        else
            logMessage("environment variable %S not set (%lu)", name.c_str(), GetLastError());
    }
}

// Waits for the next event of the child, the control handler or the clock, and hands it to
// the supervisor, until the supervisor has stopped.
void supervise(Supervisor& supervisor, ServiceChildren& children) {
    bool running = false;
    while (supervisor.state() != SupervisorState::Stopped) {
        if (!running && supervisor.state() == SupervisorState::Running) {
            running = true;
            EnterCriticalSection(&statusLock);
            if (serviceStatus.dwCurrentState == SERVICE_RUNNING)
                reportStatus(nullptr);
            LeaveCriticalSection(&statusLock);
            logMessage("registering ConsoleCtrlHandler");
            SetConsoleCtrlHandler(consoleEventHandler, TRUE);
        }
        HANDLE waits[2] = {stopEvent, children.process()};
        DWORD count = waits[1] ? 2 : 1;
        DWORD timeout = INFINITE;
        uint64_t now = GetTickCount64();
        if (supervisor.deadline() != 0)
            timeout = supervisor.deadline() > now
                          ? static_cast<DWORD>(std::min<uint64_t>(supervisor.deadline() - now,
                                                                  INFINITE - 1))
                          : 0;
        if (supervisor.state() == SupervisorState::Stopping)
            timeout = std::min(timeout, kStopProgressMs);
        DWORD woken = WaitForMultipleObjects(count, waits, FALSE, timeout);
        now = GetTickCount64();
        if (woken == WAIT_OBJECT_0) {
            ResetEvent(stopEvent);
            supervisor.stopRequested(now);
        } else if (woken == WAIT_OBJECT_0 + 1) {
            DWORD exitCode = children.reap();
            logMessage("process terminated with exit code %d", static_cast<int>(exitCode));
            serviceEvent("child ended with exit code %lu", exitCode);
            supervisor.childExited(now, exitCode);
        } else if (woken == WAIT_FAILED) {
            logMessage("waiting failed (%lu)", GetLastError());
            Sleep(kStopProgressMs);
        }
        supervisor.timePassed(GetTickCount64());
        if (supervisor.state() == SupervisorState::Stopping) {
            uint64_t at = GetTickCount64();
            uint64_t deadline = supervisor.deadline();
            reportStopProgress(deadline > at ? deadline - at : 0, nullptr);
        }
    }
}

void finishService(const Supervisor& supervisor, const ServiceChildren& children) {
    switch (supervisor.end()) {
    case SupervisorEnd::Stopped:
        reportStopped(NO_ERROR, 0);
        logMessage("service stopped set");
        serviceEvent("service stopped");
        break;
    case SupervisorEnd::ChildNotStarted:
        reportStopped(ERROR_SERVICE_SPECIFIC_ERROR, children.failureCode());
        serviceEvent("service stopped: no child runs (error %lu)", children.failureCode());
        break;
    case SupervisorEnd::RestartLimit:
        serviceEvent("service stopped: the child failed again after %lu restarts",
                     static_cast<unsigned long>(supervisor.totalRestarts()));
        reportStopped(ERROR_SERVICE_SPECIFIC_ERROR, kRestartLimitReached);
        break;
    case SupervisorEnd::Crashed:
    case SupervisorEnd::None:
        // No stopped report: the service control manager sees an unexpected end and
        // applies its own recovery.
        serviceEvent("service ends after the child failed");
        break;
    }
}

void runServiceMain(DWORD argumentCount, LPSTR* arguments) {
    logMessage("service main");
    serviceStatus = SERVICE_STATUS{};
    serviceStatus.dwServiceType = SERVICE_WIN32;
    serviceStatus.dwCurrentState = SERVICE_RUNNING;
    serviceStatus.dwControlsAccepted =
        SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN;
    serviceStatus.dwWaitHint = 50000;

    size_t nameLength = argumentCount >= 1 && arguments[0] ? strlen(arguments[0]) : 0;
    if (nameLength >= 1 && nameLength <= kMaxServiceName)
        serviceName = arguments[0];
    else
        serviceName = "unknown";
    logMessage("service name is '%s'", serviceName.c_str());

    // The event log is there before the control handler that writes to it.
    const ServiceSettings& settings = serviceSettings();
    if (!createDirectories(settings.logDirectory))
        logMessage("cannot create the log directory %S (%lu)", settings.logDirectory.c_str(),
                   GetLastError());
    eventLog = std::make_unique<RotatingLog>(serviceFilePath(serviceName, L".service.log"),
                                             settings.logMaxSize, settings.logKeep);

    statusHandle = RegisterServiceCtrlHandlerExA(serviceName.c_str(), serviceControlHandler,
                                                 nullptr);
    if (!statusHandle)
        return;
    reportStatus(nullptr);
    serviceEvent("service '%s' starting, process id %lu", serviceName.c_str(),
                 GetCurrentProcessId());

    std::wstring commandLine = buildChildCommandLine(argumentCount, arguments);
    OutputStream output;
    OutputStream error;
    if (!createOutputStreams(output, error)) {
        reportStopped(ERROR_SERVICE_SPECIFIC_ERROR, kPipesNotCreated);
        serviceEvent("service stopped: the output pipes could not be made");
        return;
    }
    setChildEnvironment();

    ServiceChildren children(commandLine, output.writeEnd.get(), error.writeEnd.get());
    uint64_t stopTimeoutMs = uint64_t{settings.stopTimeoutSeconds} * 1000;
    Supervisor supervisor(settings.restart, stopTimeoutMs, children);
    supervisor.start(GetTickCount64());
    if (supervisor.state() == SupervisorState::Running) {
        output.drain.reset(CreateThread(nullptr, 0, drainStream, &output, 0, nullptr));
        error.drain.reset(CreateThread(nullptr, 0, drainStream, &error, 0, nullptr));
    }
    supervise(supervisor, children);

    // Every child is gone with its job; once the service's own write ends are closed the
    // drains read to the end of what was written.
    children.endAll();
    // What the children extracted goes now, even where nothing of them outlived them.
    sweepEndedTempDirectories(getTempDirectoryW());
    output.writeEnd.reset();
    error.writeEnd.reset();
    HANDLE drains[2];
    DWORD drainCount = 0;
    for (OutputStream* stream : {&output, &error}) {
        if (stream->drain)
            drains[drainCount++] = stream->drain.get();
    }
    if (drainCount > 0)
        WaitForMultipleObjects(drainCount, drains, TRUE, kDrainEndWaitMs);
    DeleteFileW(serviceFilePath(serviceName, L".status").c_str());
    finishService(supervisor, children);
    logMessage("exiting");
    ExitProcess(0);
}

} // namespace

void WINAPI serviceMain(DWORD argumentCount, LPSTR* arguments) {
    ResetEvent(serviceMainEnded);
    try {
        runServiceMain(argumentCount, arguments);
    } catch (...) {
        logError("service main failed");
        if (statusHandle)
            reportStopped(ERROR_SERVICE_SPECIFIC_ERROR, kChildNotStarted);
    }
    SetEvent(serviceMainEnded);
}

int runServiceDispatcher() {
    logMessage("calling StartServiceCtrlDispatcher");
    std::string name = serviceName;
    SERVICE_TABLE_ENTRYA table[] = {{name.data(), serviceMain}, {nullptr, nullptr}};
    InitializeCriticalSection(&statusLock);
    // Signalled until a service main runs, so a dispatcher that never started one is not waited for.
    serviceMainEnded = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!StartServiceCtrlDispatcherA(table))
        logMessage("StartServiceCtrlDispatcher failed with error %d",
                   static_cast<int>(GetLastError()));
    logMessage("StartServiceCtrlDispatcher returned");
    // The service-main thread normally ends the process itself; a bounded wait lets it.
    if (serviceMainEnded)
        WaitForSingleObject(serviceMainEnded, 30000);
    return 0;
}

void runChildLauncher(ArgumentList& arguments) {
    arguments.pop_back();
    // No one sees a message box of a service: errors go to the log and to standard error.
    setConsoleErrorMode();
    setServiceLauncher();
    enableStartupCache();
    if (extractIncludedFiles(true) != 0)
        fatalMessage(key::kMessageInternalError, "16");
    prependNativeLibraryPath();
    logMessage("registering ConsoleCtrlHandler");
    SetConsoleCtrlHandler(consoleEventHandler, TRUE);
    enforceSingleInstance(true, false);
    if (!LoadDLL(true, nullptr, false))
        exitLauncher(1);
    if (!launchJavaProgram(arguments, true))
        exitLauncher(1);
}
