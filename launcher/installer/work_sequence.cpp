#include "installer/work_sequence.h"

#include <cstdio>
#include <string>
#include <vector>

#include "core/config_keys.h"
#include "core/configuration.h"
#include "core/dll_search.h"
#include "core/errors.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/restart_trust.h"
#include "core/single_instance.h"
#include "core/temp_lifetime.h"
#include "installer/cancel.h"
#include "installer/dialogs.h"
#include "installer/installer_state.h"
#include "installer/integrity.h"
#include "installer/resource_ids.h"
#include "installer/runtime_download.h"
#include "installer/runtime_unpack.h"
#include "jvm/class_path.h"
#include "jvm/java_vm_launcher.h"
#include "jvm/pack200.h"
#include "jvm/runtime_search.h"
#include "jvm/splash_screen.h"

#include <commctrl.h>

namespace {

// Sent by the worker thread when its work returned, so the dialog's loop ends with it.
constexpr UINT kWorkFinished = WM_APP + 1;

enum class WorkerTask { WholeSequence, DownloadOnly };

struct WorkerStart {
    HWND dialog;
    WorkerTask task;
};

DWORD WINAPI workerThread(LPVOID parameter) {
    WorkerStart* start = static_cast<WorkerStart*>(parameter);
    HWND dialog = start->dialog;
    WorkerTask task = start->task;
    delete start;
    try {
        if (task == WorkerTask::DownloadOnly)
            runtimeDownloadStep(dialog);
        else
            runInstallerWork(dialog);
    } catch (const InstallCancelled&) {
        parkAfterCancel();
    } catch (...) {
        fatalError("Internal Error: unexpected failure");
    }
    workerEnded();
    PostMessageW(dialog, kWorkFinished, 0, 0);
    return 0;
}

std::string currentDirectory() {
    char directory[kMaxText] = "";
    DWORD length = GetCurrentDirectoryA(kMaxText, directory);
    if (length == 0 || length >= kMaxText)
        return "";
    return directory;
}

std::string fullPath(const char* name) {
    char path[kMaxText] = "";
    DWORD length = GetFullPathNameA(name, kMaxText, path, nullptr);
    if (length == 0 || length >= kMaxText)
        return name;
    return path;
}

void changeToTempDirectory() {
    const std::string& directory = getLauncherTempDirectory();
    if (!SetCurrentDirectoryA(directory.c_str()))
        logMessage("Could not change working dir to %s (%d)", directory.c_str(),
                   static_cast<int>(GetLastError()));
}

void showErrorBox(int32_t textKey) {
    if (cancelledExit())
        return;
    std::wstring caption = getConfigMessage(key::kTextInstallerCaption);
    std::wstring text = getConfigMessage(textKey);
    MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
}

// Shows the progress dialog modally; its worker runs `task`.
INT_PTR showProgressDialog(WorkerTask task) {
    return DialogBoxParamW(installerState().instance, MAKEINTRESOURCEW(IDD_PROGRESS), nullptr,
                           progressDialogProc, static_cast<LPARAM>(task));
}

// The sequence starts again inside the dialog; the first run's directory goes first.
void dropLauncherTempDirectory() {
    std::string directory = getLauncherTempDirectory();
    if (directory.empty())
        return;
    SetCurrentDirectoryA(getTempDirectory().c_str());
    removeOwnTempDirectory(directory);
    setLauncherTempDirectory("");
}

void unpackIncludedPackFiles() {
    int32_t count = getConfigInt(key::kIncludedFileCount);
    std::string list = getConfigString(key::kIncludedFileNames);
    size_t start = 0;
    for (int32_t i = 0; i < count && start <= list.size(); i++) {
        size_t end = list.find(';', start);
        if (end == std::string::npos)
            end = list.size();
        std::string entry = list.substr(start, end - start);
        start = end + 1;
        if (entry.empty())
            break;
        if (entry.size() >= 5 && entry.compare(entry.size() - 5, 5, ".pack") == 0) {
            cancelPoint();
            logMessage("unpacking %s", entry.c_str());
            runUnpack200(getJvmHome(), getLauncherTempDirectory() + "\\" + entry);
        }
    }
}

} // namespace

INT_PTR CALLBACK progressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        centerWindow(window);
        setErrorOwnerWindow(window);
        setProgressRange(window, 0, 100);
        setDialogItemText(window, IDC_MESSAGE, getConfigMessage(key::kTextProgressLabel));
        setWindowTitle(window, getConfigMessage(key::kTextInstallerCaption));
        setDialogItemText(window, IDCANCEL, getConfigMessage(key::kTextCancelButton));
        WorkerTask task = getConfigInt(key::kInstallerNoProgress) != 0 ? WorkerTask::DownloadOnly
                                                                       : WorkerTask::WholeSequence;
        HANDLE thread =
            CreateThread(nullptr, 0, workerThread, new WorkerStart{window, task}, 0, nullptr);
        if (!thread)
            fatalMessage(key::kMessageInternalError, "33");
        CloseHandle(thread);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            requestCancel();
            logMessage("Canceled installer");
            setInstallStarted(false, true, true);
            EndDialog(window, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    case kWorkFinished:
        EndDialog(window, 0);
        return TRUE;
    default:
        (void)lParam;
        return FALSE;
    }
}

DWORD runInstallerWork(HWND progressDialog) {
    InstallerState& state = installerState();
    bool restart = isLanguageRestart();
    logMessage("Starting work");
    if (progressDialog) {
        setProgressPosition(progressDialog, 1);
        setProgressRange(progressDialog, 0, 400);
    }
    if (!restart)
        verifyExecutableIntegrity(progressDialog);
    cancelPoint();

    if (restart) {
        setLauncherTempDirectory(currentDirectory());
    } else {
        createLauncherTempDir();
        prependNativeLibraryPath();
        changeToTempDirectory();
        pauseForTests("extract");
        int extracted = extractIncludedFiles(false);
        cancelPoint();
        if (extracted != 0) {
            if (!state.quietMode)
                showErrorBox(extracted == 2 ? key::kTextWriteFailed : key::kTextDataDamaged);
            exitLauncher(1);
        }
        offerRestartKey();
    }
    logMessage("Current working dir: %s", currentDirectory().c_str());

    std::string archive = fullPath("jre.tar.gz");
    logMessage("Full JRE path: %s", archive.c_str());
    state.includedRuntime = fileExists(archive);
    if (!state.includedRuntime && restart) {
        logMessage("Checking restart JRE: %s", archive.c_str());
        std::string unpacked = fullPath("jre");
        logMessage("Checking extracted JRE: %s", unpacked.c_str());
        state.includedRuntime = directoryExists(unpacked);
    }
    logMessage(state.includedRuntime ? "JRE included" : "No JRE included");
    if (state.manualRuntime && state.includedRuntime) {
        logMessage("Included JRE not used because of manual switch");
        state.includedRuntime = false;
    }

    bool withDialog = progressDialog != nullptr;
    cancelPoint();
    if (state.includedRuntime) {
        if (getConfigInt(key::kPreferInstalledRuntime) != 0) {
            setInstallStarted(true, withDialog, true);
            if (LoadDLL(false, nullptr, false))
                state.includedRuntime = false;
            else
                setInstallStarted(false, true, true);
        }
    } else {
        setInstallStarted(true, withDialog, true);
        bool found = !state.manualRuntime && LoadDLL(false, nullptr, false);
        if (!found) {
            if (state.quietMode) {
                if (getConfigInt(key::kDownloadWithoutAsking) == 0) {
                    logError("No JRE found");
                    fputs("No JRE found. Aborting.\n", stdout);
                    fflush(stdout);
                    setInstallStarted(false, true, true);
                    // The prepared directory stays for whoever runs the installer again.
                    markDirectProcessEnd();
                    ExitProcess(83);
                }
                fputs("No JRE found. Trying to download.\n", stdout);
                fflush(stdout);
                runtimeDownloadStep(progressDialog);
            } else if (progressDialog) {
                runtimeDownloadStep(progressDialog);
                cancelPoint();
            } else if (getConfigInt(key::kInstallerNoProgress) != 0) {
                if (showProgressDialog(WorkerTask::DownloadOnly) != 0)
                    endAfterCancel();
            } else {
                dropLauncherTempDirectory();
                if (showProgressDialog(WorkerTask::WholeSequence) != 0)
                    endAfterCancel();
                return 0;
            }
        }
    }

    cancelPoint();
    changeToTempDirectory();
    if (!restart) {
        if (!state.includedRuntime)
            state.progressBase = 100;
        else
            state.progressBase = getConfigInt(key::kPack200Jars) != 0 ? 300 : 200;
        if (state.includedRuntime)
            unpackIncludedRuntime(progressDialog);
        unpackIncludedPackFiles();
    } else if (state.includedRuntime) {
        useUnpackedRuntime();
    }

    // From here on the JVM takes over; a cancel that comes now ends the process as it is.
    leaveSafePoints();
    if (progressDialog)
        startJavaWindowWatcher(progressDialog);
    setInstallStarted(true, withDialog, true);

    ArgumentList words;
    splitCommandLine(GetCommandLineW(), words);
    if (!launchJavaProgram(words, true)) {
        logError("Could not start JVM");
        fatalMessageW(key::kMessageStartFailed, nullptr);
    }
    return 0;
}

int installerMain(HINSTANCE instance, const char* commandTail, int showCommand) {
    InstallerState& state = installerState();
    StartMarkers markers = readStartMarkers(commandTail);
    if (markers.reboot) {
        rebootSystem();
        return 0;
    }
    // A restart trusts the directory it runs in; only one the installer started may.
    bool refusedRestart = false;
    if (markers.languageRestart) {
        refusedRestart = !isLauncherStartedRestart();
        if (!refusedRestart) {
            setLanguageRestart();
            state.quietMode = true;
        }
    }
    initCommonControls();

    setLogPolicy(LogPolicy::AlwaysDeleteUnlessKept);
    ArgumentList arguments;
    splitCommandLine(GetCommandLineW(), arguments);
    initLauncher(instance, &arguments);
    // The installer's class path is its own; the installation's runtime library does not
    // exist yet.
    setRuntimeLibraryOnClassPath(false);
    if (refusedRestart) {
        logError("language restart refused: not started by this installer");
        fatalError("This restart of the installer was not started by the installer itself.");
    }

    ConsoleSwitches switches = readConsoleSwitches(arguments, SwitchSet::Installer);
    if (switches.quiet)
        state.quietMode = true;
    state.verifyIntegrity = !switches.noCheck;
    if (switches.manualRuntime) {
        state.manualRuntime = true;
        setManualJre();
    }
    applyConsoleSwitches(switches);
    bool splashRequested = switches.splash;

    if (!isLanguageRestart())
        enforceSingleInstance(false, false);
    state.instance = instance;
    logMessage("Init done");

    if (state.quietMode && !splashRequested) {
        logMessage("Quiet installer.");
        runInstallerWork(nullptr);
    } else if (getConfigInt(key::kSplashScreen) != 0 &&
               getConfigInt(key::kRuntimeSplashLibrary) == 0) {
        logMessage("Showing splash screen.");
        showSplashScreen(showCommand);
        registerDialogClass();
        runInstallerWork(nullptr);
    } else if (getConfigInt(key::kInstallerNoProgress) != 0) {
        registerDialogClass();
        runInstallerWork(nullptr);
    } else {
        registerDialogClass();
        // Cancel ends the installer; the prepared directory goes with it.
        if (showProgressDialog(WorkerTask::WholeSequence) != 0)
            endAfterCancel();
    }
    return 0;
}
