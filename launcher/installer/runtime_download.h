#pragma once

#include <string>

#include "win/handles.h"
#include "win/win32.h"

// Gets a runtime when none was found: asks with dialog 104 (or not, with key 157),
// downloads "jre.tar.gz" into the launcher temp directory and marks it as the included
// runtime. Ends the process when the download fails or the user cancels.
DWORD runtimeDownloadStep(HWND progressDialog);
// Up to three attempts; ends the process when all fail.
void downloadRuntime(HWND progressDialog, const std::wstring& url);
bool downloadAttempt(HWND progressDialog, const std::wstring& url, const char* destination);
// WinINet from the system directory only, with the functions the download uses.
bool loadWininet();
// The open, verified archive of the download, positioned at its start; none when nothing was
// downloaded. Closing it deletes the file.
UniqueFile takeDownloadedArchive();
bool locateJavaExecutable(HWND owner);
INT_PTR CALLBACK missingRuntimeDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
