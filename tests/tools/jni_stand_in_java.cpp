// java.exe and javaw.exe of the stand-in runtime: they answer the launcher's version probe.
// JNI_STAND_IN_VERSION chooses the version they report (default 1.8.0_99).
#include <windows.h>

#include <cstdio>

int main() {
    char version[64] = "1.8.0_99";
    DWORD length = GetEnvironmentVariableA("JNI_STAND_IN_VERSION", version, sizeof version);
    if (length == 0 || length >= sizeof version)
        lstrcpyA(version, "1.8.0_99");
    fprintf(stderr, "java version \"%s\"\n", version);
    fprintf(stderr, "Stand-in Runtime Environment\n");
    return 0;
}
