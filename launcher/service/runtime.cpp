#include <cstdio>
#include <cstring>
#include <string>

#include "core/config_keys.h"
#include "core/errors.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/single_instance.h"
#include "core/temp_lifetime.h"
#include "core/startup_cache.h"
#include "core/test_seams.h"
#include "jvm/java_vm_launcher.h"
#include "jvm/runtime_search.h"
#include "service/service.h"
#include "win/encoding.h"

namespace {

constexpr size_t kChildCommandLineSize = 12000;
constexpr DWORD kWaitHint = 50000;
constexpr DWORD kChildNotStarted = 5000;
// Reported when the service main gives up before a child exists: the pipes failed.
constexpr DWORD kPipesNotCreated = 5001;
constexpr DWORD kDrainBlock = 6000;
constexpr const wchar_t* kRestartMarker = L"__qln_restart";
constexpr const char* kPriorityKey = "SOFTWARE\\brightwell\\tarvo\\priority";

SERVICE_STATUS serviceStatus;
SERVICE_STATUS_HANDLE statusHandle;

// The dispatcher returns as soon as the service reports itself stopped, while the service-main
// thread still has its last steps to do; the start-up thread waits for them before it ends.
HANDLE serviceMainEnded;
// Taken by the first shutdown request, so that the pipe is written and closed only once
// even when a stop and a shutdown arrive on different threads.
HANDLE volatile shutdownPipe;

void reportStatus(const char* failureText) {
    if (!SetServiceStatus(statusHandle, &serviceStatus) && failureText)
        logMessage(failureText, static_cast<int>(GetLastError()));
}

void reportStopped(DWORD win32ExitCode, DWORD specificExitCode) {
    serviceStatus.dwCurrentState = SERVICE_STOPPED;
    serviceStatus.dwWin32ExitCode = win32ExitCode;
    serviceStatus.dwServiceSpecificExitCode = specificExitCode;
    reportStatus(nullptr);
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

void WINAPI serviceControlHandler(DWORD control) {
    logMessage("control handler request %d", static_cast<int>(control));
    switch (control) {
    case SERVICE_CONTROL_STOP:
        serviceStatus.dwCurrentState = SERVICE_STOP_PENDING;
        reportStatus("SetServiceStatus 2 failed %d");
        sendShutdownRequest(0);
        break;
    case SERVICE_CONTROL_SHUTDOWN:
        serviceStatus.dwCheckPoint++;
        serviceStatus.dwCurrentState = SERVICE_STOP_PENDING;
        reportStatus("SetServiceStatus 1 failed %d");
        sendShutdownRequest(0);
        break;
    default:
        reportStatus("SetServiceStatus 3 failed %d");
        break;
    }
}

DWORD WINAPI drainChildOutput(LPVOID readHandle) {
    logMessage("consuming output");
    static char block[kDrainBlock];
    DWORD read = 0;
    while (ReadFile(static_cast<HANDLE>(readHandle), block, kDrainBlock, &read, nullptr) &&
           read > 0) {
    }
    logMessage("consuming output done");
    return 0;
}

BOOL WINAPI consoleEventHandler(DWORD) {
    logMessage("ConsoleCtrlHandler event");
    return TRUE;
}

void appendWord(std::wstring& line, const std::wstring& word) {
    if (word.find(L' ') == std::wstring::npos)
        line += word;
    else
        line += L"\"" + word + L"\"";
}

std::wstring buildChildCommandLine(DWORD argumentCount, LPSTR* arguments) {
    ArgumentList words;
    splitCommandLine(GetCommandLineW(), words);
    std::wstring line;
    if (!words.empty())
        appendWord(line, words[0]);
    line += L' ';
    appendWord(line, toWide(serviceName));
    for (size_t i = 1; i < words.size(); ++i) {
        line += L' ';
        appendWord(line, words[i]);
    }
    for (DWORD i = 1; i < argumentCount; ++i) {
        line += L' ';
        appendWord(line, toWide(arguments[i] ? arguments[i] : ""));
    }
    line += L' ';
    line += kRestartMarker;
    return line;
}

DWORD childPriorityClass() {
    DWORD priority = NORMAL_PRIORITY_CLASS;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPriorityKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return priority;
    DWORD value = 0;
    DWORD size = sizeof value;
    LONG status = RegQueryValueExA(key, serviceName.c_str(), nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
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

bool createPipe(HANDLE* readEnd, HANDLE* writeEnd, const char* step) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, TRUE};
    if (pipeStepFails(step)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    return CreatePipe(readEnd, writeEnd, &attributes, 0) != 0;
}

bool keepPrivate(HANDLE handle, const char* step) {
    if (pipeStepFails(step)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0) != 0;
}

// The pipes of the child: output and error come back on one, the shutdown line goes out
// on the other. On failure the caller reports the service stopped.
bool createChildPipes(HANDLE* outputRead, HANDLE* outputWrite, HANDLE* inputRead) {
    HANDLE inputWrite = nullptr;
    if (!createPipe(outputRead, outputWrite, "1")) {
        logMessage("CreatePipe error (%d)", static_cast<int>(GetLastError()));
        return false;
    }
    if (!keepPrivate(*outputRead, "2")) {
        logMessage("SetHandleInformation error (%d)", static_cast<int>(GetLastError()));
        return false;
    }
    if (!createPipe(inputRead, &inputWrite, "3")) {
        logMessage("CreatePipe error 2 (%d)", static_cast<int>(GetLastError()));
        return false;
    }
    shutdownPipe = inputWrite;
    if (!keepPrivate(inputWrite, "4")) {
        logMessage("SetHandleInformation error 2 (%d)", static_cast<int>(GetLastError()));
        return false;
    }
    return true;
}

void closeIfOpen(HANDLE handle) {
    if (handle)
        CloseHandle(handle);
}

void runServiceMain(DWORD argumentCount, LPSTR* arguments) {
    logMessage("service main");
    serviceStatus = SERVICE_STATUS{};
    serviceStatus.dwServiceType = SERVICE_WIN32;
    serviceStatus.dwCurrentState = SERVICE_RUNNING;
    serviceStatus.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    serviceStatus.dwWaitHint = kWaitHint;

    size_t nameLength = argumentCount >= 1 && arguments[0] ? strlen(arguments[0]) : 0;
    if (nameLength >= 1 && nameLength <= kMaxServiceName)
        serviceName = arguments[0];
    else
        serviceName = "unknown";
    logMessage("service name is '%s'", serviceName.c_str());

    statusHandle = RegisterServiceCtrlHandlerA(serviceName.c_str(), serviceControlHandler);
    if (!statusHandle)
        return;
    reportStatus(nullptr);

    std::wstring commandLine = buildChildCommandLine(argumentCount, arguments);

    HANDLE outputRead = nullptr;
    HANDLE outputWrite = nullptr;
    HANDLE inputRead = nullptr;
    if (!createChildPipes(&outputRead, &outputWrite, &inputRead)) {
        closeIfOpen(outputRead);
        closeIfOpen(outputWrite);
        closeIfOpen(inputRead);
        closeIfOpen(InterlockedExchangePointer(const_cast<HANDLE*>(&shutdownPipe), nullptr));
        reportStopped(ERROR_SERVICE_SPECIFIC_ERROR, kPipesNotCreated);
        return;
    }

    DWORD priority = childPriorityClass();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inputRead;
    startup.hStdOutput = outputWrite;
    startup.hStdError = outputWrite;
    PROCESS_INFORMATION child{};
    bool started = false;
    // A cut command line would lose the restart marker, so a longer one is not started.
    if (commandLine.size() < kChildCommandLineSize) {
        std::wstring buffer = commandLine;
        started = CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, TRUE,
                                 priority | DETACHED_PROCESS, nullptr, nullptr, &startup,
                                 &child) != 0;
    } else {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    }
    if (!started) {
        logMessage("could not start process %S (%d)", commandLine.c_str(),
                   static_cast<int>(GetLastError()));
        CloseHandle(outputRead);
        CloseHandle(outputWrite);
        CloseHandle(inputRead);
        reportStopped(ERROR_SERVICE_SPECIFIC_ERROR, kChildNotStarted);
        return;
    }

    // Wine starts every process at normal priority whatever the creation flags ask for,
    // so the class is set once more on the running child.
    if (GetPriorityClass(child.hProcess) != priority && !SetPriorityClass(child.hProcess, priority))
        logMessage("SetPriorityClass error (%d)", static_cast<int>(GetLastError()));
    CloseHandle(outputWrite);
    // The child holds its own copy of the input's read end.
    CloseHandle(inputRead);
    HANDLE drain = CreateThread(nullptr, 0, drainChildOutput, outputRead, 0, nullptr);
    closeIfOpen(drain);
    serviceStatus.dwCurrentState = SERVICE_RUNNING;
    reportStatus(nullptr);
    logMessage("registering ConsoleCtrlHandler");
    SetConsoleCtrlHandler(consoleEventHandler, TRUE);

    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(child.hProcess, &exitCode))
        exitCode = 0;
    logMessage("process terminated with exit code %d", static_cast<int>(exitCode));
    // What the child extracted goes now, even where nothing of the child outlived it.
    sweepEndedTempDirectories(getTempDirectoryW());
    if (exitCode == 0 || serviceStatus.dwCurrentState == SERVICE_STOP_PENDING) {
        serviceStatus.dwCurrentState = SERVICE_STOPPED;
        reportStatus("SetServiceStatus 10 failed %d");
        logMessage("service stopped set");
    }
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
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
    // Signalled until a service main runs, so a dispatcher that never started one is not waited for.
    serviceMainEnded = CreateEventA(nullptr, TRUE, TRUE, nullptr);
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
