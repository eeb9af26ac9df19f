#pragma once

#include <optional>
#include <string>

#include "core/configuration.h"
#include "win/win32.h"

// The service's name: key 101, or the rest of a command line, or what the service control
// manager passes to the service main. At most kMaxServiceName characters.
constexpr size_t kMaxServiceName = 5999;
extern std::string serviceName;

// The command tool. Console texts go to standard output; results are exit codes.
struct InstallRequest {
    DWORD startType = SERVICE_DEMAND_START;
    bool delayedStart = false;
    bool interactive = true;
    // The environment variable that holds the account's password; empty for none.
    std::string passwordVariable;
};
int cmdInstall(const InstallRequest& request);
int cmdUninstall(bool verbose);
int cmdStart();
int cmdStop(bool verbose);
int cmdStatus();
// Stops the service, waits until it is stopped, and starts it again.
int cmdRestart();
bool waitForServiceStop(SC_HANDLE service);
// The entries of key 149 in the double-NUL-terminated form CreateServiceA takes; none for
// an empty key.
std::optional<std::string> buildDependencyList();

// The service process: connects to the dispatcher, whose service main starts the child.
int runServiceDispatcher();
void WINAPI serviceMain(DWORD argumentCount, LPSTR* arguments);

// The child launcher process: `arguments` without the program path, "__qln_restart" last.
void runChildLauncher(ArgumentList& arguments);
