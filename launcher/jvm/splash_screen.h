#pragma once

#include <string_view>

// The splash screen: with key 10123 clear the launcher's own window on a thread of its own,
// which polls the Java side's controller; with key 10123 set the Java runtime's splash library,
// so this must come after a runtime was chosen. `showCommand` is the show command the process
// was started with; 0 counts as a hide request.
void showSplashScreen(int showCommand);

// Safe at any time and any number of times. A request that comes before the window exists
// keeps it from ever appearing.
void hideSplashScreen();

// Replaces the status line (key 10111) and repaints at once; nothing while no splash is up.
// Only the units up to U+00FF are kept, up to the first one above.
void setSplashStatusText(std::wstring_view text);
