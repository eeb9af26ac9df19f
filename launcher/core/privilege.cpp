#include "core/privilege.h"

#include <vector>

#include "core/log.h"
#include "core/test_seams.h"
#include "portable/access_rules.h"
#include "win/encoding.h"
#include "win/handles.h"

#include <aclapi.h>
#include <sddl.h>

namespace {

struct RunFacts {
    bool privileged = false;
    bool localSystem = false;
    std::wstring userSid;
};

std::wstring sidText(PSID sid) {
    wchar_t* text = nullptr;
    if (!sid || !ConvertSidToStringSidW(sid, &text))
        return {};
    std::wstring result = text;
    LocalFree(text);
    return result;
}

RunFacts readToken() {
    RunFacts facts;
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw))
        return facts;
    UniqueKernelHandle token(raw);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size ? size : 1);
    if (GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) {
        PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
        facts.userSid = sidText(sid);
        facts.localSystem = IsWellKnownSid(sid, WinLocalSystemSid) != FALSE;
    }
    TOKEN_ELEVATION elevation{};
    bool elevated = GetTokenInformation(token.get(), TokenElevation, &elevation,
                                        sizeof elevation, &size) &&
                    elevation.TokenIsElevated != 0;
    facts.privileged = elevated || facts.localSystem;
    return facts;
}

const RunFacts& runFacts() {
    static const RunFacts facts = [] {
        RunFacts real = readToken();
#ifdef QLN_TEST_SEAMS
        // Wine gives every process an elevated token, so the seamed stubs count as ordinary
        // unless a test asks for a privileged run ("1", "system") or the real answer ("real").
        std::string asked = testSeam("QLN_TEST_PRIVILEGED").value_or("0");
        if (asked != "real") {
            real.privileged = asked == "1" || asked == "system";
            real.localSystem = asked == "system";
        }
#endif
        if (real.privileged)
            logMessage("privileged run (%s)", real.localSystem ? "LocalSystem" : "elevated");
        return real;
    }();
    return facts;
}

std::wstring aceText(const std::wstring& sid) { return L"(A;OICI;FA;;;" + sid + L")"; }

std::string narrowSid(PSID sid) { return toNarrow(sidText(sid), CP_ACP); }

} // namespace

bool isPrivilegedRun() { return runFacts().privileged; }
bool isLocalSystemRun() { return runFacts().localSystem; }
std::wstring currentUserSid() { return runFacts().userSid; }

std::wstring protectedDirectorySddl() {
    std::wstring sddl = L"D:P";
    const std::wstring& user = currentUserSid();
    // SYSTEM itself is already named below.
    if (!user.empty() && user != L"S-1-5-18")
        sddl += aceText(user);
    return sddl + aceText(L"SY") + aceText(L"BA");
}

std::wstring administratorsOnlySddl() { return L"D:P" + aceText(L"SY") + aceText(L"BA"); }

SecurityAttributes::SecurityAttributes(const std::wstring& sddl) {
    attributes_.nLength = sizeof attributes_;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                             &descriptor, nullptr))
        attributes_.lpSecurityDescriptor = descriptor;
}

SecurityAttributes::~SecurityAttributes() { LocalFree(attributes_.lpSecurityDescriptor); }

bool isWritableOnlyByAdministrators(const std::wstring& path) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    std::optional<std::vector<AccessEntry>> entries;
    if (dacl) {
        entries.emplace();
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            ACE_HEADER* header = nullptr;
            if (!GetAce(dacl, i, reinterpret_cast<void**>(&header)))
                continue;
            bool allows = header->AceType == ACCESS_ALLOWED_ACE_TYPE;
            if (!allows && header->AceType != ACCESS_DENIED_ACE_TYPE) {
                // An allowing kind this reader does not know: count it against the path.
                if (header->AceType <= ACCESS_MAX_MS_V2_ACE_TYPE)
                    continue;
                entries->push_back({true, false, ~0u, ""});
                continue;
            }
            auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
            entries->push_back({allows, (header->AceFlags & INHERIT_ONLY_ACE) != 0, ace->Mask,
                                narrowSid(&ace->SidStart)});
        }
    }
    bool safe = onlyAdministratorsMayWrite(narrowSid(owner), entries);
    LocalFree(descriptor);
    return safe;
}

bool mayReadSideFile(const std::wstring& path) {
    if (!isPrivilegedRun())
        return true;
    size_t slash = path.find_last_of(L"\\/");
    std::wstring directory = slash == std::wstring::npos ? L"." : path.substr(0, slash + 1);
    DWORD attributes = GetFileAttributesW(path.c_str());
    bool present = attributes != INVALID_FILE_ATTRIBUTES;
    if (isWritableOnlyByAdministrators(directory) &&
        (!present || isWritableOnlyByAdministrators(path)))
        return true;
    if (present)
        logMessage("skipping %S: ordinary users can write it, and this run is privileged",
                   path.c_str());
    return false;
}
