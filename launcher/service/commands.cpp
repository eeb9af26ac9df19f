#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/config_keys.h"
#include "core/configuration.h"
#include "core/log.h"
#include "core/paths.h"
#include "service/output_log.h"
#include "service/service.h"
#include "service/settings.h"
#include "win/encoding.h"
#include "win/environment.h"
#include "win/handles.h"

#include <aclapi.h>
#include <sddl.h>

std::string serviceName;

namespace {

constexpr DWORD kConnectAccess = SC_MANAGER_CONNECT;

void print(const char* format, const char* argument = nullptr) {
    printf(format, argument);
    fflush(stdout);
}

// A path with a blank must reach the service control manager quoted: unquoted, Windows
// would try "C:\Program.exe" and the like first, with the service's rights.
std::string serviceBinaryPath() {
    const std::string& path = getExecutablePath();
    if (path.find(' ') == std::string::npos)
        return path;
    return "\"" + path + "\"";
}

// ChangeServiceConfig2W is missing on the oldest systems.
using ChangeConfig2 = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPVOID);
ChangeConfig2 changeConfig2() {
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    return advapi ? reinterpret_cast<ChangeConfig2>(
                        reinterpret_cast<void*>(GetProcAddress(advapi, "ChangeServiceConfig2W")))
                  : nullptr;
}

void setServiceDescription(SC_HANDLE service) {
    std::wstring description = getConfigMessage(key::kTextServiceDescription);
    ChangeConfig2 change = changeConfig2();
    if (description.empty() || !change)
        return;
    SERVICE_DESCRIPTIONW record{};
    record.lpDescription = description.data();
    change(service, SERVICE_CONFIG_DESCRIPTION, &record);
}

void changeConfig(SC_HANDLE service, DWORD level, void* record, const char* what) {
    ChangeConfig2 change = changeConfig2();
    if (!change || !change(service, level, record))
        logError("setting the %s failed %lu", what, change ? GetLastError() : 0UL);
}

// The service control manager's own recovery, for a service process that ends without a
// stopped report or reports a failure: restart after the same delays as the child's.
void setFailureActions(SC_HANDLE service) {
    const RestartPolicy& policy = serviceSettings().restart;
    if (!policy.enabled)
        return;
    std::vector<SC_ACTION> actions;
    std::string delays;
    for (uint32_t delay : policy.delaysSeconds) {
        actions.push_back(SC_ACTION{SC_ACTION_RESTART, delay * 1000});
        delays += " " + std::to_string(delay * 1000);
    }
    if (actions.empty())
        actions.push_back(SC_ACTION{SC_ACTION_RESTART, 0});
    logMessage("failure actions: restart after%s ms, reset after %lu s, error stops count",
               delays.c_str(), static_cast<unsigned long>(policy.resetAfterSeconds));
    SERVICE_FAILURE_ACTIONSW failure{};
    failure.dwResetPeriod = policy.resetAfterSeconds;
    failure.cActions = static_cast<DWORD>(actions.size());
    failure.lpsaActions = actions.data();
    changeConfig(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure, "failure actions");
    // A stopped report with an error counts as a failure too, not only a crash.
    SERVICE_FAILURE_ACTIONS_FLAG flag{TRUE};
    changeConfig(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag, "failure actions flag");
}

void setStartAndShutdownTiming(SC_HANDLE service, bool delayed) {
    if (delayed) {
        logMessage("delayed automatic start");
        SERVICE_DELAYED_AUTO_START_INFO info{TRUE};
        changeConfig(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &info, "delayed start");
    }
    SERVICE_PRESHUTDOWN_INFO preshutdown{serviceSettings().preshutdownTimeoutSeconds * 1000};
    changeConfig(service, SERVICE_CONFIG_PRESHUTDOWN_INFO, &preshutdown, "pre-shutdown time-out");
}

// The SDDL text of a path's access list, for the log; empty when it cannot be read.
std::wstring accessListText(const std::wstring& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL acl = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &acl, nullptr, &descriptor) != ERROR_SUCCESS)
        return L"";
    LPWSTR text = nullptr;
    std::wstring result;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
        result = text;
        LocalFree(text);
    }
    LocalFree(descriptor);
    return result;
}

// The log folder is made at install, with the rights to write it for an account other than
// LocalSystem: below Program Files such an account could not write its logs otherwise.
void prepareLogDirectory(const std::string& account) {
    const std::wstring& directory = serviceSettings().logDirectory;
    if (!createDirectories(directory)) {
        logError("cannot create the log folder %S (%lu)", directory.c_str(), GetLastError());
        return;
    }
    if (account.empty())
        return;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL current = nullptr;
    DWORD status = GetNamedSecurityInfoW(directory.c_str(), SE_FILE_OBJECT,
                                         DACL_SECURITY_INFORMATION, nullptr, nullptr, &current,
                                         nullptr, &descriptor);
    // The account's SID, looked up once; the service was just created, so a virtual account
    // is known by now.
    std::wstring name = toWide(account);
    DWORD sidSize = SECURITY_MAX_SID_SIZE;
    std::vector<BYTE> sid(sidSize);
    wchar_t domain[256];
    DWORD domainSize = 256;
    SID_NAME_USE use;
    if (status == ERROR_SUCCESS &&
        !LookupAccountNameW(nullptr, name.c_str(), sid.data(), &sidSize, domain, &domainSize, &use))
        status = GetLastError();
    EXPLICIT_ACCESSW access{};
    access.grfAccessPermissions = FILE_GENERIC_READ | FILE_GENERIC_WRITE | DELETE;
    access.grfAccessMode = GRANT_ACCESS;
    access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    BuildTrusteeWithSidW(&access.Trustee, sid.data());
    LPWSTR sidText = nullptr;
    if (status == ERROR_SUCCESS && ConvertSidToStringSidW(sid.data(), &sidText)) {
        logMessage("log folder %S granted: (A;OICI;0x%lx;;;%S)", directory.c_str(),
                   access.grfAccessPermissions, sidText);
        LocalFree(sidText);
    }
    PACL granted = nullptr;
    if (status == ERROR_SUCCESS)
        status = SetEntriesInAclW(1, &access, current, &granted);
    if (status == ERROR_SUCCESS)
        status = SetNamedSecurityInfoW(const_cast<wchar_t*>(directory.c_str()), SE_FILE_OBJECT,
                                       DACL_SECURITY_INFORMATION, nullptr, nullptr, granted,
                                       nullptr);
    if (granted)
        LocalFree(granted);
    if (descriptor)
        LocalFree(descriptor);
    if (status != ERROR_SUCCESS) {
        logError("cannot let %s write the log folder %S (%lu)", account.c_str(),
                 directory.c_str(), status);
        printf("Note: %s may not be able to write its logs in %S.\n", account.c_str(),
               directory.c_str());
        fflush(stdout);
        return;
    }
    logMessage("log folder %S: %S", directory.c_str(), accessListText(directory).c_str());
}

// Waits while the service is in `pendingState`, as long as its check point keeps rising or
// its wait hint has not run out, and returns the state it ends in.
DWORD waitWhilePending(SC_HANDLE service, DWORD pendingState) {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service, &status))
        return 0;
    ULONGLONG clockStart = GetTickCount64();
    DWORD checkPoint = status.dwCheckPoint;
    while (status.dwCurrentState == pendingState) {
        Sleep(500);
        if (!QueryServiceStatus(service, &status))
            return 0;
        if (status.dwCheckPoint > checkPoint) {
            checkPoint = status.dwCheckPoint;
            clockStart = GetTickCount64();
        } else if (GetTickCount64() - clockStart > status.dwWaitHint) {
            break;
        }
    }
    return status.dwCurrentState;
}

// What the service process last wrote about its child: its own process id, the child's
// (0 while a restart is waited for) and the restart count.
struct ChildStatus {
    unsigned long servicePid = 0;
    unsigned long childPid = 0;
    unsigned long restarts = 0;
};

bool readChildStatus(ChildStatus& status) {
    std::ifstream file(serviceFilePath(serviceName, L".status").c_str());
    return static_cast<bool>(file >> status.servicePid >> status.childPid >> status.restarts);
}

void printChildStatus(SC_HANDLE service) {
    SERVICE_STATUS_PROCESS process{};
    DWORD needed = 0;
    ChildStatus child;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&process),
                              sizeof process, &needed) ||
        !readChildStatus(child) || child.servicePid != process.dwProcessId)
        return;
    if (child.childPid != 0)
        printf("Child process id: %lu\n", child.childPid);
    else
        printf("Child process id: none, waiting to restart\n");
    printf("Restarts: %lu\n", child.restarts);
    fflush(stdout);
}

} // namespace

std::optional<std::string> buildDependencyList() {
    std::string value = getConfigString(key::kServiceDependencies);
    if (value.empty())
        return std::nullopt;
    std::string list;
    size_t start = 0;
    while (start <= value.size()) {
        size_t comma = value.find(',', start);
        if (comma == std::string::npos)
            comma = value.size();
        if (comma > start) {
            list.append(value, start, comma - start);
            list.push_back('\0');
        }
        start = comma + 1;
    }
    // A value of commas alone still gives the empty list, as the tokenizer would.
    list.push_back('\0');
    return list;
}

int cmdInstall(const InstallRequest& request) {
    const ServiceSettings& settings = serviceSettings();
    bool needsPassword = false;
    std::string account = serviceAccountName(settings.account, serviceName, &needsPassword);
    std::string password;
    if (!request.passwordVariable.empty()) {
        std::optional<std::string> value = readEnvironment(request.passwordVariable.c_str());
        if (!value) {
            print("The environment variable %s is not set.\n", request.passwordVariable.c_str());
            return 1;
        }
        password = *value;
    }
    cmdUninstall(false);
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        print("Could not open SCManager.\n");
        return 1;
    }
    // The wide call with the texts converted as the narrow one would: some narrow
    // implementations keep only the first name of the dependency list.
    std::wstring name = toWide(serviceName);
    std::wstring binaryPath = toWide(serviceBinaryPath());
    std::optional<std::string> dependencies = buildDependencyList();
    std::wstring wideDependencies = dependencies ? toWide(*dependencies) : std::wstring();
    DWORD serviceType = SERVICE_WIN32_OWN_PROCESS;
    // Only LocalSystem may interact with the desktop; Windows refuses the flag for others.
    if (request.interactive && settings.interactive != 0 && account.empty())
        serviceType |= SERVICE_INTERACTIVE_PROCESS;
    std::wstring wideAccount = toWide(account);
    std::wstring widePassword = toWide(password);
    UniqueServiceHandle service(CreateServiceW(
        manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS, serviceType,
        request.startType, SERVICE_ERROR_NORMAL, binaryPath.c_str(), nullptr, nullptr,
        dependencies ? wideDependencies.c_str() : nullptr,
        account.empty() ? nullptr : wideAccount.c_str(),
        request.passwordVariable.empty() ? nullptr : widePassword.c_str()));
    DWORD error = GetLastError();
    SecureZeroMemory(password.data(), password.size());
    SecureZeroMemory(widePassword.data(), widePassword.size() * sizeof(wchar_t));
    if (!service) {
        logError("CreateService failed %lu", error);
        print("Could not create service.\n");
        return 1;
    }
    if (needsPassword && request.passwordVariable.empty())
        logMessage("the account %s was given no password", account.c_str());
    setServiceDescription(service.get());
    prepareLogDirectory(account);
    setStartAndShutdownTiming(service.get(), request.delayedStart);
    setFailureActions(service.get());
    print("Installed service '%s'.\n", serviceName.c_str());
    return 0;
}

int cmdUninstall(bool verbose) {
    cmdStop(false);
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        if (verbose)
            print("Could not open SCManager.\n");
        return 1;
    }
    UniqueServiceHandle service(OpenServiceA(manager.get(), serviceName.c_str(), DELETE));
    if (!service || !DeleteService(service.get())) {
        logMessage("deleting the service failed %lu", GetLastError());
        if (verbose)
            print("Could not delete service.\n");
        return 1;
    }
    if (verbose)
        print("Uninstalled service '%s'.\n", serviceName.c_str());
    return 0;
}

int cmdStart() {
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, kConnectAccess));
    if (!manager) {
        print("Could not open SCManager.\n");
        return 1;
    }
    UniqueServiceHandle service(
        OpenServiceA(manager.get(), serviceName.c_str(), SERVICE_START | SERVICE_QUERY_STATUS));
    if (service && StartServiceA(service.get(), 0, nullptr)) {
        print("Starting service '%s'.\n", serviceName.c_str());
        if (waitWhilePending(service.get(), SERVICE_START_PENDING) == SERVICE_RUNNING)
            return 0;
        print("The service did not reach the running state.\n");
        return 1;
    }
    DWORD error = GetLastError();
    if (error == ERROR_SERVICE_ALREADY_RUNNING) {
        print("Service is already running.\n");
        return 0;
    }
    printf("Could not start service. Error code: %lu\n", error);
    fflush(stdout);
    return 1;
}

int cmdStop(bool verbose) {
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, kConnectAccess));
    if (!manager) {
        if (verbose)
            print("Could not open SCManager.\n");
        return 1;
    }
    UniqueServiceHandle service(
        OpenServiceA(manager.get(), serviceName.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) {
        logMessage("OpenService failed %lu", GetLastError());
        if (verbose)
            print("Could not stop service.\n");
        return 1;
    }
    SERVICE_STATUS status{};
    if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        print("Stopping service '%s'.\n", serviceName.c_str());
        if (waitForServiceStop(service.get()))
            print("Service stopped\n");
        else
            print("Error while stopping service\n");
        return 0;
    }
    DWORD error = GetLastError();
    logMessage("ControlService failed %lu", error);
    if (error == ERROR_SERVICE_NOT_ACTIVE) {
        print("Service is already stopped.\n");
        return 0;
    }
    if (verbose)
        print("Could not stop service.\n");
    return 1;
}

bool waitForServiceStop(SC_HANDLE service) {
    return waitWhilePending(service, SERVICE_STOP_PENDING) == SERVICE_STOPPED;
}

int cmdRestart() {
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, kConnectAccess));
    UniqueServiceHandle service(manager ? OpenServiceA(manager.get(), serviceName.c_str(),
                                                 SERVICE_QUERY_STATUS)
                                  : nullptr);
    SERVICE_STATUS status{};
    if (!service || !QueryServiceStatus(service.get(), &status)) {
        print("Could not restart service.\n");
        return 1;
    }
    if (status.dwCurrentState != SERVICE_STOPPED) {
        cmdStop(true);
        if (!QueryServiceStatus(service.get(), &status) ||
            status.dwCurrentState != SERVICE_STOPPED) {
            print("The service did not stop; it is not started again.\n");
            return 1;
        }
    }
    return cmdStart();
}

int cmdStatus() {
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, kConnectAccess));
    if (!manager) {
        print("Could not open SCManager.\n");
        return 1;
    }
    UniqueServiceHandle service(OpenServiceA(manager.get(), serviceName.c_str(),
                                       SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
    SERVICE_STATUS status{};
    if (!service || !QueryServiceStatus(service.get(), &status)) {
        print("Could not get status.\n");
        return 1;
    }
    int result = 3;
    if (status.dwCurrentState == SERVICE_RUNNING) {
        print("Running.\n");
        printChildStatus(service.get());
        result = 0;
    } else {
        print("Not running.\n");
    }
    // QUERY_SERVICE_CONFIGA needs pointer alignment.
    std::vector<QUERY_SERVICE_CONFIGA> buffer(kMaxText / sizeof(QUERY_SERVICE_CONFIGA) + 1);
    DWORD needed = 0;
    if (!QueryServiceConfigA(service.get(), buffer.data(), kMaxText, &needed)) {
        printf("Could not get config (%lu, %lu).\n", GetLastError(), needed);
        fflush(stdout);
        return 1;
    }
    if (buffer[0].dwStartType == SERVICE_AUTO_START)
        print("%s.\n", "Auto-start");
    return result;
}
