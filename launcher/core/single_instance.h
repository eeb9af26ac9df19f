#pragma once

#include <cstdint>
#include <string>

#include "win/win32.h"

// Gives this process its instance semaphore. In single-instance mode (key 10005, or
// `allowMultiple` false) a second start activates the first instance's windows, hands its
// arguments over when `notifyFirstInstance` is set, and ends with exit code 0.
void enforceSingleInstance(bool allowMultiple, bool notifyFirstInstance);

// The name handed to the Java side; empty until enforceSingleInstance ran.
const std::string& getInstanceSemaphoreName();

// Brings the visible top-level windows of a process to the front.
void activateProcessWindows(DWORD processId, bool restore);
// Counts the visible top-level windows of a process, this process's console not counted.
int countProcessWindows(DWORD processId);
