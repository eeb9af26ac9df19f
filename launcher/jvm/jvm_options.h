#pragma once

#include <string>
#include <vector>

#include "core/configuration.h"

// The complete ordered option list: the launcher system properties first, then the
// configured options (key 123), the "-J" words of the command line (key 125), the locale
// options, the options file beside the launcher, and the class path option
// ("-Djava.class.path=...") last. Narrow strings as the JVM receives them.
std::vector<std::string> buildJvmOptions(const ArgumentList& commandLineWords,
                                         const std::vector<std::string>& launcherSystemProperties);
