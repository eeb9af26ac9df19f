#include "portable/expansion.h"
#include "portable/message_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

ExpansionValues<char> sampleValues() {
    ExpansionValues<char> values;
    values.launcherDirectory = "C:\\app\\";
    values.launcherTempDirectory = "C:\\tmp\\tvo1.tmp_dir42";
    values.jvmHome = "C:\\jre\\bin\\..";
    values.systemTempDirectory = "C:\\tmp\\";
    values.environment = {{"Path", "C:\\windows"}, {"HOME_DIR", "C:\\home"}, {"self", "${self}"}};
    return values;
}

std::string expand(std::string text, const ExpansionValues<char>& values = sampleValues(),
                   size_t bufferSize = kMaxText, bool* complete = nullptr) {
    bool done = expandVariableReferences<char>(text, values, bufferSize,
                                               [](auto, auto, const std::string&) {});
    if (complete)
        *complete = done;
    return text;
}

struct ExpansionCase {
    const char* text;
    const char* expected;
};

TEST(ExpandVariableReferences, LauncherPatterns) {
    const ExpansionCase cases[] = {
        {"%TARVO_EXEDIR%lib", "C:\\app\\lib"},
        {"%QUILLON_EXEDIR%lib", "C:\\app\\lib"},
        {"%TARVO_TEMPDIR%", "C:\\tmp\\tvo1.tmp_dir42"},
        {"%QUILLON_TEMPDIR%", "C:\\tmp\\tvo1.tmp_dir42"},
        {"a%TARVO_PATHLIST_SEPARATOR%b", "a;b"},
        {"a%QUILLON_PATHLIST_SEPARATOR%b", "a;b"},
        {"%TARVO_JVM_HOME%", "C:\\jre\\bin\\.."},
        {"%QUILLON_JVM_HOME%", "C:\\jre\\bin\\.."},
        {"${TARVO_EXEDIR}x", "C:\\app\\x"},
        {"${QUILLON_EXEDIR}x", "C:\\app\\x"},
        {"${TARVO_TEMPDIR}", "C:\\tmp\\tvo1.tmp_dir42"},
        {"${QUILLON_TEMPDIR}", "C:\\tmp\\tvo1.tmp_dir42"},
        {"${TARVO_PATHLIST_SEPARATOR}", ";"},
        {"${QUILLON_PATHLIST_SEPARATOR}", ";"},
        {"${TARVO_JVM_HOME}", "C:\\jre\\bin\\.."},
        {"${QUILLON_JVM_HOME}", "C:\\jre\\bin\\.."},
        {"${launcher:sys.launcherDirectory}app.jar", "C:\\app\\app.jar"},
        {"${launcher:sys.launcherTempDirectory}", "C:\\tmp\\tvo1.tmp_dir42"},
        {"${launcher:sys.pathlistSeparator}", ";"},
        {"${launcher:sys.jvmHome}", "C:\\jre\\bin\\.."},
        {"${launcher:sys.tempDir}", "C:\\tmp\\"},
        {"${launcher:sys.launcherDirectory}a;${launcher:sys.launcherDirectory}b",
         "C:\\app\\a;C:\\app\\b"},
        {"%tarvo_exedir%", "%tarvo_exedir%"},
    };
    for (const ExpansionCase& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(expand(c.text), c.expected);
    }
}

TEST(ExpandVariableReferences, EnvironmentReferences) {
    const ExpansionCase cases[] = {
        {"${Path}", "C:\\windows"},          // exactly as stored
        {"${PATH}", "C:\\windows"},          // all upper case
        {"${path}", "${path}"},              // any other mix stays
        {"${HOME_DIR}\\x", "C:\\home\\x"},
        {"${UNDEFINED}", "${UNDEFINED}"},
        {"%Path%", "%Path%"},                // only the "${...}" form
        {"${self}", "${self}"},              // a value holding its own reference
        {"${SELF}", "${self}"},              // ... is not expanded again
    };
    for (const ExpansionCase& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(expand(c.text), c.expected);
    }
}

TEST(ExpandVariableReferences, EmptyValuesBeforeTheyExist) {
    ExpansionValues<char> values = sampleValues();
    values.jvmHome.clear();
    values.launcherTempDirectory.clear();
    EXPECT_EQ(expand("[${launcher:sys.jvmHome}][%TARVO_TEMPDIR%]", values), "[][]");
}

TEST(ExpandVariableReferences, LaterRowsSeeEarlierValues) {
    ExpansionValues<char> values = sampleValues();
    values.launcherDirectory = "${Path}\\";
    EXPECT_EQ(expand("%TARVO_EXEDIR%x", values), "C:\\windows\\x");
}

TEST(ReplaceAll, ReplacedTextIsNotSearchedAgain) {
    std::string text = "a-a";
    std::vector<std::string> trace;
    EXPECT_TRUE(replaceAll<char>(text, "a", "aa", kMaxText,
                                 [&](auto, auto, const std::string& t) { trace.push_back(t); }));
    EXPECT_EQ(text, "aa-aa");
    EXPECT_EQ(trace, (std::vector<std::string>{"aa-a", "aa-aa"}));
}

TEST(ReplaceAll, NeverGrowsPastTheBuffer) {
    struct Case {
        size_t prefixLength;
        size_t valueLength;
        bool complete;
    };
    // The buffer holds 5999 characters plus the terminator.
    const Case cases[] = {
        {5992, 7, true},    // the result is exactly 5999 characters
        {5993, 7, false},   // one more would need 6000
        {10, 20000, false}, // a value far larger than the buffer
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prefixLength);
        ExpansionValues<char> values;
        values.environment = {{"Path", std::string(c.valueLength, 'v')}};
        std::string text = std::string(c.prefixLength, 'x') + "${Path}";
        bool complete = true;
        std::string result = expand(text, values, kMaxText, &complete);
        EXPECT_EQ(complete, c.complete);
        EXPECT_EQ(result.size(), std::min<size_t>(c.prefixLength + c.valueLength, 5999));
    }
}

TEST(ReplaceAll, WorksOnUtf16) {
    ExpansionValues<char16_t> values;
    values.launcherDirectory = u"C:\\\u00e4pp\\";
    values.environment = {{u"Name", u"\u20ac"}};
    std::u16string text = u"${launcher:sys.launcherDirectory}${NAME}";
    expandVariableReferences<char16_t>(text, values, kMaxText, [](auto, auto, auto&) {});
    EXPECT_EQ(text, u"C:\\\u00e4pp\\\u20ac");
}

} // namespace
