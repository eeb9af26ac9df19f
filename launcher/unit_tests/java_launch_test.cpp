#include "portable/java_launch.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

LauncherFacts plainFacts() {
    LauncherFacts facts;
    facts.executablePath = "C:\\apps\\app.exe";
    facts.tempDirectory = "C:\\tmp\\tvo1_dir5";
    facts.unextractedPosition = 4096;
    facts.path = "C:\\windows";
    return facts;
}

TEST(LauncherSystemProperties, AllPresentInOrder) {
    LauncherFacts facts = plainFacts();
    facts.semaphoreName = "Local\\c:_apps_app.exe";
    facts.manualJre = true;
    facts.quillonFlavor = true;
    facts.service = true;
    facts.processCommFile = "C:\\tmp\\tvo_p12.tmp";
    facts.consoleCodepage = 850;
    EXPECT_EQ(launcherSystemProperties(facts),
              (Strings{"-Dtarvo.semaphoreName=Local\\c:_apps_app.exe",
                       "-Dtarvo.manualJre=true",
                       "-Dtarvo.isQuillon=true",
                       "-Dtarvo.isService=true",
                       "-Dtarvo.moduleName=C:\\apps\\app.exe",
                       "-Dsun.java.command=C:\\apps\\app.exe",
                       "-Dtarvo.processCommFile=C:\\tmp\\tvo_p12.tmp",
                       "-Dtarvo.tempDir=C:\\tmp\\tvo1_dir5",
                       "-Dtarvo.unextractedPosition=4096",
                       "-Djava.library.path=C:\\windows",
                       "-Dtarvo.consoleCodepage=cp850"}));
}

TEST(LauncherSystemProperties, OptionalOnesAbsent) {
    LauncherFacts facts = plainFacts();
    facts.tempDirectory.clear();
    facts.unextractedPosition = -1;
    EXPECT_EQ(launcherSystemProperties(facts),
              (Strings{"-Dtarvo.moduleName=C:\\apps\\app.exe",
                       "-Dsun.java.command=C:\\apps\\app.exe",
                       "-Dtarvo.tempDir=",
                       "-Dtarvo.unextractedPosition=-1",
                       "-Djava.library.path=C:\\windows"}));
}

TEST(LauncherSystemProperties, ServiceSitsWhereQuillonWouldBe) {
    LauncherFacts facts = plainFacts();
    facts.service = true;
    Strings options = launcherSystemProperties(facts);
    ASSERT_GE(options.size(), 2u);
    EXPECT_EQ(options[0], "-Dtarvo.isService=true");
    EXPECT_EQ(options[1], "-Dtarvo.moduleName=C:\\apps\\app.exe");
}

TEST(LauncherSystemProperties, ConsoleCodepageZeroWithoutConsole) {
    LauncherFacts facts = plainFacts();
    facts.consoleCodepage = 0;
    EXPECT_EQ(launcherSystemProperties(facts).back(), "-Dtarvo.consoleCodepage=cp0");
}

struct LibraryPathCase {
    size_t length;
    bool kept;
};

class LibraryPathLimit : public ::testing::TestWithParam<LibraryPathCase> {};

TEST_P(LibraryPathLimit, LongPathIsDroppedNotCut) {
    LauncherFacts facts = plainFacts();
    facts.path = std::string(GetParam().length, 'p');
    Strings options = launcherSystemProperties(facts);
    std::string expected = "-Djava.library.path=" + (GetParam().kept ? facts.path : "");
    EXPECT_EQ(options.back(), expected);
}

INSTANTIATE_TEST_SUITE_P(Lengths, LibraryPathLimit,
                         ::testing::Values(LibraryPathCase{0, true}, LibraryPathCase{11978, true},
                                           LibraryPathCase{11979, true},
                                           LibraryPathCase{11980, false},
                                           LibraryPathCase{30000, false}));

struct CutCase {
    size_t valueLength;
    size_t expectedLength;
};

class PropertyBuffer : public ::testing::TestWithParam<CutCase> {};

// "-Dtarvo.tempDir=" is 16 characters; the buffer holds 5999 of them.
TEST_P(PropertyBuffer, CutToItsBuffer) {
    LauncherFacts facts = plainFacts();
    facts.tempDirectory = std::string(GetParam().valueLength, 't');
    Strings options = launcherSystemProperties(facts);
    auto tempDir = std::find_if(options.begin(), options.end(), [](const std::string& o) {
        return o.rfind("-Dtarvo.tempDir=", 0) == 0;
    });
    ASSERT_NE(tempDir, options.end());
    EXPECT_EQ(tempDir->size(), GetParam().expectedLength);
}

INSTANTIATE_TEST_SUITE_P(Lengths, PropertyBuffer,
                         ::testing::Values(CutCase{5982, 5998}, CutCase{5983, 5999},
                                           CutCase{5984, 5999}, CutCase{9000, 5999}));

TEST(UnextractedPosition, Cases) {
    EXPECT_EQ(unextractedPosition(false, 300, 9000), 9000);
    // Nothing extracted: the unextracted data begins where the included files would.
    EXPECT_EQ(unextractedPosition(false, 300, 0), 300);
    EXPECT_EQ(unextractedPosition(true, 300, 9000), -1);
    EXPECT_EQ(unextractedPosition(false, 0xFFFFFFF0u, 0), 0xFFFFFFF0ll);
}

TEST(LauncherClassName, ByFlavor) {
    EXPECT_EQ(launcherClassName('q'), "com/quillon/runtime/launcher/WinLauncher");
    EXPECT_EQ(launcherClassName('t'), "com/tarvo/runtime/WinLauncher");
    EXPECT_EQ(launcherClassName('Q'), "com/tarvo/runtime/WinLauncher");
    EXPECT_EQ(launcherClassName(0), "com/tarvo/runtime/WinLauncher");
}

struct ForwardCase {
    const char* name;
    Strings words;
    bool jWordsAreJvmOptions;
    Strings forwarded;
};

void PrintTo(const ForwardCase& c, std::ostream* os) { *os << c.name; }

class ForwardedArguments : public ::testing::TestWithParam<ForwardCase> {};

TEST_P(ForwardedArguments, Words) {
    const ForwardCase& c = GetParam();
    EXPECT_EQ(forwardedArguments(c.words, c.jWordsAreJvmOptions), c.forwarded);
    std::vector<std::u16string> wide;
    for (const std::string& w : c.words)
        wide.emplace_back(w.begin(), w.end());
    std::vector<std::u16string> expected;
    for (const std::string& w : c.forwarded)
        expected.emplace_back(w.begin(), w.end());
    EXPECT_EQ(forwardedArguments(wide, c.jWordsAreJvmOptions), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ForwardedArguments,
    ::testing::Values(
        ForwardCase{"no_words", {}, false, {}},
        ForwardCase{"program_path_only", {"app.exe"}, true, {}},
        ForwardCase{"plain", {"app.exe", "a", "b c"}, false, {"a", "b c"}},
        ForwardCase{"j_words_kept_when_not_options", {"app.exe", "-Jx", "-J"}, false,
                    {"-Jx", "-J"}},
        ForwardCase{"j_words_dropped_when_options", {"app.exe", "-Xmx1m", "-Jx", "-J", "y"},
                    true, {"-Xmx1m", "y"}},
        ForwardCase{"lowercase_j_is_no_option", {"app.exe", "-jx"}, true, {"-jx"}},
        ForwardCase{"locale_word_always_dropped",
                    {"app.exe", "-Dsun.locale.formatasdefault=true",
                     "-Dsun.locale.formatasdefault=", "-Dsun.locale.formatasdefaultX"},
                    false, {"-Dsun.locale.formatasdefaultX"}},
        ForwardCase{"first_word_never_forwarded", {"-Jx", "a"}, true, {"a"}}));

} // namespace
