package com.quillon.packer;

import static com.quillon.packer.TestFiles.config;
import static com.quillon.packer.TestFiles.file;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.PrintStream;
import java.io.RandomAccessFile;
import java.io.UnsupportedEncodingException;
import java.math.BigDecimal;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.stream.Stream;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

class MainTest {

    @TempDir
    Path dir;
    Path stub;
    Path out;

    private int exitCode;
    private String stdout;
    private String stderr;

    @BeforeEach
    void setUp() throws IOException {
        stub = PeFixture.stub().write(dir.resolve("stub.exe"));
        out = dir.resolve("out.exe");
    }

    private void run(String... args) throws UnsupportedEncodingException {
        ByteArrayOutputStream o = new ByteArrayOutputStream();
        ByteArrayOutputStream e = new ByteArrayOutputStream();
        exitCode = Main.run(args, new PrintStream(o, true, "UTF-8"), new PrintStream(e, true, "UTF-8"));
        stdout = new String(o.toByteArray(), StandardCharsets.UTF_8);
        stderr = new String(e.toByteArray(), StandardCharsets.UTF_8);
    }

    private void pack(Path config) throws UnsupportedEncodingException {
        run("pack", "--stub", stub.toString(), "--config", config.toString(), "--out", out.toString());
    }

    @Test
    void inspectJsonDescribesThePackedFile() throws Exception {
        file(dir, "app.jar", new byte[] {9, 9});
        file(dir, "empty", new byte[0]);
        file(dir, "tail.bin", new byte[] {1, 2, 3, 4});
        pack(config(dir, "{'applicationName': 'Demo', 'integrityCheck': true, 'manifest': false,"
                + " 'keys': {'150': 'Caf\u00e9'},"
                + " 'languages': {'fr': {'20012': 'Annuler'}, 'de': {'20012': 'Abbrechen'}},"
                + " 'includedFiles': [{'name': 'app.jar', 'source': 'app.jar'}, {'name': 'e\\\\empty', 'source': 'empty'}],"
                + " 'unextractedData': 'tail.bin'}"));
        assertEquals(0, exitCode, stderr);
        assertTrue(stdout.startsWith("packed "), stdout);

        run("inspect", "--json", out.toString());
        assertEquals(0, exitCode, stderr);
        Map<?, ?> root = (Map<?, ?>) Json.parse(stdout);

        assertEquals(new BigDecimal(0x400), root.get("payloadOffset"));
        assertEquals(BigDecimal.ONE, root.get("checkFlag"));
        assertEquals(root.get("crcStored"), root.get("crcComputed"));
        assertEquals(Boolean.TRUE, root.get("crcMatches"));
        assertEquals(new BigDecimal(Files.size(out) - 0x400 - 20), root.get("coveredLength"));
        Map<?, ?> keys = (Map<?, ?>) root.get("keys");
        assertEquals("Demo", keys.get("101"));
        assertEquals("Caf\u00e9", keys.get("150"));
        assertEquals("2", keys.get("2002"));
        assertEquals("Demo Setup", ((Map<?, ?>) root.get("wideKeys")).get("20013"));
        List<?> languages = (List<?>) root.get("languages");
        assertEquals("fr", ((Map<?, ?>) languages.get(0)).get("prefix"));
        assertEquals("Abbrechen", ((Map<?, ?>) ((Map<?, ?>) languages.get(1)).get("entries")).get("20012"));
        List<?> files = (List<?>) root.get("includedFiles");
        assertEquals("e\\empty", ((Map<?, ?>) files.get(1)).get("name"));
        assertEquals(BigDecimal.ZERO, ((Map<?, ?>) files.get(1)).get("size"));
        assertEquals(new BigDecimal(2), ((Map<?, ?>) files.get(0)).get("size"));
        assertEquals(new BigDecimal(4), root.get("unextractedLength"));
    }

    @Test
    void inspectTextListsEverything() throws Exception {
        pack(config(dir, "{'mainClass': 'a.B', 'manifest': false, 'languages': {'de': {'20012': 'Abbrechen'}}}"));
        run("inspect", out.toString());
        assertEquals(0, exitCode, stderr);
        for (String expected : new String[] {"payload offset:   1024", "check flag:       0", "(matches)",
                "  122 = a.B", "  2001 = q", "  \"de\" (1 entries)", "    20012 = Abbrechen", "included files (0):",
                "unextracted data: 0 bytes", "1006 = A file that the application needs was not found:\\n{0}"}) {
            assertTrue(stdout.contains(expected), "missing [" + expected + "] in\n" + stdout);
        }
    }

    static Stream<Arguments> narrowTexts() {
        return Stream.of(
                Arguments.of(new byte[] {'a', 'b'}, "ab"),
                Arguments.of(new byte[] {'D', (byte) 0xE9}, "D\u00e9"),
                Arguments.of(new byte[] {(byte) 0xC3, (byte) 0xA9}, "\u00e9"),
                Arguments.of(new byte[] {(byte) 0xE2, (byte) 0x82}, "\u00e2\u0082"));
    }

    @ParameterizedTest
    @MethodSource("narrowTexts")
    void narrowTextShowsAsUtf8OrElseByteForByte(byte[] bytes, String shown) {
        assertEquals(shown, PayloadReader.decodeNarrow(bytes));
    }

    static Stream<Arguments> refusals() {
        return Stream.of(
                Arguments.of("unreadable stub", "missing.exe", "{}", "cannot read"),
                Arguments.of("stub is not PE", "text.exe", "{}", "is not a Windows executable"),
                Arguments.of("stub with symbols", "symbols.exe", "{}", "link the stub with -s"),
                Arguments.of("malformed JSON", "stub.exe", "{\n 'a' 1}", "config.json:2:6: unexpected character"),
                Arguments.of("unknown setting", "stub.exe", "{'appName': 'x'}", "unknown setting \"appName\""),
                Arguments.of("missing included file", "stub.exe",
                        "{'includedFiles': [{'name': 'a.jar', 'source': 'gone.jar'}]}", "gone.jar does not exist"),
                Arguments.of("missing unextracted data", "stub.exe", "{'unextractedData': 'gone.bin'}",
                        "gone.bin does not exist"),
                Arguments.of("narrow value beyond Latin-1", "stub.exe", "{'applicationName': 'Caf\u00e9 \u03a9'}",
                        "key 101: character '\u03a9' (U+03A9)"),
                Arguments.of("raw narrow value beyond Latin-1", "stub.exe", "{'keys': {'10111': '\u20ac'}}",
                        "key 10111"),
                Arguments.of("language prefix beyond Latin-1", "stub.exe",
                        "{'languages': {'\u0444': {'20012': 'x'}}}", "language prefix"),
                Arguments.of("language override of a narrow key", "stub.exe",
                        "{'languages': {'de': {'101': 'x'}}}", "key 101 cannot be localized"));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("refusals")
    void refusalsExitNonZeroWithOneLineAndNoOutput(String name, String stubName, String config, String message)
            throws Exception {
        Files.write(dir.resolve("text.exe"), "just text, no executable".getBytes(StandardCharsets.US_ASCII));
        PeFixture.stub().symbols(0x400, 3).write(dir.resolve("symbols.exe"));
        stub = dir.resolve(stubName);
        pack(config(dir, config));
        assertEquals(Main.EXIT_FAILED, exitCode);
        assertTrue(stderr.startsWith("packer: error: "), stderr);
        assertTrue(stderr.contains(message), stderr);
        assertEquals(1, stderr.split("\r?\n").length, "one line: " + stderr);
        assertFalse(Files.exists(out));
    }

    @Test
    void refusesAPayloadEndingBeyondFourGigabytes() throws Exception {
        // sparse: takes no disk space, and the size check comes before any byte is read
        try (RandomAccessFile big = new RandomAccessFile(dir.resolve("big.bin").toFile(), "rw")) {
            big.setLength(1L << 32);
        }
        pack(config(dir, "{'includedFiles': [{'name': 'big.bin', 'source': 'big.bin'}]}"));
        assertEquals(Main.EXIT_FAILED, exitCode);
        assertTrue(stderr.contains("beyond 4 GB"), stderr);
        assertFalse(Files.exists(out));
    }

    static Stream<Arguments> usageErrors() {
        return Stream.of(
                Arguments.of(new String[0], "usage:"),
                Arguments.of(new String[] {"unpack"}, "unknown command \"unpack\""),
                Arguments.of(new String[] {"pack", "--stub", "a.exe", "--config", "c.json"}, "pack needs --out"),
                Arguments.of(new String[] {"pack", "--stub"}, "--stub needs a value"),
                Arguments.of(new String[] {"pack", "--stub", "a", "--stub", "b"}, "--stub is given twice"),
                Arguments.of(new String[] {"pack", "--verbose"}, "unknown argument \"--verbose\""),
                Arguments.of(new String[] {"inspect"}, "inspect needs the launcher file"),
                Arguments.of(new String[] {"inspect", "a.exe", "b.exe"}, "unexpected argument \"b.exe\""));
    }

    @ParameterizedTest
    @MethodSource("usageErrors")
    void usageErrorsExitWithTwo(String[] args, String message) throws Exception {
        run(args);
        assertEquals(Main.EXIT_USAGE, exitCode);
        assertTrue(stderr.contains(message), stderr);
    }

    @Test
    void refusesAnOutputDirectoryThatDoesNotExist() throws Exception {
        out = dir.resolve("no/such/dir/out.exe");
        pack(config(dir, "{}"));
        assertEquals(Main.EXIT_FAILED, exitCode);
        assertTrue(stderr.contains("does not exist"), stderr);
    }

    @Test
    void inspectOfAnUnpackedStubFails() throws Exception {
        run("inspect", stub.toString());
        assertEquals(Main.EXIT_FAILED, exitCode);
        assertTrue(stderr.contains("has no payload"), stderr);
    }

    @Test
    void warningsGoToStandardErrorWithoutFailing() throws Exception {
        char[] longText = new char[6000];
        Arrays.fill(longText, 'x');
        pack(config(dir, "{'keys': {'10111': '" + new String(longText) + "'}}"));
        assertEquals(0, exitCode, stderr);
        assertTrue(stderr.startsWith("packer: warning: key 10111 has 6000 characters"), stderr);
    }
}
