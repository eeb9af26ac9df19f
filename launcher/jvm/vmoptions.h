#pragma once

#include <string>
#include <vector>

#include "jvm/class_path.h"
#include "win/handles.h"

// The JVM options gathered so far, the class path texts taken out of the option stream,
// and the options files being read, innermost last.
struct OptionAssembly {
    std::vector<std::string> options;
    ClassPathSlots classPath;
    std::vector<std::wstring> filesBeingRead;
};

// One option text: "-include-options " reads the named file here, the "-classpath" forms
// fill their slot, anything else joins the options as the JVM's narrow text. A relative
// include is looked up beside `baseFile`, or in the launcher directory when there is none.
void addOption(OptionAssembly& assembly, const std::wstring* baseFile, const std::wstring& text);

// Hands every line of an open options file to addOption with `path` as the base, and
// closes the file; does nothing when it is not open. A file that is already being read
// (an include cycle), or one nested too deep, is left out with a log line.
void readOptionsFile(OptionAssembly& assembly, const std::wstring* path, UniqueFile file);

// The options file beside the launcher: for app.exe, app.vmoptions before
// app.exe.vmoptions; the same again for the module name as the system reports it.
UniqueFile openDefaultOptionsFile();
