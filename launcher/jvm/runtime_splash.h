#pragma once

// The Java runtime's own splash library (bin\splashscreen.dll of the chosen runtime) showing
// the image of resource 10000; usable only once a runtime was chosen. A second show is
// ignored; closing is safe at any time and any number of times.
void showRuntimeSplash();
void closeRuntimeSplash();
