#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One entry of a DACL as the Windows layer reads it: the SID in its text form.
struct AccessEntry {
    bool allows;       // an allowing entry; denying ones never widen access
    bool inheritOnly;  // applies only to what is created inside, not to the object itself
    uint32_t mask;
    std::string sid;
};

// Rights that let the holder change a file, add to a directory or take its permissions over.
constexpr uint32_t kWriteLikeRights = 0x00000002u     // write data, add file
                                      | 0x00000004u   // append data, add subdirectory
                                      | 0x00000040u   // delete child
                                      | 0x00010000u   // delete
                                      | 0x00040000u   // write DAC
                                      | 0x00080000u   // write owner
                                      | 0x10000000u   // generic all
                                      | 0x40000000u;  // generic write

// SYSTEM, the Administrators and TrustedInstaller: the accounts a privileged run may trust.
bool isAdministrativeSid(const std::string& sid);

// True when only administrative accounts may write the object: its owner is one of them and
// no allowing entry that applies to the object gives anyone else a write-like right. A
// missing DACL (nullopt) lets everyone do everything.
bool onlyAdministratorsMayWrite(const std::string& ownerSid,
                                const std::optional<std::vector<AccessEntry>>& dacl);
