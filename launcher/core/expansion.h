#pragma once

#include <string>

#include "portable/message_text.h"

// Replaces launcher variables ("${launcher:sys.launcherDirectory}", "%TARVO_EXEDIR%", ...)
// and "${NAME}" environment references in place. `ansiForms` chooses the directory forms
// that the ANSI interfaces accept instead of the long UTF-16 ones. A result longer than
// the caller's buffer is cut to it; the return value is false then.
bool expandVariables(std::wstring& text, bool ansiForms, size_t bufferSize = kMaxText);
bool expandVariablesNarrow(std::string& text, size_t bufferSize = kMaxText);
