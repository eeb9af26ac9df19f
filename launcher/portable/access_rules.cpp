#include "portable/access_rules.h"

namespace {

const char kTrustedInstaller[] =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

} // namespace

bool isAdministrativeSid(const std::string& sid) {
    return sid == "S-1-5-18" || sid == "S-1-5-32-544" || sid == kTrustedInstaller;
}

bool onlyAdministratorsMayWrite(const std::string& ownerSid,
                                const std::optional<std::vector<AccessEntry>>& dacl) {
    // An owner may always rewrite the permissions.
    if (!isAdministrativeSid(ownerSid) || !dacl)
        return false;
    for (const AccessEntry& entry : *dacl) {
        if (!entry.allows || entry.inheritOnly || (entry.mask & kWriteLikeRights) == 0)
            continue;
        if (!isAdministrativeSid(entry.sid))
            return false;
    }
    return true;
}
