#pragma once

#include <string>

#include "win/win32.h"

enum class DllSearch {
    // Installer and service: the system directory and the directories added on purpose.
    SystemAndChosen,
    // Application launcher: the usual order without the current directory, so that JNI
    // libraries still find their sibling DLLs through PATH.
    NoCurrentDirectory,
};

// The first statement of every program entry: no DLL beside the executable or in the
// current directory is loaded from then on.
void restrictDllSearch(DllSearch search);

// Lets the loader find DLLs in `directory` (the runtime's directories, native library
// directories, the launcher temp directory). Returns false when nothing was added.
bool allowDllDirectory(const std::wstring& directory);
void withdrawDllDirectory(const std::wstring& directory);

// Loads a DLL by its full path; where the search is restricted, what it imports comes from
// its own directory, the system directory and the added directories only.
HMODULE loadLibraryRestricted(const std::wstring& path);

// A function of a system DLL that is not loaded at start (not on the KnownDLLs list), loaded
// by its place in the system directory; null when it is not there.
FARPROC systemFunction(const wchar_t* library, const char* name);

template <class Function>
Function systemFunctionAs(const wchar_t* library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(systemFunction(library, name)));
}

// The progress bar and the standard classes of the common controls, bound at run time since
// comctl32 is not on the KnownDLLs list. Only the first call does anything; it belongs right
// before a window of the launcher's own, since loading the library brings up the display
// and the themes, a cost a start that shows nothing should not pay.
void initCommonControls();
