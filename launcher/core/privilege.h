#pragma once

#include <string>

#include "win/win32.h"

// What a run may trust is decided here, once: a run that is elevated or runs as LocalSystem
// is privileged, and every rule that depends on that asks these functions.
bool isPrivilegedRun();
bool isLocalSystemRun();

// The current user's SID as text ("S-1-5-21-..."); empty when the token cannot be read.
std::wstring currentUserSid();

// The descriptor of a directory only its run may use: the current user, SYSTEM and the
// Administrators, full control, inherited by everything inside, nothing inherited from above.
std::wstring protectedDirectorySddl();
// The same for a directory only administrators may write (SYSTEM and the Administrators).
std::wstring administratorsOnlySddl();

// Security attributes built from SDDL text; `get()` is null when the text did not convert,
// so a caller that must not go on without them can tell.
class SecurityAttributes {
public:
    explicit SecurityAttributes(const std::wstring& sddl);
    ~SecurityAttributes();
    SecurityAttributes(const SecurityAttributes&) = delete;
    SecurityAttributes& operator=(const SecurityAttributes&) = delete;
    SECURITY_ATTRIBUTES* get() { return attributes_.lpSecurityDescriptor ? &attributes_ : nullptr; }

private:
    SECURITY_ATTRIBUTES attributes_{};
};

// True when no account other than SYSTEM, the Administrators and TrustedInstaller may change
// the file or directory: its owner is one of them and no allowing entry of its DACL gives
// anyone else a right to write, add, delete or change its permissions.
bool isWritableOnlyByAdministrators(const std::wstring& path);

// The rule for side files (options files, location files): an ordinary run reads them from
// anywhere; a privileged run only where no ordinary user can write the file or its directory,
// and logs the ones it skips.
bool mayReadSideFile(const std::wstring& path);
