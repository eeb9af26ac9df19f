#pragma once

// A language restart works in the directory of the run that started it and trusts what it
// finds there (the unpacked runtime, the extracted files). Only a run the launcher itself
// started may do that: the launcher leaves a random key in its directory and in its
// environment, which the Java side's restart inherits; a marker typed by hand, or given in a
// directory someone prepared, comes without the matching pair.

// Called once the launcher temp directory is ready: writes the key into it.
void offerRestartKey();

// True when the current directory holds the key that the environment carries.
bool isLauncherStartedRestart();
