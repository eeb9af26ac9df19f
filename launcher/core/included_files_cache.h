#pragma once

#include <string>

// Included files extracted once per launcher build into the per-user cache, so that their
// paths, sizes and times stay the same from start to start (archives of the start-up cache
// depend on that) and a start does not pay for writing them again.

// Extracts the included files into the cache, or finds them there complete; true when the
// directory is ready (getIncludedFilesDirectory names it). False when the cache is off or
// not usable, and the caller extracts into the per-run directory as before.
bool useIncludedFilesCache();

// The directory of the included files: the cache's, or else the per-run temp directory.
const std::string& getIncludedFilesDirectory();
