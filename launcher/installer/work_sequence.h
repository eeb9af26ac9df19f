#pragma once

#include "win/win32.h"

// The installer's entry: switches, mode choice, then the work sequence. Returns 0.
int installerMain(HINSTANCE instance, const char* commandTail, int showCommand);
// Verify, extract, choose or unpack a runtime, start the Java installer. `progressDialog`
// is the progress dialog or null.
DWORD runInstallerWork(HWND progressDialog);
INT_PTR CALLBACK progressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
