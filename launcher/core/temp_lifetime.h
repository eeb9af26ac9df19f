#pragma once

#include <string>

// A launcher temp directory "<name>_dir<time>" lives beside the empty file "<name>" that
// reserved its name. The owner holds that file open for its whole life, and the handle is
// inherited by every process it starts, so a directory whose file nobody holds belongs to
// runs that have all ended: the next start of any launcher removes it. The owner marks the
// file; an unmarked one comes from a launcher that never held it and is left alone.

// Creates and holds the name file of a directory this process is about to create; false
// when the file cannot be made new (the name is then not used).
bool holdTempName(const std::string& nameFile);
// Lets go of the name file, and removes it when `removeFile` names it.
void releaseTempName(const std::string& removeFile = "");

// A language-restart run works in a directory an earlier run made: it holds that
// directory's name file too, so that the directory outlives the earlier run.
void adoptTempDirectory(const std::wstring& directory);

// True when no other process holds the name file of this process's directory; from then on
// this process holds it alone until it ends, so no sweep starts on a half-removed directory.
bool takeTempDirectoryAlone(const std::string& directory);

// Removes this process's directory with everything inside it, however deep, and its name
// file, when no other process holds it; false when something stayed.
bool removeOwnTempDirectory(const std::string& directory);

// Removal never follows links: a junction or symbolic link is removed as a link, never
// entered, and every deletion works through handles opened on the entry itself.

// The runtime holds the extracted jars open until the process ends, and a process may end
// without passing the launcher's exit (System.exit, killed). So once the directory exists a
// small detached copy of this program waits for this process to end and then sweeps the
// temporary directory; no later start is needed.
void startCleanupAfterExit();
// True once startCleanupAfterExit was called in this process, whether or not the copy runs.
bool cleanupAfterExitArranged();
// The entry of that copy: true when this process is one, after its work is done.
bool runCleanupIfAsked();

// Removes every launcher temp directory in `tempDirectory` whose runs have all ended,
// with everything inside it, and its name file.
void sweepEndedTempDirectories(const std::wstring& tempDirectory);
