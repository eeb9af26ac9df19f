#pragma once

#include <cstdint>
#include <string>

#include "win/win32.h"

// Registers "MyDialogClass", which the progress dialog's template names.
void registerDialogClass();
// Centres a window over its parent, or over the desktop, keeping its size.
void centerWindow(HWND window);

// UTF-16 where the system has the wide setters, else the ANSI code page's share of it.
void setDialogItemText(HWND window, int itemId, const std::wstring& text);
void setWindowTitle(HWND window, const std::wstring& text);

// The progress bar of the progress dialog; nothing without a dialog.
void setProgressRange(HWND dialog, int low, int high);
void setProgressPosition(HWND dialog, int position);

// The hand-over values under HKCU "SOFTWARE\brightwell\tarvo": the general
// "InstallStarted" and the per-process "InstallStarted_<pid>". Nothing in a language restart.
void setInstallStarted(bool set, bool perProcess, bool general);
uint32_t readInstallStarted(bool perProcess);
// "InstallStarted_<pid>" of this process.
std::string perProcessValueName();

// Hides the progress dialog once the Java installer shows a window or the per-process value
// becomes 2. Started at above-normal priority.
DWORD WINAPI javaWindowWatcher(LPVOID progressDialog);
void startJavaWindowWatcher(HWND progressDialog);
