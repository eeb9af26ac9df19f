#pragma once

#include <string>
#include <vector>

#include "core/configuration.h"
#include "jvm/jni_interface.h"

// Creates the JVM in this process and runs the Java launcher class's main on the calling
// thread. The JVM library must be loaded (LoadDLL) and the launcher temp directory and
// instance semaphore set up first.

// False when the JVM could not be created or main ended with an exception; the caller
// reports that. True after main returned (and the JVM was destroyed, with
// `destroyAfterMain`), and when the first-run check stopped the start.
bool launchJavaProgram(const ArgumentList& commandLineWords, bool destroyAfterMain);

// Builds the complete option list around `launcherSystemProperties` and creates the JVM.
bool createJavaVM(const ArgumentList& commandLineWords,
                  const std::vector<std::string>& launcherSystemProperties);
// First-run check, launcher class, parameter array, main, exception check.
bool callMainMethod(const ArgumentList& commandLineWords);
// True: go on with main. Only the quillon flavor with its first-run marker asks Java.
bool checkFirstRun();
// The five leading parameters of main: application type, main class, the two configured
// paths and the fifth flag.
void addLauncherParameters(std::vector<std::wstring>& parameters);

// For threads other than the launching one (the splash screen): null until the JVM exists
// or when attaching fails.
JNIEnv* attachToJavaVM();
void detachFromJavaVM();
bool jvmCreated();

// Extra launcher properties of the other programs: the service launcher's child marks
// itself, the installer passes on its "-manual" switch.
void setServiceLauncher();
void setManualJre();
