// Looks at a dialog the way a user sees it, for the installer's dialog tests.
//
//   dialog-probe live CLASS TIMEOUT_MS OUT.json [options]
//       waits for a visible top-level window of that class (any process) and reports it
//   dialog-probe template EXE ID OUT.json [options]
//       creates dialog ID from EXE's resources itself ("MyDialogClass" registered first)
//
// CLASS may be "CLASS|CAPTION" to want that caption too.
// Options: rect=X,Y,W,H (repeatable: a position and size in dialog units, reported converted
// with MapDialogRect as [x,y,width,height]), samples=N interval=MS (progress bar positions,
// N times), shot=FILE.bmp (the window's pixels from the screen), cancel (presses Cancel at the end), press=ID (presses
// that button at the end), filename=PATH (fills the file name field of an open-file dialog).
//
// The report: {"caption","window":[l,t,r,b],"screen":[w,h],"client_origin":[x,y],
// "controls":[{"id","class","style","visible","text","rect":[l,t,r,b]}],
// "mapped":[[l,t,r,b],...],"positions":[...],"range":[lo,hi]}. Rectangles of controls are
// in client coordinates. Exit code 0, 2 when no window appeared, 3 on bad arguments.

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::string narrow(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    return out;
}

std::string json(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string rectJson(const RECT& r) {
    char text[96];
    snprintf(text, sizeof text, "[%ld,%ld,%ld,%ld]", r.left, r.top, r.right, r.bottom);
    return text;
}

struct Search {
    std::wstring className;
    std::wstring caption; // empty: any
    HWND found = nullptr;
};

BOOL CALLBACK findWindow(HWND window, LPARAM parameter) {
    Search* search = reinterpret_cast<Search*>(parameter);
    wchar_t name[256];
    wchar_t caption[256] = L"";
    GetWindowTextW(window, caption, 256);
    if (IsWindowVisible(window) && GetClassNameW(window, name, 256) &&
        _wcsicmp(name, search->className.c_str()) == 0 &&
        (search->caption.empty() || search->caption == caption)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

INT_PTR CALLBACK quietProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

void saveScreenshot(HWND window, const wchar_t* path) {
    RECT r;
    GetWindowRect(window, &r);
    int width = r.right - r.left, height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    DWORD rowSize = ((width * 3 + 3) / 4) * 4;
    DWORD imageSize = rowSize * height;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + imageSize;
    FILE* out = _wfopen(path, L"wb");
    if (out) {
        fwrite(&file, sizeof file, 1, out);
        fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out);
        fwrite(bits, 1, imageSize, out);
        fclose(out);
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 5)
        return 3;
    std::wstring mode = argv[1];
    HWND dialog = nullptr;
    if (mode == L"live") {
        // CLASS or CLASS|CAPTION
        std::wstring wanted = argv[2];
        size_t bar = wanted.find(L'|');
        Search search{wanted.substr(0, bar),
                      bar == std::wstring::npos ? L"" : wanted.substr(bar + 1)};
        DWORD deadline = GetTickCount() + static_cast<DWORD>(_wtoi(argv[3]));
        while (!search.found && static_cast<LONG>(deadline - GetTickCount()) > 0) {
            EnumWindows(findWindow, reinterpret_cast<LPARAM>(&search));
            if (!search.found)
                Sleep(50);
        }
        if (!search.found)
            return 2;
        dialog = search.found;
        Sleep(300); // the dialog sets its texts right after it appeared
    } else if (mode == L"template") {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        HMODULE module = LoadLibraryExW(argv[2], nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (!module)
            return 3;
        WNDCLASSW windowClass{};
        windowClass.style = CS_GLOBALCLASS; // the dialog is created for the other module
        windowClass.lpfnWndProc = DefDlgProcW;
        windowClass.cbWndExtra = DLGWINDOWEXTRA;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"MyDialogClass";
        RegisterClassW(&windowClass);
        dialog = CreateDialogParamW(module, MAKEINTRESOURCEW(_wtoi(argv[3])), nullptr, quietProc,
                                    0);
        if (!dialog)
            return 2;
        ShowWindow(dialog, SW_SHOW);
        UpdateWindow(dialog);
    } else {
        return 3;
    }
    const wchar_t* outPath = argv[4];

    std::vector<RECT> rects;
    int samples = 0, interval = 0;
    const wchar_t* shot = nullptr;
    bool cancel = false;
    int press = 0;
    const wchar_t* fileName = nullptr;
    for (int i = 5; i < argc; ++i) {
        std::wstring option = argv[i];
        if (option.rfind(L"rect=", 0) == 0) {
            RECT r;
            int x, y, w, h;
            if (swscanf(option.c_str() + 5, L"%d,%d,%d,%d", &x, &y, &w, &h) != 4)
                return 3;
            // Mapped as four scalars, as a dialog maps its items' positions and sizes.
            r = {x, y, w, h};
            rects.push_back(r);
        } else if (option.rfind(L"samples=", 0) == 0) {
            samples = _wtoi(option.c_str() + 8);
        } else if (option.rfind(L"interval=", 0) == 0) {
            interval = _wtoi(option.c_str() + 9);
        } else if (option.rfind(L"shot=", 0) == 0) {
            shot = argv[i] + 5;
        } else if (option == L"cancel") {
            cancel = true;
        } else if (option.rfind(L"filename=", 0) == 0) {
            fileName = argv[i] + 9;
        } else if (option.rfind(L"press=", 0) == 0) {
            press = _wtoi(option.c_str() + 6);
        }
    }

    std::string out = "{";
    wchar_t text[1024];
    GetWindowTextW(dialog, text, 1024);
    out += "\"caption\":" + json(narrow(text));
    RECT window;
    GetWindowRect(dialog, &window);
    out += ",\"window\":" + rectJson(window);
    char number[96];
    snprintf(number, sizeof number, ",\"screen\":[%d,%d]", GetSystemMetrics(SM_CXSCREEN),
             GetSystemMetrics(SM_CYSCREEN));
    out += number;
    POINT origin{0, 0};
    ClientToScreen(dialog, &origin);
    snprintf(number, sizeof number, ",\"client_origin\":[%ld,%ld]", origin.x, origin.y);
    out += number;
    snprintf(number, sizeof number, ",\"style\":%lu,\"exstyle\":%lu",
             static_cast<unsigned long>(GetWindowLongW(dialog, GWL_STYLE)),
             static_cast<unsigned long>(GetWindowLongW(dialog, GWL_EXSTYLE)));
    out += number;
    out += ",\"controls\":[";
    bool first = true;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        wchar_t className[128];
        GetClassNameW(child, className, 128);
        GetWindowTextW(child, text, 1024);
        if (!first)
            out += ",";
        first = false;
        snprintf(number, sizeof number, "{\"id\":%d,\"style\":%lu,\"visible\":%s,",
                 GetDlgCtrlID(child),
                 static_cast<unsigned long>(GetWindowLongW(child, GWL_STYLE)),
                 IsWindowVisible(child) ? "true" : "false");
        out += number;
        out += "\"class\":" + json(narrow(className)) + ",\"text\":" + json(narrow(text)) +
               ",\"rect\":" + rectJson(r) + "}";
    }
    out += "],\"mapped\":[";
    for (size_t i = 0; i < rects.size(); ++i) {
        RECT r = rects[i];
        MapDialogRect(dialog, &r);
        out += (i ? "," : "") + rectJson(r);
    }
    out += "]";
    if (shot)
        saveScreenshot(dialog, shot);
    out += ",\"positions\":[";
    HWND bar = GetDlgItem(dialog, 1001);
    for (int i = 0; i < samples; ++i) {
        if (i) {
            out += ",";
            Sleep(static_cast<DWORD>(interval));
        }
        snprintf(number, sizeof number, "%ld",
                 static_cast<long>(SendMessageW(bar, PBM_GETPOS, 0, 0)));
        out += number;
    }
    snprintf(number, sizeof number, "],\"range\":[%ld,%ld]",
             static_cast<long>(SendMessageW(bar, PBM_GETRANGE, TRUE, 0)),
             static_cast<long>(SendMessageW(bar, PBM_GETRANGE, FALSE, 0)));
    out += number;
    out += "}";
    FILE* file = _wfopen(outPath, L"wb");
    if (!file)
        return 3;
    fputs(out.c_str(), file);
    fclose(file);
    if (fileName) {
        // The file name field of the open-file dialog: an edit, or a combo box with one.
        for (int id : {0x480, 0x47C}) {
            HWND field = GetDlgItem(dialog, id);
            if (field) {
                SetWindowTextW(field, fileName);
                HWND inner = FindWindowExW(field, nullptr, L"Edit", nullptr);
                if (inner)
                    SetWindowTextW(inner, fileName);
            }
        }
    }
    if (cancel)
        press = IDCANCEL;
    if (press)
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(press, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, press)));
    return 0;
}
