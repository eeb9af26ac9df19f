#pragma once

#include <string>

#include "core/configuration.h"
#include "portable/start_switches.h"
#include "win/win32.h"

// Appends the words of a wide command line to `words`.
void splitCommandLine(const std::wstring& text, ArgumentList& words);

// The start common to all launchers: log switch, configuration, product word.
// `arguments` is null for the service launcher.
void initLauncher(HINSTANCE instance, ArgumentList* arguments);

// A run started with "__qln_lang_restart" keeps the working directory and skips the
// single-instance check.
void setLanguageRestart();
bool isLanguageRestart();

// "quillon" or "tarvo", by the launcher flavor.
const std::string& getProductWord();
const std::wstring& getProductWordW();
// The first character of key 2001; 0 when the key is empty.
char getLauncherFlavor();
HINSTANCE getModuleInstance();

// Puts the native library directories of the configuration in front of PATH.
void prependNativeLibraryPath();

// Attaches to the parent's console or allocates one; true when the process has one.
bool obtainConsole();
// Console error mode for "-q" and "-c", a console for "-console" and "-c"; "-c" without a
// console shows a box and ends the run with code 1.
void applyConsoleSwitches(const ConsoleSwitches& switches);

void rebootSystem();
