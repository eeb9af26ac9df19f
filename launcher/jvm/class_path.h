#pragma once

#include <optional>
#include <string>

#include "portable/class_path_entry.h"

// Class path texts that options give instead of JVM options; a later one replaces an
// earlier one.
struct ClassPathSlots {
    std::optional<std::string> replacement;  // "-classpath ": instead of the configured entries
    std::optional<std::string> prepend;      // "-classpath/p "
    std::optional<std::string> append;       // "-classpath/a "
};

// "-Djava.class.path=" and the entries: prepend, archives of the launcher temp directory and
// its "user" folder, the runtime library jar, the configured entries (or the replacement),
// append. Stops the launcher (1006, 1008) when a required entry is missing.
std::string buildClassPathOption(const ClassPathSlots& slots);

// The entries of key 121.
void appendConfiguredClassPath(BoundedText& classPath);

// Adds every "*.extension" entry of `directory`, each followed by ";", in the order the
// file system lists them. False when the directory does not exist.
bool appendArchives(BoundedText& classPath, const std::string& directory,
                    const std::string& extension);

// The application and service launchers put the runtime library jar of the installation
// on the class path; the installer does not.
void setRuntimeLibraryOnClassPath(bool enabled);
