#include "installer/runtime_download.h"

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>

#include "core/config_keys.h"
#include "core/configuration.h"
#include "core/dll_search.h"
#include "core/errors.h"
#include "core/log.h"
#include "core/paths.h"
#include "installer/cancel.h"
#include "installer/dialogs.h"
#include "installer/installer_state.h"
#include "installer/resource_ids.h"
#include "jvm/runtime_registry.h"
#include "jvm/runtime_search.h"
#include "portable/message_text.h"
#include "win/handles.h"

#include <commdlg.h>

namespace {

using HINTERNET = void*;
using InternetOpenUrlWFunction =
    HINTERNET(WINAPI*)(HINTERNET, LPCWSTR, LPCWSTR, DWORD, DWORD, DWORD_PTR);
using InternetOpenWFunction = HINTERNET(WINAPI*)(LPCWSTR, DWORD, LPCWSTR, LPCWSTR, DWORD);
using HttpQueryInfoWFunction = BOOL(WINAPI*)(HINTERNET, DWORD, LPVOID, LPDWORD, LPDWORD);
using InternetAttemptConnectFunction = DWORD(WINAPI*)(DWORD);
using InternetCloseHandleFunction = BOOL(WINAPI*)(HINTERNET);
using InternetReadFileFunction = BOOL(WINAPI*)(HINTERNET, LPVOID, DWORD, LPDWORD);
using InternetQueryOptionWFunction = BOOL(WINAPI*)(HINTERNET, DWORD, LPVOID, LPDWORD);

struct Wininet {
    InternetOpenUrlWFunction openUrl = nullptr;
    InternetOpenWFunction open = nullptr;
    HttpQueryInfoWFunction queryInfo = nullptr;
    InternetAttemptConnectFunction attemptConnect = nullptr;
    InternetCloseHandleFunction closeHandle = nullptr;
    InternetReadFileFunction readFile = nullptr;
    InternetQueryOptionWFunction queryOption = nullptr;
} wininet;

constexpr DWORD kUrlFlags = 0x0C000000;            // INTERNET_FLAG_PASSIVE | NO_CACHE_WRITE
constexpr DWORD kQueryContentLength = 5;           // HTTP_QUERY_CONTENT_LENGTH, as text
constexpr DWORD kQueryStatusCode = 0x20000013;     // HTTP_QUERY_STATUS_CODE | FLAG_NUMBER
constexpr DWORD kOptionUrl = 34;                   // INTERNET_OPTION_URL: where redirects ended
constexpr int kLengthQueries = 20;
constexpr int kAttempts = 3;
constexpr DWORD kReadBlock = 16384;
constexpr DWORD kStatusIntervalMillis = 500;
constexpr double kMebibytesPerByte = 9.5367431640625e-7;

bool downloadLocationKnown = false;
// The archive of the last successful download, open from its creation until the unpacking
// takes it: what was hashed is what gets unpacked.
UniqueFile downloadedArchive;

bool startsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
    size_t length = wcslen(prefix);
    return text.size() >= length && _wcsnicmp(text.c_str(), prefix, length) == 0;
}

// A download that began over HTTPS must not end over plain HTTP, where anyone on the way
// could hand out another archive.
bool leftHttps(HINTERNET handle, const std::wstring& requested) {
    if (!startsWithNoCase(requested, L"https://"))
        return false;
    wchar_t finalUrl[kMaxText] = L"";
    DWORD size = sizeof finalUrl - sizeof(wchar_t);
    if (!wininet.queryOption(handle, kOptionUrl, finalUrl, &size)) {
        logError("download refused: the final address is unknown (%d)",
                 static_cast<int>(GetLastError()));
        return true;
    }
    if (startsWithNoCase(finalUrl, L"https://"))
        return false;
    logError("download refused: redirected from HTTPS to %S", finalUrl);
    return true;
}

// Decimal digits that fit 32 bits; anything else is no length the download can take.
std::optional<uint32_t> parseContentLength(const wchar_t* text) {
    uint64_t value = 0;
    int digits = 0;
    for (; *text == L' '; ++text) {
    }
    for (; *text >= L'0' && *text <= L'9'; ++text, ++digits) {
        value = value * 10 + static_cast<uint64_t>(*text - L'0');
        if (value > UINT32_MAX)
            return std::nullopt;
    }
    for (; *text == L' '; ++text) {
    }
    if (digits == 0 || *text != L'\0')
        return std::nullopt;
    return static_cast<uint32_t>(value);
}

// A library that the system provides, from the system directory only: the installer usually
// runs from a Downloads folder, where anyone can have put a DLL of the same name.
HMODULE loadSystemLibrary(const char* name) {
    char directory[MAX_PATH];
    UINT length = GetSystemDirectoryA(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    std::string path = std::string(directory) + "\\" + name;
    return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

template <class F>
bool lookUp(HMODULE module, const char* name, F& function) {
    function = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return function != nullptr;
}

std::wstring formatWide(const std::wstring& format, ...) {
    wchar_t buffer[kMaxText];
    va_list arguments;
    va_start(arguments, format);
    int written = _vsnwprintf(buffer, kMaxText - 1, format.c_str(), arguments);
    va_end(arguments);
    buffer[kMaxText - 1] = L'\0';
    if (written < 0)
        buffer[kMaxText - 1] = L'\0';
    return buffer;
}

void showItem(HWND dialog, int item, bool show) {
    if (dialog)
        ShowWindow(GetDlgItem(dialog, item), show ? SW_SHOW : SW_HIDE);
}

// SHA-256 through Windows CNG, loaded like WinINet from the system directory.
class Sha256 {
public:
    using OpenFunction = LONG(WINAPI*)(void**, LPCWSTR, LPCWSTR, ULONG);
    using CreateFunction = LONG(WINAPI*)(void*, void**, PUCHAR, ULONG, PUCHAR, ULONG, ULONG);
    using HashFunction = LONG(WINAPI*)(void*, PUCHAR, ULONG, ULONG);
    using FinishFunction = LONG(WINAPI*)(void*, PUCHAR, ULONG, ULONG);
    using DestroyFunction = LONG(WINAPI*)(void*);
    using CloseFunction = LONG(WINAPI*)(void*, ULONG);

    bool start() {
        static HMODULE bcrypt = loadSystemLibrary("bcrypt.dll");
        if (!bcrypt || !lookUp(bcrypt, "BCryptOpenAlgorithmProvider", open_) ||
            !lookUp(bcrypt, "BCryptCreateHash", create_) ||
            !lookUp(bcrypt, "BCryptHashData", hash_) ||
            !lookUp(bcrypt, "BCryptFinishHash", finish_) ||
            !lookUp(bcrypt, "BCryptDestroyHash", destroy_) ||
            !lookUp(bcrypt, "BCryptCloseAlgorithmProvider", close_))
            return false;
        if (open_(&algorithm_, L"SHA256", nullptr, 0) != 0) {
            algorithm_ = nullptr;
            return false;
        }
        return create_(algorithm_, &hashHandle_, nullptr, 0, nullptr, 0, 0) == 0;
    }
    bool update(const void* data, DWORD size) {
        return hash_(hashHandle_, static_cast<PUCHAR>(const_cast<void*>(data)), size, 0) == 0;
    }
    std::string finishHex() {
        unsigned char digest[32];
        if (finish_(hashHandle_, digest, sizeof digest, 0) != 0)
            return "";
        std::string hex;
        char pair[3];
        for (unsigned char byte : digest) {
            snprintf(pair, sizeof pair, "%02x", byte);
            hex += pair;
        }
        return hex;
    }
    ~Sha256() {
        if (hashHandle_)
            destroy_(hashHandle_);
        if (algorithm_)
            close_(algorithm_, 0);
    }

private:
    OpenFunction open_ = nullptr;
    CreateFunction create_ = nullptr;
    HashFunction hash_ = nullptr;
    FinishFunction finish_ = nullptr;
    DestroyFunction destroy_ = nullptr;
    CloseFunction close_ = nullptr;
    void* algorithm_ = nullptr;
    void* hashHandle_ = nullptr;
};

std::string lowerCase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'F')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool transferToFile(HWND dialog, HINTERNET internet, HINTERNET url, DWORD length,
                    const char* destination) {
    logMessage("file size: %d, handle %p", static_cast<int>(length), url);
    auto closeAll = [&] {
        wininet.closeHandle(url);
        wininet.closeHandle(internet);
    };
    // Created new, never through a file or link that was already there; nobody else may write
    // to it while it is open, and closing it deletes it, so a failed attempt leaves nothing.
    DeleteFileA(destination);
    UniqueFile file(CreateFileA(destination, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                                nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!file) {
        logMessage("opening the destination file %s failed with error code %d", destination,
                   static_cast<int>(GetLastError()));
        closeAll();
        return false;
    }
    auto discard = [&] {
        file.reset();
        closeAll();
    };
    std::string pinned = lowerCase(getConfigString(key::kDownloadSha256));
    Sha256 sha;
    if (!pinned.empty() && !sha.start()) {
        logError("SHA-256 is not available");
        discard();
        return false;
    }
    static char buffer[kReadBlock];
    DWORD started = GetTickCount();
    DWORD lastStatus = 0;
    bool firstStatus = true;
    DWORD received = 0;
    while (received < length) {
        // A cancel leaves the partial file to the deletion of the launcher temp directory.
        cancelPoint();
        DWORD got = 0;
        DWORD want = std::min<DWORD>(kReadBlock, length - received);
        if (!wininet.readFile(url, buffer, want, &got)) {
            DWORD error = GetLastError();
            discard();
            logMessage("InternetReadFile failed with error code %d", static_cast<int>(error));
            return false;
        }
        if (got == 0) {
            // The connection ended before the announced length.
            discard();
            logError("download ended after %u of %u bytes", static_cast<unsigned>(received),
                     static_cast<unsigned>(length));
            return false;
        }
        DWORD written = 0;
        if (!WriteFile(file.get(), buffer, got, &written, nullptr) || written != got) {
            DWORD error = GetLastError();
            discard();
            logMessage("writing the destination file %s failed with error code %d", destination,
                       static_cast<int>(error));
            return false;
        }
        if (!pinned.empty())
            sha.update(buffer, got);
        received += got;
        DWORD now = GetTickCount();
        if (dialog && (firstStatus || now - lastStatus >= kStatusIntervalMillis)) {
            firstStatus = false;
            lastStatus = now;
            double percent = static_cast<double>(received) * 100 / length;
            DWORD elapsed = std::max<DWORD>(now - started, 1);
            setDialogItemText(dialog, IDC_STATUS_LINE,
                              formatWide(getConfigMessage(key::kTextDownloadProgress),
                                         received * kMebibytesPerByte, length * kMebibytesPerByte,
                                         percent, static_cast<double>(received) / elapsed));
            setProgressPosition(dialog, static_cast<int>(static_cast<float>(percent)));
        }
    }
    // Anything beyond the announced length would be a different file than announced.
    DWORD extra = 0;
    char probe[1];
    if (wininet.readFile(url, probe, sizeof probe, &extra) && extra != 0) {
        discard();
        logError("download longer than announced");
        return false;
    }
    if (!pinned.empty()) {
        std::string actual = sha.finishHex();
        if (actual != pinned) {
            discard();
            logError("download checksum mismatch");
            return false;
        }
    }
    closeAll();
    if (SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
        logError("rewinding the download failed (%d)", static_cast<int>(GetLastError()));
        return false;
    }
    downloadedArchive = std::move(file);
    logMessage("download successful");
    return true;
}

} // namespace

bool loadWininet() {
    HMODULE library = loadSystemLibrary("wininet.dll");
    if (!library) {
        logError("Could not load wininet.dll");
        return false;
    }
    if (!lookUp(library, "InternetOpenUrlW", wininet.openUrl) ||
        !lookUp(library, "InternetOpenW", wininet.open) ||
        !lookUp(library, "HttpQueryInfoW", wininet.queryInfo) ||
        !lookUp(library, "InternetAttemptConnect", wininet.attemptConnect) ||
        !lookUp(library, "InternetCloseHandle", wininet.closeHandle) ||
        !lookUp(library, "InternetReadFile", wininet.readFile) ||
        !lookUp(library, "InternetQueryOptionW", wininet.queryOption)) {
        logError("Could not load wininet functions");
        return false;
    }
    return true;
}

bool downloadAttempt(HWND dialog, const std::wstring& url, const char* destination) {
    if (dialog)
        setDialogItemText(dialog, IDC_STATUS_LINE, getConfigMessage(key::kTextConnecting));
    DWORD connect = wininet.attemptConnect(0);
    if (connect != 0)
        logError("InternetAttemptConnect returned %d", static_cast<int>(connect));
    HINTERNET internet = wininet.open(L"quillon download agent", 0, nullptr, nullptr, 0);
    if (!internet) {
        logMessage("InternetOpen failed with error code %d", static_cast<int>(GetLastError()));
        return false;
    }
    HINTERNET handle = wininet.openUrl(internet, url.c_str(), nullptr, 0, kUrlFlags, 0);
    if (!handle) {
        logMessage("InternetOpenUrl failed with error code %d", static_cast<int>(GetLastError()));
        wininet.closeHandle(internet);
        return false;
    }
    DWORD length = 0;
    for (int query = 1;; ++query) {
        // Read as text: the numeric form would wrap a length of 4 GiB or more silently.
        wchar_t text[32] = L"";
        DWORD size = sizeof text - sizeof(wchar_t);
        if (wininet.queryInfo(handle, kQueryContentLength, text, &size, nullptr)) {
            std::optional<uint32_t> parsed = parseContentLength(text);
            if (!parsed) {
                logError("download refused: Content-Length %S", text);
                wininet.closeHandle(handle);
                wininet.closeHandle(internet);
                return false;
            }
            length = *parsed;
            break;
        }
        logMessage("HttpQueryInfo (try %d) failed with error code %d", query,
                   static_cast<int>(GetLastError()));
        if (query == kLengthQueries) {
            logMessage("Giving up");
            wininet.closeHandle(handle);
            wininet.closeHandle(internet);
            return false;
        }
        Sleep(300);
        wininet.closeHandle(handle);
        handle = wininet.openUrl(internet, url.c_str(), nullptr, 0, kUrlFlags, 0);
        if (!handle) {
            logMessage("InternetOpenUrl 2 failed with error code %d",
                       static_cast<int>(GetLastError()));
            wininet.closeHandle(internet);
            return false;
        }
    }
    if (leftHttps(handle, url)) {
        wininet.closeHandle(handle);
        wininet.closeHandle(internet);
        return false;
    }
    // An error page is no runtime, whatever its length.
    DWORD status = 0, statusSize = sizeof status;
    if (!wininet.queryInfo(handle, kQueryStatusCode, &status, &statusSize, nullptr) ||
        status < 200 || status > 299) {
        logError("download refused: HTTP status %d", static_cast<int>(status));
        wininet.closeHandle(handle);
        wininet.closeHandle(internet);
        return false;
    }
    return transferToFile(dialog, internet, handle, length, destination);
}

void downloadRuntime(HWND dialog, const std::wstring& url) {
    if (dialog) {
        setDialogItemText(dialog, IDC_MESSAGE, getConfigMessage(key::kTextDownloading));
        setDialogItemText(dialog, IDCANCEL, getConfigMessage(key::kTextCancelButton));
        showItem(dialog, IDC_STATUS_LINE, true);
    }
    if (!loadWininet())
        fatalLocalizedMessage(key::kTextDownloadStartFailed);
    for (int attempt = 1;; ++attempt) {
        if (downloadAttempt(dialog, url, "jre.tar.gz"))
            break;
        Sleep(1000);
        cancelPoint();
        logError("Retry JRE download");
        if (attempt == kAttempts)
            fatalLocalizedMessage(key::kTextDownloadFailed);
    }
    showItem(dialog, IDC_STATUS_LINE, false);
}

UniqueFile takeDownloadedArchive() { return std::move(downloadedArchive); }

bool locateJavaExecutable(HWND owner) {
    char file[kMaxText] = "";
    std::wstring title = getConfigMessage(key::kTextPickJavaTitle);
    char narrowTitle[kMaxText] = "";
    WideCharToMultiByte(CP_ACP, 0, title.c_str(), -1, narrowTitle, kMaxText - 1, nullptr, nullptr);
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = "Java EXE\0java.exe\0";
    dialog.lpstrFile = file;
    dialog.nMaxFile = kMaxText;
    dialog.lpstrTitle = narrowTitle;
    dialog.Flags = OFN_FILEMUSTEXIST;
    auto openFileDialog =
        systemFunctionAs<BOOL(WINAPI*)(OPENFILENAMEA*)>(L"comdlg32.dll", "GetOpenFileNameA");
    if (!openFileDialog || !openFileDialog(&dialog))
        return false;
    if (!LoadDLL(true, file, true))
        return false;
    registerLocatedJvm(file);
    return true;
}

INT_PTR CALLBACK missingRuntimeDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        centerWindow(window);
        setWindowTitle(window, getConfigMessage(key::kTextInstallerCaption));
        setDialogItemText(window, IDCANCEL, getConfigMessage(key::kTextCancelButton));
        setDialogItemText(window, IDC_LOCATE, getConfigMessage(key::kTextPickJavaButton));
        setDialogItemText(window, IDC_DOWNLOAD, getConfigMessage(key::kTextDownloadButton));
        std::wstring format = getConfigMessage(downloadLocationKnown
                                                   ? key::kTextNoRuntimeWithDownload
                                                   : key::kTextNoRuntimeWithoutDownload);
        if (!downloadLocationKnown)
            showItem(window, IDC_DOWNLOAD, false);
        std::wstring text = formatWide(format, launcherBitness());
        std::wstring minVersion = getConfigWideString(key::kMinJavaVersion);
        std::wstring maxVersion = getConfigWideString(key::kMaxJavaVersion);
        bool appended = false;
        if (!minVersion.empty()) {
            text += L" (" + getConfigMessage(key::kTextMinimumVersionLabel) +
                    formatWide(L" %s", minVersion.c_str());
            appended = true;
        }
        if (!maxVersion.empty()) {
            text += (appended ? L", " : L" (") + getConfigMessage(key::kTextMaximumVersionLabel) +
                    formatWide(L" %s", maxVersion.c_str());
            appended = true;
        }
        if (appended)
            text += L")";
        setDialogItemText(window, IDC_MESSAGE, text);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_LOCATE:
            if (locateJavaExecutable(window))
                EndDialog(window, IDC_LOCATE);
            return TRUE;
        case IDCANCEL:
            setInstallStarted(false, true, true);
            exitLauncher(1);
        default:
            EndDialog(window, LOWORD(wParam));
            return TRUE;
        }
    default:
        return FALSE;
    }
}

DWORD runtimeDownloadStep(HWND progressDialog) {
    std::wstring location = getConfigWideString(key::kDownloadLocation);
    downloadLocationKnown = !location.empty();
    logMessage("Download location: %S", location.c_str());
    bool download = getConfigInt(key::kDownloadWithoutAsking) != 0;
    if (!download) {
        INT_PTR choice = DialogBoxParamW(installerState().instance,
                                         MAKEINTRESOURCEW(IDD_MISSING_RUNTIME), progressDialog,
                                         missingRuntimeDialogProc, 0);
        download = choice == IDC_DOWNLOAD;
    }
    if (download) {
        const std::string& directory = getLauncherTempDirectory();
        SetCurrentDirectoryA(directory.c_str());
        logMessage("Downloading JRE");
        downloadRuntime(progressDialog, location);
        logMessage("Done");
        installerState().includedRuntime = true;
    }
    if (progressDialog && getConfigInt(key::kInstallerNoProgress) != 0)
        EndDialog(progressDialog, 0);
    return 0;
}
