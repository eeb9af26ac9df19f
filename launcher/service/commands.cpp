#include <cstdio>
#include <cstring>
#include <vector>

#include "core/config_keys.h"
#include "core/configuration.h"
#include "core/log.h"
#include "core/paths.h"
#include "service/service.h"
#include "win/encoding.h"

std::string serviceName;

namespace {

// Owns a handle of the service control manager or of one service.
class ServiceHandle {
public:
    explicit ServiceHandle(SC_HANDLE handle) : handle_(handle) {}
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    ~ServiceHandle() {
        if (handle_) {
            DWORD error = GetLastError();
            CloseServiceHandle(handle_);
            SetLastError(error);
        }
    }
    SC_HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    SC_HANDLE handle_;
};

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
void setServiceDescription(SC_HANDLE service) {
    std::wstring description = getConfigMessage(key::kTextServiceDescription);
    if (description.empty())
        return;
    using ChangeConfig2 = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPVOID);
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    auto change = advapi ? reinterpret_cast<ChangeConfig2>(
                               reinterpret_cast<void*>(GetProcAddress(advapi, "ChangeServiceConfig2W")))
                         : nullptr;
    if (!change)
        return;
    SERVICE_DESCRIPTIONW record{};
    record.lpDescription = description.data();
    change(service, SERVICE_CONFIG_DESCRIPTION, &record);
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

int cmdInstall(DWORD startType, bool interactive) {
    cmdUninstall(false);
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
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
    if (interactive)
        serviceType |= SERVICE_INTERACTIVE_PROCESS;
    ServiceHandle service(CreateServiceW(manager.get(), name.c_str(), name.c_str(),
                                         SERVICE_ALL_ACCESS, serviceType, startType,
                                         SERVICE_ERROR_NORMAL, binaryPath.c_str(), nullptr,
                                         nullptr, dependencies ? wideDependencies.c_str() : nullptr,
                                         nullptr, nullptr));
    if (!service) {
        logError("CreateService failed %lu", GetLastError());
        print("Could not create service.\n");
        return 1;
    }
    setServiceDescription(service.get());
    print("Installed service '%s'.\n", serviceName.c_str());
    return 0;
}

int cmdUninstall(bool verbose) {
    cmdStop(false);
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        if (verbose)
            print("Could not open SCManager.\n");
        return 1;
    }
    ServiceHandle service(OpenServiceA(manager.get(), serviceName.c_str(), DELETE));
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
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, kConnectAccess));
    if (!manager) {
        print("Could not open SCManager.\n");
        return 1;
    }
    ServiceHandle service(OpenServiceA(manager.get(), serviceName.c_str(), SERVICE_START));
    if (service && StartServiceA(service.get(), 0, nullptr)) {
        print("Starting service '%s'.\n", serviceName.c_str());
        return 0;
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
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, kConnectAccess));
    if (!manager) {
        if (verbose)
            print("Could not open SCManager.\n");
        return 1;
    }
    ServiceHandle service(
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
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service, &status))
        return false;
    DWORD clockStart = GetTickCount();
    DWORD checkPoint = status.dwCheckPoint;
    while (status.dwCurrentState == SERVICE_STOP_PENDING) {
        Sleep(500);
        if (!QueryServiceStatus(service, &status))
            return false;
        if (status.dwCheckPoint > checkPoint) {
            checkPoint = status.dwCheckPoint;
            clockStart = GetTickCount();
        } else if (GetTickCount() - clockStart > status.dwWaitHint) {
            break;
        }
    }
    return status.dwCurrentState == SERVICE_STOPPED;
}

int cmdStatus() {
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, kConnectAccess));
    if (!manager) {
        print("Could not open SCManager.\n");
        return 1;
    }
    ServiceHandle service(OpenServiceA(manager.get(), serviceName.c_str(),
                                       SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
    SERVICE_STATUS status{};
    if (!service || !QueryServiceStatus(service.get(), &status)) {
        print("Could not get status.\n");
        return 1;
    }
    int result = 3;
    if (status.dwCurrentState == SERVICE_RUNNING) {
        print("Running.\n");
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
