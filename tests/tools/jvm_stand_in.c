/* Stand-in for a runtime's jvm.dll in the integration tests: it loads and, unless built
 * with NO_ENTRY, exports JNI_CreateJavaVM, which refuses to create anything (JNI_ERR). */
#include <windows.h>

#ifndef NO_ENTRY
__declspec(dllexport) long __stdcall JNI_CreateJavaVM(void** vm, void** env, void* args) {
    (void)vm;
    (void)env;
    (void)args;
    return -1;
}
#endif

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
