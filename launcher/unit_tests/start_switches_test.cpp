#include "portable/start_switches.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct MarkerCase {
    const char* tail;
    bool reboot;
    bool languageRestart;
    bool internalQuiet;
};

void PrintTo(const MarkerCase& c, std::ostream* os) { *os << "[" << c.tail << "]"; }

class StartMarkerTail : public ::testing::TestWithParam<MarkerCase> {};

TEST_P(StartMarkerTail, Markers) {
    const MarkerCase& c = GetParam();
    StartMarkers markers = readStartMarkers(c.tail);
    EXPECT_EQ(markers.reboot, c.reboot);
    EXPECT_EQ(markers.languageRestart, c.languageRestart);
    EXPECT_EQ(markers.internalQuiet, c.internalQuiet);
}

INSTANTIATE_TEST_SUITE_P(
    Tails, StartMarkerTail,
    ::testing::Values(MarkerCase{"", false, false, false},
                      MarkerCase{"__qln_reboot", true, false, false},
                      MarkerCase{"__qln_reboot ", false, false, false},
                      MarkerCase{"__qln_reboot x", false, false, false},
                      MarkerCase{"__qln_reboot -q", false, false, false},
                      MarkerCase{"-q __qln_reboot", false, false, false},
                      MarkerCase{"x __qln_reboot", false, false, false},
                      MarkerCase{"__qln_rebootx", false, false, false},
                      MarkerCase{"__QLN_REBOOT", false, false, false},
                      MarkerCase{"__qln_lang_restart", false, true, false},
                      MarkerCase{"__qln_lang_restart_more", false, true, false},
                      MarkerCase{"__qln_lang_restart -q", false, true, false},
                      MarkerCase{"first __qln_lang_restart", false, false, false},
                      MarkerCase{"__qln_lang_restar", false, false, false},
                      MarkerCase{"-q_qln_internal", false, false, true},
                      MarkerCase{"-q_qln_internal more words", false, false, true},
                      MarkerCase{"first -q_qln_internal", false, false, false},
                      MarkerCase{"-q_qln_interna", false, false, false}));

struct SwitchCase {
    const char* name;
    SwitchSet set;
    std::vector<std::string> words;
    ConsoleSwitches expected;
};

void PrintTo(const SwitchCase& c, std::ostream* os) { *os << c.name; }

ConsoleSwitches quiet() { return {true, false, false, false, false, false}; }
ConsoleSwitches console() { return {false, true, false, false, false, false}; }
ConsoleSwitches consoleRequired() { return {true, true, true, false, false, false}; }
ConsoleSwitches none() { return {}; }

class ConsoleSwitchWords : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(ConsoleSwitchWords, Switches) {
    const SwitchCase& c = GetParam();
    std::vector<std::u16string> wide;
    for (const std::string& word : c.words)
        wide.emplace_back(word.begin(), word.end());
    for (const ConsoleSwitches& found :
         {readConsoleSwitches(c.words, c.set), readConsoleSwitches(wide, c.set)}) {
        EXPECT_EQ(found.quiet, c.expected.quiet);
        EXPECT_EQ(found.console, c.expected.console);
        EXPECT_EQ(found.consoleRequired, c.expected.consoleRequired);
        EXPECT_EQ(found.splash, c.expected.splash);
        EXPECT_EQ(found.noCheck, c.expected.noCheck);
        EXPECT_EQ(found.manualRuntime, c.expected.manualRuntime);
    }
}

constexpr SwitchSet kApp = SwitchSet::Application;
constexpr SwitchSet kConsoleOnly = SwitchSet::ConsoleOnly;
constexpr SwitchSet kInstaller = SwitchSet::Installer;

INSTANTIATE_TEST_SUITE_P(
    Application, ConsoleSwitchWords,
    ::testing::Values(
        SwitchCase{"none_q", SwitchSet::None, {"app.exe", "-q"}, none()},
        SwitchCase{"none_c", SwitchSet::None, {"app.exe", "-c"}, none()},
        SwitchCase{"none_console", SwitchSet::None, {"app.exe", "-console"}, none()},
        SwitchCase{"all_q", kApp, {"app.exe", "-q"}, quiet()},
        SwitchCase{"all_c", kApp, {"app.exe", "-c"}, consoleRequired()},
        SwitchCase{"all_console", kApp, {"app.exe", "-console"}, console()},
        SwitchCase{"all_c_after_a_word", kApp, {"app.exe", "x", "-c", "-q"}, consoleRequired()},
        SwitchCase{"all_console_then_c", kApp, {"app.exe", "-console", "-c"}, consoleRequired()},
        SwitchCase{"all_case_sensitive", kApp, {"app.exe", "-Q", "-C", "-Console"}, none()},
        SwitchCase{"all_no_installer_switches",
                   kApp,
                   {"app.exe", "-splash", "-nocheck", "-manual", "/manual"},
                   none()},
        SwitchCase{"all_program_path_counts", kApp, {"-q"}, quiet()},
        SwitchCase{"console_only_q", kConsoleOnly, {"app.exe", "-q"}, none()},
        SwitchCase{"console_only_c", kConsoleOnly, {"app.exe", "-c"}, none()},
        SwitchCase{"console_only_console", kConsoleOnly, {"app.exe", "-console"}, console()},
        SwitchCase{"no_words", kApp, {}, none()}));

INSTANTIATE_TEST_SUITE_P(
    Installer, ConsoleSwitchWords,
    ::testing::Values(
        SwitchCase{"c", kInstaller, {"setup.exe", "-c"}, consoleRequired()},
        SwitchCase{"console_then_c", kInstaller, {"setup.exe", "-console", "-c"},
                   consoleRequired()},
        SwitchCase{"c_then_console", kInstaller, {"setup.exe", "-c", "-console"},
                   consoleRequired()},
        SwitchCase{"console", kInstaller, {"setup.exe", "-console"}, console()},
        SwitchCase{"q", kInstaller, {"setup.exe", "-q"}, quiet()},
        SwitchCase{"upper_case_c", kInstaller, {"setup.exe", "-C"}, none()},
        SwitchCase{"splash", kInstaller, {"setup.exe", "-q", "-splash"},
                   {true, false, false, true, false, false}},
        SwitchCase{"nocheck", kInstaller, {"setup.exe", "-q", "-nocheck"},
                   {true, false, false, false, true, false}},
        SwitchCase{"manual", kInstaller, {"setup.exe", "-manual"},
                   {false, false, false, false, false, true}},
        SwitchCase{"slash_manual", kInstaller, {"setup.exe", "/manual"},
                   {false, false, false, false, false, true}},
        SwitchCase{"upper_case_manual", kInstaller, {"setup.exe", "/MANUAL", "-NOCHECK"},
                   none()}));

TEST(ApplicationSwitchSet, KeysChooseTheSet) {
    EXPECT_EQ(applicationSwitchSet(false, false), SwitchSet::None);
    EXPECT_EQ(applicationSwitchSet(false, true), SwitchSet::ConsoleOnly);
    EXPECT_EQ(applicationSwitchSet(true, false), SwitchSet::Application);
    EXPECT_EQ(applicationSwitchSet(true, true), SwitchSet::Application);
}

} // namespace
