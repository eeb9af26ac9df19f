#include "portable/access_rules.h"

#include <gtest/gtest.h>

namespace {

const char kSystem[] = "S-1-5-18";
const char kAdministrators[] = "S-1-5-32-544";
const char kUsers[] = "S-1-5-32-545";
const char kUser[] = "S-1-5-21-1-2-3-1001";
const char kEveryone[] = "S-1-1-0";
constexpr uint32_t kFullControl = 0x001f01ff;
constexpr uint32_t kReadAndExecute = 0x001200a9;

AccessEntry allow(const char* sid, uint32_t mask) { return {true, false, mask, sid}; }

TEST(OnlyAdministratorsMayWrite, JudgesOwnerAndEveryEntryThatApplies) {
    struct Case {
        const char* name;
        const char* owner;
        std::optional<std::vector<AccessEntry>> dacl;
        bool expected;
    };
    const Case cases[] = {
        {"program files", kSystem,
         std::vector<AccessEntry>{allow(kSystem, kFullControl), allow(kAdministrators, kFullControl),
                                  allow(kUsers, kReadAndExecute)},
         true},
        {"no DACL lets everyone in", kSystem, std::nullopt, false},
        {"empty DACL lets nobody in", kAdministrators, std::vector<AccessEntry>{}, true},
        {"a user owner can rewrite the DACL", kUser,
         std::vector<AccessEntry>{allow(kSystem, kFullControl)}, false},
        {"downloads: the user writes", kSystem,
         std::vector<AccessEntry>{allow(kSystem, kFullControl), allow(kUser, kFullControl)}, false},
        {"everyone may add files", kAdministrators,
         std::vector<AccessEntry>{allow(kEveryone, 0x00000002)}, false},
        {"users may add subdirectories", kAdministrators,
         std::vector<AccessEntry>{allow(kUsers, 0x00000004)}, false},
        {"users may take the permissions", kAdministrators,
         std::vector<AccessEntry>{allow(kUsers, 0x00040000)}, false},
        {"generic write", kAdministrators,
         std::vector<AccessEntry>{allow(kUsers, 0x40000000)}, false},
        {"a denying entry never widens", kAdministrators,
         std::vector<AccessEntry>{{false, false, kFullControl, kUsers}}, true},
        {"an inherit-only entry is for what is created inside", kAdministrators,
         std::vector<AccessEntry>{{true, true, kFullControl, "S-1-3-0"}}, true},
        {"reading and attributes are harmless", kAdministrators,
         std::vector<AccessEntry>{allow(kEveryone, kReadAndExecute | 0x100 | 0x10)}, true},
        {"trusted installer", "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
         std::vector<AccessEntry>{allow(kSystem, kFullControl)}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(onlyAdministratorsMayWrite(c.owner, c.dacl), c.expected);
    }
}

} // namespace
