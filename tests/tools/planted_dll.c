/* A DLL that only says it was loaded: it writes "planted-loaded.txt" (or MARKER) beside
   itself. Built as a wininet.dll for the test that places it beside the installer, which must
   never load it, and under the names of other DLLs (planted-dlls/) for the DLL search tests. */
#include <windows.h>

#ifndef MARKER
#define MARKER L"planted-loaded.txt"
#endif

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH + 32];
        DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
        while (length > 0 && path[length - 1] != L'\\')
            length--;
        lstrcpyW(path + length, MARKER);
        HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    return TRUE;
}
