#pragma once

#include <string>

// The chosen runtime's home, a value of the core: the runtime search sets it, variable
// expansion and the splash screen read it. java.exe's directory followed by "..".
void setJvmHome(const std::string& javaExe);
// Empty before a runtime was chosen.
const std::string& getJvmHome();
