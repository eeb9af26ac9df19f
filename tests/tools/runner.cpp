// Starts one program exactly as a test describes it, answers its message boxes and reports
// what happened. Usage: runner SPECFILE
//
// The spec file is UTF-8 text, one "key=value" per line; empty lines and lines starting with
// '#' are skipped. In values "%XX" (two hex digits) stands for the byte XX, so "%25", "%0D" and
// "%0A" give '%', CR and LF; everything else, backslashes included, is taken literally.
//
//   exe=PATH          application name for CreateProcessW (optional: without it the program
//                     is taken from the command line)
//   cmdline=TEXT      the complete command line, passed verbatim
//   cwd=DIR           working directory of the child (optional: the runner's own)
//   env=NAME=VALUE    one entry of the child's environment block (repeatable); the child gets
//                     exactly these entries, sorted as Windows sorts them, and nothing else
//   inherit=NAME      also pass the runner's own value of NAME, when it has one (repeatable)
//   timeout=SECONDS   end the child (and whatever it started) after this long; 0 or absent
//                     waits for ever
//   answer=BUTTON     the button to press in the next message box (repeatable, in order):
//                     OK, CANCEL, ABORT, RETRY, IGNORE, YES, NO, TRYAGAIN, CONTINUE, HELP
//   result=PATH       where to write the JSON report
//
// The child inherits the runner's standard handles. The runner ends with the child's exit
// code, with 259 when the timeout ended the child, and with 255 when it could not do its own
// work (bad spec file, CreateProcessW failed); the reason then goes to standard error and,
// when the result path is known, into the report's "error".
//
// The report: {"exitCode":N|null, "timedOut":bool, "error":null|"...",
//   "boxes":[{"caption","text","buttons":["YES","NO"],"default":"YES","icon":...,
//             "pressed":"NO","answered":true,"expected":null}],
//   "dialogs":[{"caption","controls":[{"class","id","text"}]}],
//   "unusedAnswers":["OK"]}
// "answered" is false when no answer was queued and the default button was pressed;
// "expected" names a queued answer the box had no button for (the default was pressed then).
// "dialogs" lists other dialog windows of the child, as first seen; nothing is pressed there.
// Strings are written as ASCII JSON with \u escapes, so every UTF-16 unit survives.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <deque>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr int kExitTimedOut = 259; // STILL_ACTIVE: the child had not ended
constexpr int kExitRunnerError = 255;
constexpr DWORD kPollMs = 20;
constexpr UINT kMessageTimeoutMs = 2000;
constexpr ULONGLONG kIconWaitMs = 2000;

struct ButtonName {
    int id;
    const wchar_t *name;
};

constexpr ButtonName kButtons[] = {
    {IDOK, L"OK"},       {IDCANCEL, L"CANCEL"},    {IDABORT, L"ABORT"},
    {IDRETRY, L"RETRY"}, {IDIGNORE, L"IGNORE"},    {IDYES, L"YES"},
    {IDNO, L"NO"},       {IDHELP, L"HELP"},        {IDTRYAGAIN, L"TRYAGAIN"},
    {IDCONTINUE, L"CONTINUE"},
};

const wchar_t *buttonName(int id) {
    for (const auto &button : kButtons)
        if (button.id == id)
            return button.name;
    return nullptr;
}

int buttonId(const std::wstring &name) {
    for (const auto &button : kButtons)
        if (name == button.name)
            return button.id;
    return 0;
}

struct Spec {
    std::wstring exe, cmdline, cwd, result;
    bool hasExe = false, hasCmdline = false, hasCwd = false;
    std::vector<std::wstring> env;
    std::vector<std::wstring> inherit;
    std::deque<std::wstring> answers;
    double timeoutSeconds = 0;
};

struct Box {
    std::wstring caption, text, icon, defaultButton, pressed, expected;
    std::vector<std::wstring> buttons;
    bool answered = false;
};

struct Control {
    std::wstring className, text;
    int id = 0;
};

struct Dialog {
    std::wstring caption;
    std::vector<Control> controls;
};

struct Report {
    bool hasExitCode = false, timedOut = false;
    DWORD exitCode = 0;
    std::wstring error;
    std::vector<Box> boxes;
    std::vector<Dialog> dialogs;
    std::deque<std::wstring> unusedAnswers;
};

std::wstring fromUtf8(const std::string &bytes) {
    if (bytes.empty())
        return {};
    int size = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                   nullptr, 0);
    std::wstring out(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(),
                        size);
    return out;
}

std::string toUtf8(const std::wstring &text) {
    if (text.empty())
        return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                   nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

void complain(const std::wstring &text) {
    std::string bytes = "runner: " + toUtf8(text) + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool percentDecode(const std::string &in, std::string &out) {
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            out += in[i];
            continue;
        }
        if (i + 2 >= in.size())
            return false;
        int high = hexDigit(in[i + 1]), low = hexDigit(in[i + 2]);
        if (high < 0 || low < 0)
            return false;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

bool readFile(const wchar_t *path, std::string &bytes) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char buffer[8192];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr)) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(file);
    return ok;
}

// Returns what is wrong with one line, or an empty string.
std::wstring parseLine(const std::string &line, Spec &spec) {
    size_t equals = line.find('=');
    if (equals == std::string::npos)
        return L"no '='";
    std::string key = line.substr(0, equals), raw;
    if (!percentDecode(line.substr(equals + 1), raw))
        return L"bad %XX escape";
    std::wstring value = fromUtf8(raw);
    if (key == "exe") {
        spec.exe = value;
        spec.hasExe = true;
    } else if (key == "cmdline") {
        spec.cmdline = value;
        spec.hasCmdline = true;
    } else if (key == "cwd") {
        spec.cwd = value;
        spec.hasCwd = true;
    } else if (key == "env") {
        if (value.find(L'=', 1) == std::wstring::npos)
            return L"env entry without '='";
        spec.env.push_back(value);
    } else if (key == "inherit") {
        spec.inherit.push_back(value);
    } else if (key == "timeout") {
        wchar_t *rest = nullptr;
        spec.timeoutSeconds = std::wcstod(value.c_str(), &rest);
        if (value.empty() || *rest != L'\0' || spec.timeoutSeconds < 0)
            return L"bad timeout";
    } else if (key == "answer") {
        if (buttonId(value) == 0)
            return L"unknown answer " + value;
        spec.answers.push_back(value);
    } else if (key == "result") {
        spec.result = value;
    } else {
        return L"unknown key " + fromUtf8(key);
    }
    return {};
}

// Returns the first problem of the spec file, or an empty string. Parsing goes on after a
// problem so that the report still reaches a "result" given further down.
std::wstring parseSpec(const std::string &bytes, Spec &spec) {
    std::wstring firstError;
    size_t start = 0;
    int lineNumber = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        std::wstring error = parseLine(line, spec);
        if (!error.empty() && firstError.empty())
            firstError = L"line " + std::to_wstring(lineNumber) + L": " + error;
    }
    return firstError;
}

std::wstring envName(const std::wstring &entry) {
    // A leading '=' belongs to the name (the per-drive "=C:=C:\dir" entries).
    return entry.substr(0, entry.find(L'=', 1));
}

// Windows keeps environment blocks sorted by name, ignoring case.
bool buildEnvironment(const Spec &spec, std::vector<wchar_t> &block, std::wstring &error) {
    std::vector<std::wstring> entries = spec.env;
    for (const auto &name : spec.inherit) {
        DWORD size = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
        if (size == 0)
            continue;
        std::wstring value(size, L'\0');
        value.resize(GetEnvironmentVariableW(name.c_str(), value.data(), size));
        entries.push_back(name + L"=" + value);
    }
    auto less = [](const std::wstring &a, const std::wstring &b) {
        std::wstring na = envName(a), nb = envName(b);
        return CompareStringOrdinal(na.c_str(), static_cast<int>(na.size()), nb.c_str(),
                                    static_cast<int>(nb.size()), TRUE) == CSTR_LESS_THAN;
    };
    std::stable_sort(entries.begin(), entries.end(), less);
    for (size_t i = 1; i < entries.size(); ++i) {
        if (!less(entries[i - 1], entries[i])) {
            error = L"environment variable given twice: " + envName(entries[i]);
            return false;
        }
    }
    for (const auto &entry : entries) {
        block.insert(block.end(), entry.begin(), entry.end());
        block.push_back(L'\0');
    }
    if (entries.empty())
        block.push_back(L'\0');
    block.push_back(L'\0');
    return true;
}

// ---- JSON report ----

void appendJsonString(std::string &out, const std::wstring &text) {
    out += '"';
    for (wchar_t c : text) {
        if (c == L'"' || c == L'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            out += escape;
        }
    }
    out += '"';
}

void appendJsonStringOrNull(std::string &out, const std::wstring &text) {
    if (text.empty())
        out += "null";
    else
        appendJsonString(out, text);
}

template <typename List> void appendJsonStrings(std::string &out, const List &list) {
    out += '[';
    bool first = true;
    for (const auto &item : list) {
        if (!first)
            out += ',';
        first = false;
        appendJsonString(out, item);
    }
    out += ']';
}

std::string reportJson(const Report &report) {
    std::string out = "{\"exitCode\":";
    out += report.hasExitCode ? std::to_string(report.exitCode) : "null";
    out += ",\"timedOut\":";
    out += report.timedOut ? "true" : "false";
    out += ",\"error\":";
    appendJsonStringOrNull(out, report.error);
    out += ",\"boxes\":[";
    for (size_t i = 0; i < report.boxes.size(); ++i) {
        const Box &box = report.boxes[i];
        out += i ? ",{" : "{";
        out += "\"caption\":";
        appendJsonString(out, box.caption);
        out += ",\"text\":";
        appendJsonString(out, box.text);
        out += ",\"buttons\":";
        appendJsonStrings(out, box.buttons);
        out += ",\"default\":";
        appendJsonStringOrNull(out, box.defaultButton);
        out += ",\"icon\":";
        appendJsonStringOrNull(out, box.icon);
        out += ",\"pressed\":";
        appendJsonStringOrNull(out, box.pressed);
        out += ",\"answered\":";
        out += box.answered ? "true" : "false";
        out += ",\"expected\":";
        appendJsonStringOrNull(out, box.expected);
        out += '}';
    }
    out += "],\"dialogs\":[";
    for (size_t i = 0; i < report.dialogs.size(); ++i) {
        const Dialog &dialog = report.dialogs[i];
        out += i ? ",{" : "{";
        out += "\"caption\":";
        appendJsonString(out, dialog.caption);
        out += ",\"controls\":[";
        for (size_t j = 0; j < dialog.controls.size(); ++j) {
            const Control &control = dialog.controls[j];
            out += j ? ",{" : "{";
            out += "\"class\":";
            appendJsonString(out, control.className);
            out += ",\"id\":" + std::to_string(control.id) + ",\"text\":";
            appendJsonString(out, control.text);
            out += '}';
        }
        out += "]}";
    }
    out += "],\"unusedAnswers\":";
    appendJsonStrings(out, report.unusedAnswers);
    out += "}\n";
    return out;
}

void writeReport(const std::wstring &path, const Report &report) {
    if (path.empty())
        return;
    std::string json = reportJson(report);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        complain(L"cannot write " + path);
        return;
    }
    DWORD written = 0;
    WriteFile(file, json.data(), static_cast<DWORD>(json.size()), &written, nullptr);
    CloseHandle(file);
}

// ---- dialogs of the child ----

// Text of a window in another process. The message goes through the owning thread, so it
// waits until the dialog has finished its initialisation; the timeout keeps a hung child
// from hanging the runner.
std::wstring windowText(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                             &length))
        return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, kMessageTimeoutMs, &copied))
        return {};
    text.resize(std::min<DWORD_PTR>(copied, length));
    return text;
}

std::wstring className(HWND window) {
    wchar_t name[256];
    int length = GetClassNameW(window, name, 256);
    return std::wstring(name, length > 0 ? length : 0);
}

struct Child {
    HWND window;
    std::wstring className;
    int id;
    LONG style;
    bool visible;
    int left;
};

std::vector<Child> childrenOf(HWND dialog) {
    std::vector<Child> children;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT rect{};
        GetWindowRect(child, &rect);
        children.push_back({child, className(child), GetDlgCtrlID(child),
                            static_cast<LONG>(GetWindowLongPtrW(child, GWL_STYLE)),
                            IsWindowVisible(child) != FALSE, rect.left});
    }
    return children;
}

bool sameClass(const std::wstring &a, const wchar_t *b) {
    return CompareStringOrdinal(a.c_str(), -1, b, -1, TRUE) == CSTR_EQUAL;
}

constexpr int kBoxTextId = 0xFFFF;
// Wine's message box uses 0x440 for its icon control, Windows' 0x14. Asking for the icon
// control as well keeps a program's own dialog with one text and an OK button apart.
bool isBoxIconId(int id) { return id == 0x440 || id == 0x14; }

bool isIcon(const Child &child) { return (child.style & SS_TYPEMASK) == SS_ICON; }

// A message box holds one text, one icon control and standard buttons, nothing else.
bool isMessageBox(const std::vector<Child> &children) {
    int texts = 0, icons = 0, buttons = 0;
    for (const auto &child : children) {
        if (sameClass(child.className, L"Button")) {
            if (child.visible && buttonName(child.id) == nullptr)
                return false;
            buttons += child.visible;
        } else if (!sameClass(child.className, L"Static")) {
            return false;
        } else if (isIcon(child) && isBoxIconId(child.id)) {
            ++icons;
        } else if (!isIcon(child) && child.id == kBoxTextId) {
            ++texts;
        } else {
            return false;
        }
    }
    return texts == 1 && icons == 1 && buttons > 0;
}

// The message box marks its default button with the push-button style; DM_GETDEFID is not
// kept up to date by every implementation.
int defaultButton(const std::vector<const Child *> &buttons) {
    for (const Child *button : buttons)
        if ((button->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            return button->id;
    for (const Child *button : buttons)
        if (button->id == IDOK)
            return IDOK;
    return buttons.empty() ? IDOK : buttons.front()->id;
}

// Pixels of a screen rectangle as 32-bit BGRX values, top row first.
std::vector<DWORD> capture(HDC source, int x, int y, int width, int height) {
    std::vector<DWORD> pixels(static_cast<size_t>(width) * height);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HDC memory = CreateCompatibleDC(source);
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY);
        GdiFlush();
        const DWORD *row = static_cast<const DWORD *>(bits);
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = row[i] & 0xFFFFFF;
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    return pixels;
}

// How a standard icon looks when drawn on a background of the given colour.
std::vector<DWORD> renderIcon(const wchar_t *which, int width, int height, DWORD background) {
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    // BGRX from the capture back to a COLORREF.
    HBRUSH brush = CreateSolidBrush(RGB(GetBValue(background), GetGValue(background),
                                        GetRValue(background)));
    RECT all{0, 0, width, height};
    FillRect(memory, &all, brush);
    DeleteObject(brush);
    DrawIconEx(memory, 0, 0, LoadIconW(nullptr, which), width, height, 0, nullptr, DI_NORMAL);
    std::vector<DWORD> pixels = capture(memory, 0, 0, width, height);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// The icon handle of another process says nothing about which icon it is, so the icon is
// recognised by its pixels on screen: the static control is repainted and compared with the
// standard icons drawn here. The window reaches the X server a little after it was painted,
// hence the retries.
std::wstring iconKind(HWND control) {
    DWORD_PTR icon = 0;
    if (!SendMessageTimeoutW(control, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                             &icon) ||
        icon == 0)
        return {};
    struct Kind {
        const wchar_t *name, *resource;
    };
    static const Kind kinds[] = {{L"error", IDI_ERROR},
                                 {L"warning", IDI_WARNING},
                                 {L"question", IDI_QUESTION},
                                 {L"information", IDI_INFORMATION}};
    RECT rect{};
    GetWindowRect(control, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0 || width > 256 || height > 256)
        return L"unknown";
    const ULONGLONG giveUp = GetTickCount64() + kIconWaitMs;
    while (GetTickCount64() < giveUp) {
        RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        HDC screen = GetDC(nullptr);
        std::vector<DWORD> shown = capture(screen, rect.left, rect.top, width, height);
        ReleaseDC(nullptr, screen);
        for (const auto &kind : kinds) {
            std::vector<DWORD> expected = renderIcon(kind.resource, width, height, shown[0]);
            size_t differing = 0;
            for (size_t i = 0; i < shown.size(); ++i)
                differing += shown[i] != expected[i];
            if (differing * 50 <= shown.size())
                return kind.name;
        }
        Sleep(kPollMs);
    }
    return L"unknown";
}

Box readMessageBox(HWND dialog, const std::vector<Child> &children) {
    Box box;
    box.caption = windowText(dialog);
    std::vector<const Child *> buttons;
    for (const auto &child : children) {
        if (sameClass(child.className, L"Button")) {
            if (child.visible)
                buttons.push_back(&child);
        } else if (isIcon(child)) {
            box.icon = iconKind(child.window);
        } else {
            box.text = windowText(child.window);
        }
    }
    std::stable_sort(buttons.begin(), buttons.end(),
                     [](const Child *a, const Child *b) { return a->left < b->left; });
    for (const Child *button : buttons)
        box.buttons.push_back(buttonName(button->id));
    box.defaultButton = buttonName(defaultButton(buttons));
    return box;
}

Dialog readDialog(HWND dialog, const std::vector<Child> &children) {
    Dialog result;
    result.caption = windowText(dialog);
    for (const auto &child : children)
        result.controls.push_back({child.className, windowText(child.window), child.id});
    return result;
}

struct Watcher {
    std::set<DWORD> processIds;
    std::vector<HWND> found;
};

BOOL CALLBACK collectDialog(HWND window, LPARAM param) {
    auto *watcher = reinterpret_cast<Watcher *>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (watcher->processIds.count(pid) && IsWindowVisible(window) &&
        className(window) == L"#32770")
        watcher->found.push_back(window);
    return TRUE;
}

class DialogHandler {
public:
    DialogHandler(Spec &spec, Report &report, HANDLE job, DWORD childPid)
        : spec_(spec), report_(report), job_(job), childPid_(childPid) {}

    void poll() {
        Watcher watcher;
        watcher.processIds = processIds();
        EnumWindows(collectDialog, reinterpret_cast<LPARAM>(&watcher));
        // Forget windows that are gone, so a new box that reuses a handle is still seen.
        std::set<HWND> alive;
        for (HWND window : seen_)
            if (IsWindow(window))
                alive.insert(window);
        seen_.swap(alive);
        for (HWND window : watcher.found) {
            // A dialog without controls is still being built; it is looked at again later.
            if (seen_.count(window) || GetWindow(window, GW_CHILD) == nullptr)
                continue;
            seen_.insert(window);
            handle(window);
        }
    }

private:
    std::set<DWORD> processIds() const {
        std::set<DWORD> ids{childPid_};
        if (job_ == nullptr)
            return ids;
        struct {
            JOBOBJECT_BASIC_PROCESS_ID_LIST list;
            ULONG_PTR more[255];
        } buffer{};
        if (QueryInformationJobObject(job_, JobObjectBasicProcessIdList, &buffer, sizeof buffer,
                                      nullptr)) {
            for (DWORD i = 0; i < buffer.list.NumberOfProcessIdsInList && i < 256; ++i)
                ids.insert(static_cast<DWORD>(buffer.list.ProcessIdList[i]));
        }
        return ids;
    }

    void handle(HWND dialog) {
        std::vector<Child> children = childrenOf(dialog);
        if (!isMessageBox(children)) {
            report_.dialogs.push_back(readDialog(dialog, children));
            return;
        }
        Box box = readMessageBox(dialog, children);
        box.pressed = box.defaultButton;
        if (!spec_.answers.empty()) {
            std::wstring answer = spec_.answers.front();
            spec_.answers.pop_front();
            if (std::find(box.buttons.begin(), box.buttons.end(), answer) != box.buttons.end()) {
                box.pressed = answer;
                box.answered = true;
            } else {
                box.expected = answer;
            }
        }
        int press = buttonId(box.pressed);
        HWND button = GetDlgItem(dialog, press);
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(press, BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
        report_.boxes.push_back(box);
    }

    Spec &spec_;
    Report &report_;
    HANDLE job_;
    DWORD childPid_;
    std::set<HWND> seen_;
};

// Puts the child into a job so that a timeout, or the runner's own end, also ends whatever
// the child started. Without job support the child alone is handled.
HANDLE createJob() {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr)
        return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return job;
}

HANDLE inheritableStdHandle(DWORD which) {
    HANDLE handle = GetStdHandle(which), copy = nullptr;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

int fail(const Spec &spec, Report &report, const std::wstring &why) {
    complain(why);
    report.error = why;
    writeReport(spec.result, report);
    return kExitRunnerError;
}

int run(Spec &spec) {
    Report report;
    std::vector<wchar_t> environment;
    std::wstring error;
    if (!buildEnvironment(spec, environment, error))
        return fail(spec, report, error);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inheritableStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = inheritableStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = inheritableStdHandle(STD_ERROR_HANDLE);

    PROCESS_INFORMATION process{};
    // Wine now and then fails a process start with ERROR_INTERNAL_ERROR under load; the
    // program under test never ran then, so the start is tried again.
    for (int attempt = 1;; ++attempt) {
        // CreateProcessW may write into the command line, so it gets its own buffer.
        std::vector<wchar_t> commandLine(spec.cmdline.begin(), spec.cmdline.end());
        commandLine.push_back(L'\0');
        if (CreateProcessW(spec.hasExe ? spec.exe.c_str() : nullptr,
                           spec.hasCmdline ? commandLine.data() : nullptr, nullptr, nullptr, TRUE,
                           CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED, environment.data(),
                           spec.hasCwd ? spec.cwd.c_str() : nullptr, &startup, &process))
            break;
        DWORD code = GetLastError();
        if (code != ERROR_INTERNAL_ERROR || attempt == 3)
            return fail(spec, report,
                        L"CreateProcessW failed with error " + std::to_wstring(code));
        Sleep(200);
    }
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
        if (handle)
            CloseHandle(handle);

    HANDLE job = createJob();
    if (job && !AssignProcessToJobObject(job, process.hProcess)) {
        CloseHandle(job);
        job = nullptr;
    }
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);

    DialogHandler dialogs(spec, report, job, process.dwProcessId);
    const ULONGLONG deadline =
        GetTickCount64() + static_cast<ULONGLONG>(spec.timeoutSeconds * 1000.0);
    for (;;) {
        DWORD wait = WaitForSingleObject(process.hProcess, kPollMs);
        if (wait == WAIT_OBJECT_0)
            break;
        dialogs.poll();
        if (spec.timeoutSeconds > 0 && GetTickCount64() >= deadline) {
            report.timedOut = true;
            if (!job || !TerminateJobObject(job, kExitTimedOut))
                TerminateProcess(process.hProcess, kExitTimedOut);
            WaitForSingleObject(process.hProcess, 5000);
            break;
        }
    }

    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    report.unusedAnswers = spec.answers;
    if (report.timedOut) {
        complain(L"timeout: the child ran longer than " + std::to_wstring(spec.timeoutSeconds) +
                 L" s and was ended; exit code " + std::to_wstring(kExitTimedOut));
        exitCode = kExitTimedOut;
    }
    report.hasExitCode = true;
    report.exitCode = exitCode;
    writeReport(spec.result, report);
    if (job)
        CloseHandle(job);
    return static_cast<int>(exitCode);
}

} // namespace

int wmain(int argc, wchar_t **argv) {
    if (argc != 2) {
        complain(L"usage: runner SPECFILE");
        return kExitRunnerError;
    }
    std::string bytes;
    if (!readFile(argv[1], bytes)) {
        complain(std::wstring(L"cannot read ") + argv[1]);
        return kExitRunnerError;
    }
    Spec spec;
    std::wstring error = parseSpec(bytes, spec);
    if (!error.empty()) {
        Report report;
        return fail(spec, report, error);
    }
    return run(spec);
}
