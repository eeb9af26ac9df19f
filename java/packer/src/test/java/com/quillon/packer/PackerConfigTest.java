package com.quillon.packer;

import static com.quillon.packer.TestFiles.config;
import static com.quillon.packer.TestFiles.file;
import static com.quillon.packer.TestFiles.json;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.CsvSource;
import org.junit.jupiter.params.provider.MethodSource;
import org.junit.jupiter.params.provider.ValueSource;

class PackerConfigTest {

    @TempDir
    Path dir;

    private PackerConfig load(String jsonWithSingleQuotes) throws IOException, PackerException {
        return PackerConfig.load(config(dir, jsonWithSingleQuotes));
    }

    private PayloadContent content(String jsonWithSingleQuotes) throws IOException, PackerException {
        return load(jsonWithSingleQuotes).content();
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', quoteCharacter = '`', value = {
        "name            | {'applicationName': 'My App'}              | 101  | My App",
        "gui             | {'applicationType': 'gui'}                 | 107  | 1",
        "console         | {'applicationType': 'console'}             | 107  | 0",
        "numeric type    | {'applicationType': 5}                     | 107  | 5",
        "tarvo flavor    | {'flavor': 't'}                            | 2001 | t",
        "main class      | {'mainClass': 'com.example.App'}           | 122  | com.example.App",
        "min version     | {'minJavaVersion': '1.8'}                  | 126  | 1.8",
        "max version     | {'maxJavaVersion': '17.0.2'}               | 127  | 17.0.2",
        "class path      | {'classPath': [{'type': 'A', 'required': true, 'value': 'lib\\\\app.jar'},"
                + " {'type': 'S', 'value': 'ext'}, 'E0CP', {'type': 'E', 'required': false, 'value': 'X'}]}"
                + "                                                          | 121  | A1lib\\app.jar;S0ext;E0CP;E0X",
        "search sequence | {'searchSequence': [{'type': 'Y'}, {'type': 'A', 'value': 'jre'}, 'EJAVA_HOME',"
                + " {'type': 'S', 'value': ''}]}                            | 128  | Y;Ajre;EJAVA_HOME;S",
        "jvm options     | {'jvmOptions': ['-Xmx512m', '-Dname=two words']}  | 123  | -Xmx512m \"-Dname=two words\"",
        "arguments       | {'arguments': ['it\\u0027s', '']}              | 124  | \"it's\" \"\"",
        "message         | {'messages': {'1016': 'No {0}-bit Java'}}  | 1016 | No {0}-bit Java",
        "error log       | {'errorLog': '${TEMP}\\\\err.log'}          | 103  | ${TEMP}\\err.log",
        "output log      | {'outputLog': 'logs\\\\out.log'}            | 105  | logs\\out.log",
        "append on       | {'appendToLogs': true}                     | 106  | 1",
        "append off      | {'appendToLogs': false}                    | 106  | 0",
        "-J options      | {'jvmOptionsFromCommandLine': true}        | 125  | 1",
        "-J arguments    | {'jvmOptionsFromCommandLine': false}       | 125  | 0",
        "installation    | {'installationDirectory': '..'}            | 10003 | ..",
    })
    void namedSettingsBecomeNarrowKeys(String name, String config, int key, String expected) throws Exception {
        assertEquals(expected, content(config).narrow.get(key));
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', value = {
        "errorLog  | 102 | 103 | 104",
        "outputLog | 104 | 105 | 102",
    })
    void aLogFileSwitchesItsLauncherParameterOn(String setting, int enabledKey, int pathKey, int otherKey)
            throws Exception {
        PayloadContent c = content("{'" + setting + "': 'app.log'}");
        assertEquals("1", c.narrow.get(enabledKey));
        assertEquals("app.log", c.narrow.get(pathKey));
        assertFalse(c.narrow.containsKey(otherKey));
        assertFalse(c.narrow.containsKey(106));
    }

    @Test
    void rawKeysCanSwitchALogFileOffAgain() throws Exception {
        PayloadContent c = content("{'errorLog': 'e.log', 'keys': {'102': '0'}}");
        assertEquals("0", c.narrow.get(102));
        assertEquals("e.log", c.narrow.get(103));
    }

    @Test
    void minimalConfigGetsFlavorAndEveryMessageText() throws Exception {
        PayloadContent c = content("{}");
        assertEquals("q", c.narrow.get(2001));
        for (int key : new int[] {1000, 1005, 1006, 1008, 1009, 1010, 1011, 1015, 1016, 1018, 1020}) {
            assertFalse(c.narrow.getOrDefault(key, "").isEmpty(), "message " + key);
        }
        for (int key = 20001; key <= 20020; key++) {
            if (key != 20015) {
                assertFalse(c.wide.getOrDefault(key, "").isEmpty(), "localized text " + key);
            }
        }
        for (int key : new int[] {1006, 1008, 1009, 1016, 1018, 1020}) {
            assertTrue(c.narrow.get(key).contains("{0}"), "message " + key + " shows its detail");
        }
        assertFalse(c.narrow.containsKey(2002), "no included files, no count");
        assertFalse(c.narrow.containsKey(107));
        assertFalse(c.integrityCheck);
    }

    @Test
    void defaultTextsFollowNameAndVersionRange() throws Exception {
        PayloadContent c = content("{'applicationName': 'Acme', 'minJavaVersion': '11', 'keys': {'127': '17'}}");
        assertEquals("Acme", c.narrow.get(1000));
        assertEquals("Acme Setup", c.wide.get(20013));
        assertTrue(c.narrow.get(1016).contains("11 up to 17"), c.narrow.get(1016));
    }

    @Test
    void rawKeysWinOverNamedSettingsAndDefaults() throws Exception {
        PayloadContent c = content("{'applicationName': 'Named', 'flavor': 't', 'messages': {'1009': 'named'},"
                + " 'localizedTexts': {'20012': 'named'},"
                + " 'keys': {'101': 'Raw', '2001': 'q', '1009': 'raw', '1000': 'raw caption'},"
                + " 'wideKeys': {'20012': 'raw', '20013': 'raw caption'}}");
        assertEquals("Raw", c.narrow.get(101));
        assertEquals("q", c.narrow.get(2001));
        assertEquals("raw", c.narrow.get(1009));
        assertEquals("raw caption", c.narrow.get(1000));
        assertEquals("raw", c.wide.get(20012));
        assertEquals("raw caption", c.wide.get(20013));
    }

    @Test
    void nullDropsDefaultsAndNamedValues() throws Exception {
        PayloadContent c = content("{'applicationName': 'A', 'messages': {'1005': null},"
                + " 'localizedTexts': {'20001': null},"
                + " 'keys': {'2001': null, '101': null, '1000': null}, 'wideKeys': {'20013': null}}");
        for (int key : new int[] {2001, 101, 1000, 1005}) {
            assertFalse(c.narrow.containsKey(key), "narrow key " + key);
        }
        assertFalse(c.wide.containsKey(20001));
        assertFalse(c.wide.containsKey(20013));
        assertTrue(c.narrow.containsKey(1006), "other defaults stay");
    }

    @Test
    void includedFilesSetCountAndNamesUnlessRawKeysSayOtherwise() throws Exception {
        file(dir, "a.jar", new byte[1]);
        file(dir, "sub/b.dll", new byte[2]);
        PayloadContent c = content("{'includedFiles': [{'name': 'a.jar', 'source': 'a.jar'},"
                + " {'name': 'bin\\\\b.dll', 'source': 'sub/b.dll'}]}");
        assertEquals("2", c.narrow.get(2002));
        assertEquals("a.jar;bin\\b.dll", c.narrow.get(2003));
        assertEquals(dir.resolve("sub/b.dll"), c.includedFiles.get(1).source);

        PayloadContent raw = content("{'includedFiles': [{'name': 'a.jar', 'source': 'a.jar'}],"
                + " 'keys': {'2002': '7'}}");
        assertEquals("7", raw.narrow.get(2002));
    }

    @Test
    void absoluteSourcesAndUnextractedDataResolve() throws Exception {
        Path data = file(dir, "data/tail.bin", new byte[3]);
        PayloadContent c = content("{'unextractedData': 'data/tail.bin', 'integrityCheck': true}");
        assertEquals(data, c.unextractedData);
        assertTrue(c.integrityCheck);

        String absolute = data.toAbsolutePath().toString().replace("\\", "\\\\");
        assertEquals(data.toAbsolutePath(), content("{'unextractedData': '" + absolute + "'}").unextractedData);
    }

    @Test
    void languagesKeepTheirOrderAndSkipNullEntries() throws Exception {
        PayloadContent c = content("{'languages': {'pt_BR': {'20012': 'Cancelar'}, 'de': {'20012': 'Abbrechen',"
                + " '20013': null}, '': {'20001': 'x'}}}");
        List<String> prefixes = new ArrayList<>();
        for (PayloadContent.LanguageBlock block : c.languages) {
            prefixes.add(block.prefix);
        }
        assertEquals(Arrays.asList("pt_BR", "de", ""), prefixes);
        assertEquals(Collections.singleton(20012), c.languages.get(1).entries.keySet());
    }

    static Stream<Arguments> refusedConfigs() {
        return Stream.of(
                Arguments.of("unknown setting", "{'mainclass': 'x'}",
                        "unknown setting \"mainclass\"; did you mean mainClass? known settings are "),
                Arguments.of("unknown setting nothing like any", "{'colour': 'x'}",
                        "unknown setting \"colour\"; known settings are "),
                Arguments.of("min version not a version", "{'minJavaVersion': 'banana'}",
                        "\"minJavaVersion\": \"banana\" is not a Java version"),
                Arguments.of("max version with a blank", "{'maxJavaVersion': '11 '}",
                        "\"maxJavaVersion\": \"11 \" is not a Java version"),
                Arguments.of("raw min version", "{'keys': {'126': 'latest'}}", "keys.126: \"latest\" is not a"),
                Arguments.of("empty range", "{'minJavaVersion': '17', 'maxJavaVersion': '11'}",
                        "\"minJavaVersion\" \"17\" lies above \"maxJavaVersion\" \"11\""),
                Arguments.of("empty range of old and new numbering",
                        "{'minJavaVersion': '9', 'keys': {'127': '1.8.0_202'}}",
                        "\"minJavaVersion\" \"9\" lies above keys.127 \"1.8.0_202\""),
                Arguments.of("unpinned http download", "{'runtimeDownloadUrl': 'http://example.com/jre.tar.gz'}",
                        "\"runtimeDownloadUrl\" \"http://example.com/jre.tar.gz\" is a plain download"),
                Arguments.of("unpinned raw http download", "{'keys': {'150': 'HTTP://example.com/jre.tar.gz'}}",
                        "keys.150 \"HTTP://example.com/jre.tar.gz\" is a plain download"),
                Arguments.of("unpinned ftp download", "{'runtimeDownloadUrl': 'ftp://example.com/jre.tar.gz'}",
                        "\"runtimeDownloadUrl\" \"ftp://example.com/jre.tar.gz\" is a plain download"),
                Arguments.of("raw pin not a hash", "{'runtimeDownloadUrl': 'http://example.com/jre.tar.gz',"
                        + " 'keys': {'162': 'abc'}}", "keys.162 must be 64 hexadecimal digits"),
                Arguments.of("not an object", "[1]", "must be a JSON object"),
                Arguments.of("narrow key in a language", "{'languages': {'de': {'1016': 'x'}}}",
                        "language \"de\": key 1016 cannot be localized"),
                Arguments.of("wrong type", "{'applicationName': 3}", "\"applicationName\" must be a string"),
                Arguments.of("unknown application type", "{'applicationType': 'window'}", "\"gui\", \"console\""),
                Arguments.of("fractional application type", "{'applicationType': 1.5}", "whole number"),
                Arguments.of("unknown flavor", "{'flavor': 'x'}", "\"q\" or \"t\""),
                Arguments.of("message key out of range", "{'messages': {'999': 'x'}}", "takes keys 1000 to 1020"),
                Arguments.of("localized key out of range", "{'localizedTexts': {'1000': 'x'}}", "20001 and up"),
                Arguments.of("key not decimal", "{'keys': {'0x10': 'x'}}", "not a decimal key"),
                Arguments.of("key too large", "{'keys': {'2147483648': 'x'}}", "does not fit in 32 bits"),
                Arguments.of("raw value not text", "{'keys': {'101': 1}}", "keys.101 must be a string"),
                Arguments.of("class path type", "{'classPath': [{'type': 'X', 'value': 'a'}]}", "classPath[0].type"),
                Arguments.of("class path separator", "{'classPath': [{'type': 'A', 'value': 'a;b'}]}",
                        "must not contain \";\""),
                Arguments.of("class path typo", "{'classPath': [{'type': 'A', 'requierd': true, 'value': 'a'}]}",
                        "unknown field \"requierd\"; did you mean required? expected type, required, value"),
                Arguments.of("class path item kind", "{'classPath': [1]}", "must be a string or an object"),
                Arguments.of("search entry without value", "{'searchSequence': [{'type': 'A'}]}",
                        "must not be empty for type \"A\""),
                Arguments.of("word with both quotes", "{'jvmOptions': ['-Da=\\\"it\\u0027s\\\"']}",
                        "both a double and a single quote"),
                Arguments.of("missing included file", "{'includedFiles': [{'name': 'a', 'source': 'none.jar'}]}",
                        "source"),
                Arguments.of("missing unextracted data", "{'unextractedData': 'none.bin'}", "unextractedData"),
                Arguments.of("integrity check type", "{'integrityCheck': 'yes'}", "true or false"),
                Arguments.of("empty error log", "{'errorLog': ''}", "\"errorLog\" must name a file"),
                Arguments.of("output log type", "{'outputLog': true}", "\"outputLog\" must be a string"),
                Arguments.of("append type", "{'appendToLogs': 1}", "\"appendToLogs\" must be true or false"),
                Arguments.of("-J flag type", "{'jvmOptionsFromCommandLine': 'yes'}",
                        "\"jvmOptionsFromCommandLine\" must be true or false"),
                Arguments.of("installation type", "{'installationDirectory': ['a']}",
                        "\"installationDirectory\" must be a string"),
                Arguments.of("20005 with %s", "{'localizedTexts': {'20005': 'Need %s-bit'}}", "key 20005"),
                Arguments.of("20006 with two arguments", "{'wideKeys': {'20006': '%S %S'}}", "more than 1"),
                Arguments.of("20008 with %d", "{'localizedTexts': {'20008': '%d of %d'}}", "key 20008"),
                Arguments.of("20008 in a language", "{'languages': {'fr': {'20008': '%s'}}}", "in language \"fr\""),
                Arguments.of("20008 with five numbers", "{'localizedTexts': {'20008': '%f%f%f%f%f'}}",
                        "more than 4"),
                Arguments.of("dangling percent", "{'localizedTexts': {'20005': '100%'}}", "key 20005"));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("refusedConfigs")
    void refusesConfigsWithAClearReason(String name, String config, String message) {
        PackerException e = assertThrows(PackerException.class, () -> load(config));
        assertTrue(e.getMessage().contains(message), e.getMessage());
        assertTrue(e.getMessage().startsWith(dir.resolve("config.json").toString()), e.getMessage());
    }

    @ParameterizedTest(name = "[{0}]")
    @CsvSource(delimiter = '|', quoteCharacter = '`', value = {
        "''              | empty",
        "a/b.jar         | write the subdirectory",
        "a;b.jar         | separates the names",
        "a?.jar          | does not allow",
        "a\\\\b\\\\c.jar | more than one",
        "\\\\a.jar       | optionally with one subdirectory",
        "lib\\\\         | optionally with one subdirectory",
        "..\\\\a.jar     | optionally with one subdirectory",
        "\u0100.jar      | narrow text",
    })
    void refusesIncludedFileNamesTheLauncherCannotExtract(String name, String message) throws Exception {
        file(dir, "f", new byte[0]);
        String shown = name.equals("''") ? "" : name;
        PackerException e = assertThrows(PackerException.class,
                () -> load("{'includedFiles': [{'name': '" + shown + "', 'source': 'f'}]}"));
        assertTrue(e.getMessage().contains(message), e.getMessage());
    }

    @Test
    void refusesTheSameIncludedNameTwiceIgnoringCase() throws Exception {
        file(dir, "f", new byte[0]);
        PackerException e = assertThrows(PackerException.class, () -> load(
                "{'includedFiles': [{'name': 'App.jar', 'source': 'f'}, {'name': 'app.JAR', 'source': 'f'}]}"));
        assertTrue(e.getMessage().contains("used twice"), e.getMessage());
    }

    @ParameterizedTest(name = "{0}")
    @ValueSource(strings = {"CON", "nul.txt", "lib\\\\Aux.jar", "COM1", "lpt9.log", "Prn .x"})
    void refusesIncludedNamesThatAreDevices(String name) throws Exception {
        file(dir, "f", new byte[0]);
        PackerException e = assertThrows(PackerException.class, () -> load(
                "{'includedFiles': [{'name': '" + name + "', 'source': 'f'}]}"));
        assertTrue(e.getMessage().contains("Windows device name"), e.getMessage());
    }

    @ParameterizedTest(name = "{0}")
    @ValueSource(strings = {"CONSOLE.txt", "null", "COM10", "lib\\\\lpt.jar", "con1.dll"})
    void acceptsNamesThatOnlyLookLikeDevices(String name) throws Exception {
        file(dir, "f", new byte[0]);
        load("{'includedFiles': [{'name': '" + name + "', 'source': 'f'}]}");
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', quoteCharacter = '`', value = {
        "20005 | Need %S-bit Java (100%%)",
        "20005 | Need %hs-bit Java",
        "20006 | No runtime at all",
        "20008 | %.1f MB of %.1f MB (%3.0f%%), %lf kB/s",
        "20008 | %e",
    })
    void acceptsFormatsThatMatchTheirArguments(int key, String text) throws Exception {
        assertEquals(text, content("{'localizedTexts': {'" + key + "': '" + text + "'}}").wide.get(key));
    }

    @Test
    void warnsAboutValuesTheLauncherCutsShort() throws Exception {
        StringBuilder word = new StringBuilder();
        for (int i = 0; i < 2000; i++) {
            word.append('x');
        }
        PackerConfig config = load("{'arguments': ['" + word + "'], 'mainClass': '" + word + "'}");
        assertEquals(1, config.warnings().size(), config.warnings().toString());
        assertTrue(config.warnings().get(0).startsWith("key 124 has 2000 characters"));
    }

    @Test
    void syntaxErrorsNameFileLineAndColumn() throws Exception {
        Path file = config(dir, "{\n  'a': 1,\n}");
        PackerException e = assertThrows(PackerException.class, () -> PackerConfig.load(file));
        assertEquals(file + ":3:1: unexpected character '}', expected a member name in double quotes",
                e.getMessage());
    }

    @Test
    void nullNamedSettingsCountAsUnset() throws Exception {
        PayloadContent c = content("{'applicationName': null, 'flavor': null, 'classPath': null}");
        assertNull(c.narrow.get(101));
        assertEquals("q", c.narrow.get(2001));
        assertNull(c.narrow.get(121));
    }

    /** Words must come back unchanged from the launcher's command-line splitting. */
    @ParameterizedTest(name = "{0}")
    @MethodSource("wordLists")
    void joinedWordsSplitBackUnchanged(List<String> words) {
        assertEquals(words, split(PackerConfig.joinCommandLine(words)));
    }

    static Stream<List<String>> wordLists() {
        return Stream.of(
                Arrays.asList("-Xmx512m", "-Dx=1"),
                Arrays.asList("two words", "  leading and trailing  ", "a  b"),
                Arrays.asList("-Dq=\"quoted\"", "it's", "\"", "'"),
                Arrays.asList("", "x", ""),
                Arrays.asList("back\\slash\\", "tab\there", "-Dp=C:\\Program Files\\x"),
                Arrays.asList("'single' quoted", "\"double\" quoted"));
    }

    /** The launcher expands before it splits: a word with a reference is quoted whole. */
    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', value = {
        "-Dapp.home=${launcher:sys.launcherDirectory} | \"-Dapp.home=${launcher:sys.launcherDirectory}\"",
        "${TMP}\\x.log | \"${TMP}\\x.log\"",
        "%QUILLON_EXEDIR%lib | \"%QUILLON_EXEDIR%lib\"",
        "%TARVO_TEMPDIR% | \"%TARVO_TEMPDIR%\"",
        "50% | 50%",
    })
    void quotesEveryWordWithAVariableReference(String word, String joined) {
        assertEquals(joined, PackerConfig.joinCommandLine(Collections.singletonList(word)));
        String value = "C:\\Program Files\\Gr\u00fc\u00dfe \u00c4pp\\";
        String expanded = joined.replace("${launcher:sys.launcherDirectory}", value).replace("${TMP}", value)
                .replace("%QUILLON_EXEDIR%", value).replace("%TARVO_TEMPDIR%", value);
        assertEquals(1, split(expanded).size(), expanded);
    }

    @Test
    void joinRefusesAWordWithBothQuotes() {
        assertThrows(IllegalArgumentException.class,
                () -> PackerConfig.joinCommandLine(Collections.singletonList("a'b\"c")));
    }

    /** The launcher's splitting: blanks separate, a quote runs to the next same quote, no escapes. */
    static List<String> split(String text) {
        List<String> out = new ArrayList<>();
        int p = 0;
        while (p < text.length()) {
            int dq = text.indexOf('"', p);
            // A single quote groups only where it opens a word.
            int sq = text.charAt(p) == '\'' ? p : -1;
            int sp = text.indexOf(' ', p);
            if (text.charAt(p) == ' ') {
                p++;
            } else if (sp >= 0 && (dq < 0 || sp < dq) && (sq < 0 || sp < sq)) {
                out.add(text.substring(p, sp));
                p = sp + 1;
            } else if (dq >= 0 && (sq < 0 || dq < sq)) {
                p = quoted(text, p, dq, out);
            } else if (sq >= 0) {
                p = quoted(text, p, sq, out);
            } else {
                out.add(text.substring(p));
                p = text.length();
            }
        }
        return out;
    }

    private static int quoted(String text, int p, int open, List<String> out) {
        int close = text.indexOf(text.charAt(open), open + 1);
        if (close < 0) {
            close = text.length();
        }
        out.add(text.substring(p, open) + text.substring(open + 1, close));
        if (close >= text.length()) {
            return close;
        }
        return close + 1 < text.length() && text.charAt(close + 1) == ' ' ? close + 2 : close + 1;
    }

    @Test
    void downloadSha256FromTextOrFromALocalCopy() throws Exception {
        String hex = "ABCDEF0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789";
        assertEquals(hex.toLowerCase(java.util.Locale.ROOT),
                content("{'runtimeDownloadSha256': '" + hex + "'}").narrow.get(162));
        file(dir, "jre.tar.gz", "abc".getBytes(java.nio.charset.StandardCharsets.US_ASCII));
        assertEquals("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
                content("{'runtimeDownloadPinFrom': 'jre.tar.gz'}").narrow.get(162));
        assertFalse(content("{}").narrow.containsKey(162));
        for (String bad : new String[] {"{'runtimeDownloadSha256': 'abc'}",
                "{'runtimeDownloadSha256': '" + hex + "0'}", "{'runtimeDownloadPinFrom': 'missing.tar.gz'}",
                "{'runtimeDownloadSha256': 5}"}) {
            assertThrows(PackerException.class, () -> content(bad), bad);
        }
    }

    @ParameterizedTest(name = "[{0}] to [{1}]")
    @CsvSource(delimiter = '|', value = {
        "1.8      | 1.8",
        "1.8.0_20 | 1.8",
        "1.8      | 1.8.0_20",
        "1.8      | 9",
        "11       | 17",
        "17-ea    | 17",
        "1.8.     | 1.8",
        "11.0.2+9 | ''",
        "''       | 1.7.0_45",
    })
    void acceptsVersionRangesThatHoldAVersion(String min, String max) throws Exception {
        PayloadContent c = content("{'minJavaVersion': '" + min + "', 'maxJavaVersion': '" + max + "'}");
        assertEquals(min, c.narrow.get(126));
        assertEquals(max, c.narrow.get(127));
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', quoteCharacter = '`', value = {
        "pinned http      | {'runtimeDownloadUrl': 'http://example.com/j.tar.gz', 'runtimeDownloadSha256': '"
                + "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef'}                    | false",
        "pinned raw http  | {'keys': {'150': 'http://example.com/j.tar.gz', '162': '"
                + "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef'}}                   | false",
        "unpinned https   | {'runtimeDownloadUrl': 'https://example.com/j.tar.gz'}                        | true",
        "unpinned raw https | {'keys': {'150': 'HTTPS://example.com/j.tar.gz'}}                           | true",
        "pinned https     | {'runtimeDownloadUrl': 'https://example.com/j.tar.gz', 'runtimeDownloadSha256': '"
                + "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef'}                    | false",
        "no download      | {'keys': {'150': ''}}                                                         | false",
    })
    void downloadsArePackedWithAWarningOnlyWhenHttpsLacksAPin(String name, String json, boolean warns)
            throws Exception {
        List<String> warnings = load(json).warnings();
        assertEquals(warns, warnings.stream().anyMatch(w -> w.contains("has no SHA-256 pin")), warnings.toString());
    }
}
