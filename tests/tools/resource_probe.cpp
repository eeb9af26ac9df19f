// resource-probe FILE: what Windows itself reads of an executable's icon, version information
// and icon 1001, printed as "name=value" lines for the packer's tests.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

void printWide(const char* name, const wchar_t* value) {
    char narrow[1024];
    WideCharToMultiByte(CP_UTF8, 0, value, -1, narrow, sizeof narrow, nullptr, nullptr);
    std::printf("%s=%s\n", name, narrow);
}

int iconSide(HICON icon) {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) {
        return -1;
    }
    BITMAP bitmap{};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: resource-probe FILE\n");
        return 2;
    }
    const wchar_t* file = argv[1];
    std::printf("icons=%u\n", ExtractIconExW(file, -1, nullptr, nullptr, 0));
    HICON large = nullptr;
    HICON small = nullptr;
    if (ExtractIconExW(file, 0, &large, &small, 1) > 0) {
        std::printf("large=%d\nsmall=%d\n", large ? iconSide(large) : 0, small ? iconSide(small) : 0);
    }

    HMODULE module = LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module) {
        HICON dialog = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(1001), IMAGE_ICON, 32, 32, 0));
        std::printf("icon1001=%d\n", dialog ? iconSide(dialog) : 0);
        FreeLibrary(module);
    }

    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(file, &handle);
    std::printf("versionSize=%lu\n", static_cast<unsigned long>(size));
    if (size == 0) {
        return 0;
    }
    std::string data(size, '\0');
    if (!GetFileVersionInfoW(file, 0, size, &data[0])) {
        return 1;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed) {
        std::printf("fileVersion=%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                    HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
        std::printf("productVersion=%u.%u.%u.%u\n", HIWORD(fixed->dwProductVersionMS),
                    LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
                    LOWORD(fixed->dwProductVersionLS));
    }
    WORD* translation = nullptr;
    if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                        &length) || length < 4) {
        return 1;
    }
    std::printf("translation=%04X%04X\n", translation[0], translation[1]);
    const wchar_t* names[] = {L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName",
                              L"LegalCopyright", L"OriginalFilename", L"ProductName", L"ProductVersion"};
    for (const wchar_t* name : names) {
        wchar_t query[128];
        swprintf(query, 128, L"\\StringFileInfo\\%04X%04X\\%ls", translation[0], translation[1], name);
        wchar_t* value = nullptr;
        if (VerQueryValueW(data.data(), query, reinterpret_cast<void**>(&value), &length) && value) {
            char key[64];
            WideCharToMultiByte(CP_UTF8, 0, name, -1, key, sizeof key, nullptr, nullptr);
            printWide(key, value);
        }
    }
    return 0;
}
