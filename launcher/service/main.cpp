#include <cstdio>
#include <cstring>
#include <string>

#include "core/config_keys.h"
#include "core/configuration.h"
#include "core/dll_search.h"
#include "core/errors.h"
#include "core/log.h"
#include "core/process.h"
#include "portable/windows_command_line.h"
#include "core/temp_lifetime.h"
#include "core/startup_cache.h"
#include "service/service.h"
#include "service/settings.h"
#include "win/win32.h"

// One program, three roles: the command tool a user types commands to, the service process
// the service control manager starts, and the child that runs the Java application. It is
// built for the console subsystem so that the command texts reach the prompt that ran it.

namespace {

constexpr size_t kNonInteractiveLength = 15;

// The narrow command line after the program name and the blanks that follow it.
std::string commandTail() {
    const char* text = GetCommandLineA();
    if (*text == '"') {
        ++text;
        while (*text && *text != '"')
            ++text;
        if (*text == '"')
            ++text;
    } else {
        while (*text && *text != ' ' && *text != '\t')
            ++text;
    }
    while (*text == ' ' || *text == '\t')
        ++text;
    return text;
}

// The start type of "install": the configured one, else automatic for application type 4.
InstallRequest configuredInstall(bool interactive, const std::string& passwordVariable) {
    InstallRequest request;
    const std::string& configured = serviceSettings().startType;
    if (configured == "auto" || configured == "delayed")
        request.startType = SERVICE_AUTO_START;
    else if (configured == "demand")
        request.startType = SERVICE_DEMAND_START;
    else
        request.startType =
            getConfigInt(key::kApplicationType) == 4 ? SERVICE_AUTO_START : SERVICE_DEMAND_START;
    request.delayedStart = configured == "delayed";
    request.interactive = interactive;
    request.passwordVariable = passwordVariable;
    return request;
}

InstallRequest fixedInstall(DWORD startType, bool interactive,
                            const std::string& passwordVariable) {
    InstallRequest request;
    request.startType = startType;
    request.interactive = interactive;
    request.passwordVariable = passwordVariable;
    return request;
}

bool startsWith(const char* text, const char* prefix) {
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

// The command word, with "non-interactive", "/password-env NAME" and the service name taken
// off the rest of the line. Returns -1 when the word is no command.
int runCommand(std::string tail, bool nameTooLong) {
    char* word = tail.data() + 1;
    if (*word == '-')
        ++word;
    bool interactive = true;
    std::string passwordVariable;
    char* space = strchr(word, ' ');
    while (space && strlen(space) >= 2) {
        if (strncmp(space + 1, "non-interactive", kNonInteractiveLength) == 0) {
            interactive = false;
            *space = '\0';
            space = strchr(space + 1 + kNonInteractiveLength, ' ');
        } else if (startsWith(space + 1, "/password-env ") ||
                   startsWith(space + 1, "-password-env ")) {
            // Only the name of the variable is on the command line, never the password.
            *space = '\0';
            char* name = space + 1 + strlen("/password-env ");
            char* end = strchr(name, ' ');
            passwordVariable.assign(name, end ? static_cast<size_t>(end - name) : strlen(name));
            space = end;
        } else {
            serviceName = space + 1;
            nameTooLong = serviceName.size() > kMaxServiceName;
            *space = '\0';
            break;
        }
    }

    static const char* const kWords[] = {"install",   "install-and-start", "install-auto",
                                         "install-demand", "uninstall", "stop", "start",
                                         "status", "restart"};
    int command = -1;
    for (int i = 0; i < static_cast<int>(sizeof kWords / sizeof kWords[0]); ++i) {
        if (strcmp(word, kWords[i]) == 0) {
            command = i;
            break;
        }
    }
    if (command < 0)
        return -1;
    // A cut name would act on another service than the one the user named.
    if (nameTooLong) {
        printf("Service name too long: at most %d characters.\n",
               static_cast<int>(kMaxServiceName));
        fflush(stdout);
        return 1;
    }
    switch (command) {
    case 0:
        return cmdInstall(configuredInstall(interactive, passwordVariable));
    case 1:
        cmdInstall(configuredInstall(interactive, passwordVariable));
        return cmdStart();
    case 2:
        return cmdInstall(fixedInstall(SERVICE_AUTO_START, interactive, passwordVariable));
    case 3:
        return cmdInstall(fixedInstall(SERVICE_DEMAND_START, interactive, passwordVariable));
    case 4:
        return cmdUninstall(true);
    case 5:
        return cmdStop(true);
    case 6:
        return cmdStart();
    case 7:
        return cmdStatus();
    default:
        return cmdRestart();
    }
}

int serviceLauncherMain(HINSTANCE instance, const std::string& tail) {
    if (tail.rfind(kStartupCacheMakerWord, 0) == 0)
        return runStartupCacheMaker(tail.c_str());
    initLauncher(instance, nullptr);
    std::string configuredName = getConfigString(key::kApplicationName, kMaxText + 1);
    bool nameTooLong = configuredName.size() > kMaxServiceName;
    serviceName = configuredName.substr(0, kMaxServiceName);

    if (tail[0] == '/' || tail[0] == '-') {
        int result = runCommand(tail, nameTooLong);
        if (result >= 0)
            return result;
    }

    logMessage("command line %S", GetCommandLineW());
    // The service process quotes the child's words as the C runtime reads them.
    std::vector<std::wstring> childWords = splitWindowsCommandLine<wchar_t>(GetCommandLineW());
    if (childWords.size() >= 2 && childWords.back() == L"__qln_restart") {
        childWords.erase(childWords.begin());
        runChildLauncher(childWords);
        return 0;
    }
    ArgumentList arguments;
    splitCommandLine(GetCommandLineW(), arguments);
    if (!arguments.empty())
        arguments.erase(arguments.begin());
    if (!arguments.empty() && arguments.back() == L"__qln_restart") {
        runChildLauncher(arguments);
        return 0;
    }
    return runServiceDispatcher();
}

} // namespace

int main() {
    restrictDllSearch(DllSearch::SystemAndChosen);
    try {
        if (runCleanupIfAsked())
            return 0;
        return serviceLauncherMain(GetModuleHandleW(nullptr), commandTail());
    } catch (...) {
        fatalError("Internal Error: unexpected failure");
    }
}
