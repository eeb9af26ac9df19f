#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

// The per-user start-up cache of the application launcher and the service child: an
// archive of the classes the application loads, made once in the background after a
// recording start and mapped by every later start with the same runtime and class path.

// The launchers that use the cache say so before the JVM is created; others never touch it.
void enableStartupCache();

// Why the cache is not used in this run (not enabled, switched off by the configuration or
// by QUILLON_STARTUP_CACHE=off); null when it is.
const char* startupCacheOffReason();

// This launcher's own directory in the per-user cache: named by the exe and a hash of its
// path, under the local application data folder. Empty when there is no such folder.
std::wstring launcherCacheDirectory();

// The options to put in front of the application's own: those that map a fitting archive,
// or those that record one (and then a detached process is waiting to make the archive once
// this process has ended). Empty when the cache is off, not possible, or busy; the log says
// why. Never fails the start.
std::vector<std::string> startupCacheOptions(const std::vector<std::string>& applicationOptions);

// The JVM's output hook ("vfprintf") for this run, or null when it needs none.
using VmOutputHook = int (*)(FILE* stream, const char* format, va_list arguments);
VmOutputHook startupCacheOutputHook();

// The word that starts a launcher as the maker of an archive, followed by the entry directory.
constexpr char kStartupCacheMakerWord[] = "__qln_startup_cache";

// The maker's whole run: waits for the recording process to end, runs the runtime's
// java.exe at low priority to make the archive, and keeps its result or records the failure.
int runStartupCacheMaker(const char* commandTail);
