package com.quillon.packer;

import static com.quillon.packer.TestFiles.config;
import static com.quillon.packer.TestFiles.file;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Collections;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** The product settings as the config reader takes them, and the resources they make. */
class ProductSettingsTest {

    @TempDir
    Path dir;

    private ProductSettings load(String json) throws Exception {
        return PackerConfig.load(config(dir, json)).product();
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', quoteCharacter = '`', value = {
        "version with five numbers  | {'versionInfo': {'fileVersion': '1.2.3.4.5'}}      | more than four numbers",
        "version number too large   | {'versionInfo': {'fileVersion': '1.65536'}}        | 0 to 65535",
        "version with letters       | {'versionInfo': {'fileVersion': '1.2-beta'}}       | 0 to 65535",
        "version without fileVersion| {'versionInfo': {'productName': 'X'}}              | needs \"fileVersion\"",
        "unknown version field      | {'versionInfo': {'fileVersion': '1', 'year': '1'}} | unknown field \"year\"",
        "unknown execution level    | {'executionLevel': 'admin'}                        | must be one of",
        "level with own manifest    | {'executionLevel': 'asInvoker', 'manifest': {'file': 'm.xml'}} | not into",
        "level without manifest     | {'executionLevel': 'asInvoker', 'manifest': false} | needs a manifest",
        "missing manifest file      | {'manifest': {'file': 'none.xml'}}                 | does not exist",
        "level inside own manifest  | {'manifest': {'file': 'm.xml', 'executionLevel': 'asInvoker'}} | not into",
        "unknown level inside       | {'manifest': {'executionLevel': 'admin'}}          | \"manifest.executionLevel\" must be one of",
        "two different levels       | {'executionLevel': 'asInvoker', 'manifest': {'executionLevel': 'requireAdministrator'}} | give one of them",
        "empty manifest object      | {'manifest': {}}                                   | needs \"file\" or \"executionLevel\"",
        "misspelt manifest field    | {'manifest': {'executionlevel': 'asInvoker'}}      | did you mean executionLevel?",
        "unknown subsystem          | {'subsystem': 'native'}                            | \"gui\" or \"console\"",
        "icon of another format     | {'icon': 'm.xml'}                                  | neither an .ico nor a .png",
        "signing without password   | {'signing': {'keystore': 'm.xml', 'alias': 'a'}}   | needs \"password\"",
        "signing with both          | {'signing': {'keystore': 'm.xml', 'alias': 'a', 'password': 'p', 'passwordEnv': 'P'}} | not both",
        "signing without keystore   | {'signing': {'alias': 'a', 'password': 'p'}}       | signing.keystore must be",
    })
    void refusals(String name, String json, String message) throws Exception {
        file(dir, "m.xml", "<assembly/>".getBytes(StandardCharsets.UTF_8));
        PackerException e = assertThrows(PackerException.class, () -> load(json));
        assertTrue(e.getMessage().contains(message), e.getMessage());
    }

    @Test
    void theDefaultManifestIsWrittenAsResourceOne() throws Exception {
        ProductSettings p = load("{}");
        assertEquals(1, p.resources.size());
        ResourceWriter.Resource manifest = p.resources.get(0);
        assertEquals(PeResources.Id.of(Manifests.RT_MANIFEST), manifest.type);
        assertEquals(PeResources.Id.of(1), manifest.id);
        assertEquals("executionLevel=asInvoker, dpiAwareness=PerMonitorV2, PerMonitor, dpiAware=true/pm,"
                + " longPathAware=true, commonControls6=yes", Manifests.summary(manifest.data));
        assertEquals(0, load("{'manifest': false}").resources.size());
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', value = {
        "top level           | {'executionLevel': 'requireAdministrator'}                                     ",
        "inside the manifest | {'manifest': {'executionLevel': 'requireAdministrator'}}                       ",
        "both, the same      | {'executionLevel': 'requireAdministrator', 'manifest': {'executionLevel': 'requireAdministrator'}}",
    })
    void theExecutionLevelGoesIntoThePackersManifestFromEitherPlace(String name, String json) throws Exception {
        ProductSettings p = load(json);
        assertEquals(1, p.resources.size());
        assertTrue(Manifests.summary(p.resources.get(0).data).startsWith("executionLevel=requireAdministrator, "));
    }

    @Test
    void versionInfoLaysOutTheFixedPartAndTheStrings() throws Exception {
        byte[] v = load("{'manifest': false, 'versionInfo': {'fileVersion': '1.2.3.4', 'productName': 'P'}}")
                .resources.get(0).data;
        ByteBuffer b = ByteBuffer.wrap(v).order(ByteOrder.LITTLE_ENDIAN);
        assertEquals(v.length, b.getShort(0) & 0xFFFF, "wLength of the root");
        assertEquals(52, b.getShort(2), "VS_FIXEDFILEINFO size");
        int fixed = 6 + 2 * "VS_VERSION_INFO".length() + 2 + 2; // key, terminator, padding to 4
        assertEquals(0xFEEF04BD, b.getInt(fixed));
        assertEquals(0x00010002, b.getInt(fixed + 8));
        assertEquals(0x00030004, b.getInt(fixed + 12));
        assertEquals(0x00010002, b.getInt(fixed + 16), "product version defaults to the file version");
        String text = new String(v, StandardCharsets.UTF_16LE);
        for (String part : new String[] {"StringFileInfo", "040904B0", "ProductName", "P\0", "FileVersion",
                "1.2.3.4\0", "VarFileInfo", "Translation"}) {
            assertTrue(text.contains(part), part);
        }
    }

    @Test
    void aPngBecomesFiveIconSizes() throws Exception {
        java.awt.image.BufferedImage image = new java.awt.image.BufferedImage(40, 20,
                java.awt.image.BufferedImage.TYPE_INT_ARGB);
        image.setRGB(39, 10, 0xFF336699);
        java.io.ByteArrayOutputStream png = new java.io.ByteArrayOutputStream();
        javax.imageio.ImageIO.write(image, "png", png);
        byte[] ico = Icons.fromPng(png.toByteArray(), "test");
        ByteBuffer b = ByteBuffer.wrap(ico).order(ByteOrder.LITTLE_ENDIAN);
        assertEquals(5, b.getShort(4));
        int[] sides = new int[5];
        for (int i = 0; i < 5; i++) {
            sides[i] = (b.get(6 + 16 * i) & 0xFF) == 0 ? 256 : b.get(6 + 16 * i) & 0xFF;
            int size = b.getInt(6 + 16 * i + 8);
            int offset = b.getInt(6 + 16 * i + 12);
            if (sides[i] == 256) {
                assertEquals((byte) 0x89, ico[offset], "256 is stored as PNG");
            } else {
                assertEquals(40 + sides[i] * sides[i] * 4 + ((sides[i] + 31) / 32) * 4 * sides[i], size);
                assertEquals(2 * sides[i], b.getInt(offset + 8), "double height: colour and mask");
            }
        }
        assertArrayEquals(Icons.SIZES, sides);
    }

    @Test
    void subsystemIsOnlySwitchedBetweenGuiAndConsole() throws Exception {
        byte[] stub = BadInputTest.stub();
        ByteBuffer b = ByteBuffer.wrap(stub).order(ByteOrder.LITTLE_ENDIAN);
        int optional = PeFixture.PE_OFFSET + 24;
        b.putInt(optional + 16, 0x1000); // entry point in the first section
        b.putShort(optional + 68, (short) PeHeaders.SUBSYSTEM_GUI);
        byte[] console = stub.clone();
        ResourceWriter.setSubsystem(console, PeHeaders.SUBSYSTEM_CONSOLE);
        assertEquals(PeHeaders.SUBSYSTEM_CONSOLE, ByteBuffer.wrap(console).order(ByteOrder.LITTLE_ENDIAN)
                .getShort(optional + 68));

        byte[] efi = stub.clone();
        ByteBuffer.wrap(efi).order(ByteOrder.LITTLE_ENDIAN).putShort(optional + 68, (short) 10);
        PackerException e = assertThrows(PackerException.class,
                () -> ResourceWriter.setSubsystem(efi, PeHeaders.SUBSYSTEM_CONSOLE));
        assertTrue(e.getMessage().contains("neither GUI (2) nor console (3)"), e.getMessage());

        byte[] noEntry = stub.clone();
        ByteBuffer.wrap(noEntry).order(ByteOrder.LITTLE_ENDIAN).putInt(optional + 16, 0x9000);
        e = assertThrows(PackerException.class, () -> ResourceWriter.setSubsystem(noEntry, 3));
        assertTrue(e.getMessage().contains("lies in no section"), e.getMessage());
    }

    @Test
    void packWritesTheProductResourcesBeforeTheRawOnes() throws Exception {
        Path stub = Files.write(dir.resolve("stub.exe"), BadInputTest.stub());
        file(dir, "own.bin", new byte[] {7});
        Path config = config(dir, "{'versionInfo': {'fileVersion': '1.0'},"
                + " 'resources': [{'type': 'RCDATA', 'id': 3, 'source': 'own.bin'}]}");
        Path out = dir.resolve("out.exe");
        assertEquals(Collections.emptyList(), Packer.pack(config, stub, out));
        PeResources r = ResourceWriter.read(out);
        assertArrayEquals(new byte[] {7}, r.get(PeResources.Id.of(PeResources.RT_RCDATA), PeResources.Id.of(3), 0));
        assertTrue(r.get(PeResources.Id.of(VersionInfo.RT_VERSION), PeResources.Id.of(1), 0).length > 100);
        assertTrue(r.get(PeResources.Id.of(Manifests.RT_MANIFEST), PeResources.Id.of(1), 0).length > 100);
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', quoteCharacter = '`', value = {
        "no runtime library        | {'mainClass': 'a.B', 'classPath': ['A1lib\\\\app.jar']}          | true",
        "tarvo flavor              | {'mainClass': 'a.B', 'flavor': 't'}                           | true",
        "runtime as included file  | {'mainClass': 'a.B', 'includedFiles': [{'name': 'runtime.jar', 'source': 'm.xml'}]} | false",
        "runtime as archive entry  | {'mainClass': 'a.B', 'classPath': [{'type': 'A', 'value': 'lib\\\\qlnruntime.jar'}]} | false",
        "a scanned directory       | {'mainClass': 'a.B', 'classPath': [{'type': 'S', 'value': 'lib'}]} | false",
        "no main class             | {'classPath': ['A1app.jar']}                                  | false",
    })
    void warnsWhenTheClassPathCannotHoldTheRuntimeLibrary(String name, String json, boolean warns) throws Exception {
        file(dir, "m.xml", new byte[] {1});
        Path stub = Files.write(dir.resolve("stub.exe"), BadInputTest.stub());
        java.util.List<String> warnings = Packer.pack(config(dir, json), stub, dir.resolve("out.exe"));
        assertEquals(warns, warnings.stream().anyMatch(w -> w.contains("does not name the runtime library")),
                warnings.toString());
        if (warns) {
            assertTrue(warnings.get(0).contains(json.contains("'t'") ? "com.tarvo.runtime.WinLauncher"
                    : "com.quillon.runtime.launcher.WinLauncher"), warnings.get(0));
            assertTrue(warnings.get(0).contains("add runtime.jar"), warnings.get(0));
        }
    }

    @Test
    void inspectShowsTypesVersionManifestSubsystemAndSignature() throws Exception {
        Path stub = Files.write(dir.resolve("stub.exe"), BadInputTest.stub());
        byte[] bytes = Files.readAllBytes(stub);
        ByteBuffer b = ByteBuffer.wrap(bytes).order(ByteOrder.LITTLE_ENDIAN);
        b.putInt(PeFixture.PE_OFFSET + 24 + 16, 0x1000).putShort(PeFixture.PE_OFFSET + 24 + 68, (short) 2);
        Files.write(stub, bytes);
        Path config = config(dir, "{'subsystem': 'console', 'executionLevel': 'highestAvailable',"
                + " 'versionInfo': {'fileVersion': '3.1', 'productName': 'Demo'}}");
        Path out = dir.resolve("out.exe");
        Packer.pack(config, stub, out);
        java.io.ByteArrayOutputStream text = new java.io.ByteArrayOutputStream();
        java.io.PrintStream print = new java.io.PrintStream(text, true, "UTF-8");
        assertEquals(Main.EXIT_OK, Main.run(new String[] {"inspect", out.toString()}, print, print));
        String shown = text.toString("UTF-8");
        for (String expected : new String[] {"subsystem:        console", "  fixedFileVersion = 3.1.0.0",
                "  ProductName = Demo", "manifest:         executionLevel=highestAvailable", "signature:        none",
                "  RT_VERSION (16): 1", "  RT_MANIFEST (24): 1"}) {
            assertTrue(shown.contains(expected), "missing [" + expected + "] in\n" + shown);
        }
        text.reset();
        assertEquals(Main.EXIT_OK, Main.run(new String[] {"inspect", "--json", out.toString()}, print, print));
        java.util.Map<?, ?> root = (java.util.Map<?, ?>) Json.parse(text.toString("UTF-8"));
        assertEquals("console", root.get("subsystem"));
        assertEquals(Boolean.FALSE, root.get("signed"));
        assertEquals("Demo", ((java.util.Map<?, ?>) root.get("versionInfo")).get("ProductName"));
        assertEquals("highestAvailable", ((java.util.Map<?, ?>) root.get("manifest")).get("executionLevel"));
    }
}
