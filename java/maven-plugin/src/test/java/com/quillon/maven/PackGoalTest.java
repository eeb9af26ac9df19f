package com.quillon.maven;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import com.quillon.packer.Json;
import java.awt.image.BufferedImage;
import java.io.ByteArrayInputStream;
import java.io.InputStream;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.security.KeyStore;
import java.security.MessageDigest;
import java.security.cert.Certificate;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collection;
import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import javax.imageio.ImageIO;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/** The pack goal in real Maven builds of src/test/projects/demo, checked with the packer's inspect. */
class PackGoalTest {

    private static final String RUNTIME_JAR = "runtime-" + ChildBuild.VERSION + ".jar";

    @BeforeAll
    static void needsStubs() {
        assumeTrue(ChildBuild.haveStubs(), "the launcher stubs are not built (make native)");
    }

    @Test
    @SuppressWarnings("unchecked")
    void installPacksTheProjectAndCarriesTheExe() throws Exception {
        ChildBuild.Result build = ChildBuild.run("demo", "install",
                "<arguments><argument>--demo</argument><argument>two words</argument></arguments>"
                        + "<keys><property><name>146</name><value>.</value></property></keys>"
                        + "<wideKeys><property><name>20012</name><value>Stop</value></property></wideKeys>"
                        + "<languages><language><prefix>de</prefix><texts><property><name>20012</name>"
                        + "<value>Abbrechen</value></property></texts></language></languages>"
                        + "<resources><resource><type>RCDATA</type><id>7</id><source>extra/notes.txt</source>"
                        + "</resource></resources>",
                "install");
        assertEquals(0, build.exitCode, build.output);
        Path exe = build.project.resolve("target/demo-app-2.5.1.exe");
        Map<String, Object> inspected = ChildBuild.inspect(exe);
        Map<String, Object> keys = (Map<String, Object>) inspected.get("keys");

        // The config file's name stays (the project's name is only a default); the POM's
        // settings win over the file's, the file's other settings stay.
        assertEquals("Named in the config file", keys.get("101"));
        assertEquals("0", keys.get("107"));
        assertEquals("demo.App", keys.get("122"), "Main-Class of the jar");
        assertEquals("-Xmx32m \"-Ddemo.greeting=Hello there\"", keys.get("123"));
        assertEquals("21", keys.get("127"));
        assertEquals("Ajre;Y", keys.get("128"));
        assertEquals("Demo caption", keys.get("1000"));
        assertEquals("1", keys.get("106"), "a named setting through <settings>");
        assertEquals("--demo \"two words\"", keys.get("124"));
        assertEquals(".", keys.get("146"));
        assertEquals("Stop", ((Map<String, Object>) inspected.get("wideKeys")).get("20012"));
        Map<String, Object> german = (Map<String, Object>) ((List<Object>) inspected.get("languages")).get(0);
        assertEquals("de", german.get("prefix"));
        assertEquals(ConfigJson.object("20012", "Abbrechen"), german.get("entries"));
        Map<String, Object> rcdata = (Map<String, Object>) ((List<Object>) inspected.get("resources")).get(0);
        assertEquals(Arrays.asList(10, 7, Files.size(build.project.resolve("extra/notes.txt"))),
                Arrays.asList(((Number) rcdata.get("type")).intValue(), ((Number) rcdata.get("id")).intValue(),
                        ((Number) rcdata.get("size")).longValue()));

        // The jar and its runtime dependencies, not the provided one, then the file's own.
        Path m2 = Paths.get(System.getProperty("user.home"), ".m2", "repository");
        List<Object[]> expected = Arrays.asList(
                new Object[] {"demo-app-2.5.1.jar", build.project.resolve("target/demo-app-2.5.1.jar")},
                new Object[] {"opentest4j-1.3.0.jar", m2.resolve("org/opentest4j/opentest4j/1.3.0/opentest4j-1.3.0.jar")},
                new Object[] {RUNTIME_JAR, ChildBuild.REPO.resolve("com/quillon/runtime/" + ChildBuild.VERSION + "/"
                        + RUNTIME_JAR)},
                new Object[] {"notes.txt", build.project.resolve("extra/notes.txt")});
        List<Object> files = (List<Object>) inspected.get("includedFiles");
        assertEquals(expected.size(), files.size(), files.toString());
        for (int i = 0; i < expected.size(); i++) {
            Map<String, Object> file = (Map<String, Object>) files.get(i);
            assertEquals(expected.get(i)[0], file.get("name"));
            assertEquals(Files.size((Path) expected.get(i)[1]), ((Number) file.get("size")).longValue(),
                    "size of " + file.get("name"));
        }

        // Version information from the POM once the packer writes it; never sent to one that does not.
        Map<String, Object> handed = (Map<String, Object>) Json.parse(new String(
                Files.readAllBytes(build.project.resolve("target/quillon/demo-app-2.5.1.json")), StandardCharsets.UTF_8));
        if (PackerCall.knowsSetting("versionInfo", ChildBuild.IT)) {
            Map<String, Object> info = (Map<String, Object>) handed.get("versionInfo");
            assertEquals("2.5.1.0", info.get("fileVersion"));
            assertEquals("2.5.1.0", info.get("productVersion"));
            assertEquals("Named in the config file", info.get("productName"));
            assertEquals("Example Works", info.get("companyName"));
            assertEquals("A demo for the plugin tests", info.get("fileDescription"));
            assertEquals("demo-app-2.5.1.exe", info.get("originalFilename"));
        } else {
            assertFalse(handed.containsKey("versionInfo"), handed.toString());
        }

        // Attached with classifier and type exe, so install put it into the repository.
        Path installed = ChildBuild.REPO.resolve("com/example/demo-app/2.5.1/demo-app-2.5.1-exe.exe");
        assertTrue(Files.isRegularFile(installed), "installed exe " + installed);
        assertArrayEquals(Files.readAllBytes(exe), Files.readAllBytes(installed));
    }

    @Test
    @SuppressWarnings("unchecked")
    void classPathModeCopiesTheLibrariesBesideTheExe() throws Exception {
        ChildBuild.Result build = ChildBuild.run("demo", "class-path",
                "<includeRuntimeLibrary>false</includeRuntimeLibrary>"
                        + "<classPath><entry><type>S</type><required>true</required><value>plugins</value></entry>"
                        + "<entry><type>E</type><value>EXTRA_CP</value></entry></classPath>"
                        + "<splashScreen><image>extra/splash.bmp</image><autoOff>true</autoOff>"
                        + "<statusText><text>Starting...</text><x>2</x><y>1</y><color>10, 20, 30</color></statusText>"
                        + "</splashScreen>",
                "package", "-Dquillon.libraries=classPath");
        assertEquals(0, build.exitCode, build.output);
        Map<String, Object> inspected = ChildBuild.inspect(build.project.resolve("target/demo-app-2.5.1.exe"));
        Map<String, Object> keys = (Map<String, Object>) inspected.get("keys");
        // The project's jars first, then the entries of the POM.
        assertEquals("A1lib\\demo-app-2.5.1.jar;A1lib\\opentest4j-1.3.0.jar;S1plugins;E0EXTRA_CP", keys.get("121"));
        assertEquals("1", keys.get("108"));
        assertEquals("4", keys.get("141"));
        assertEquals("1", keys.get("145"));
        assertEquals("2", keys.get("10109"));
        assertEquals("Starting...", keys.get("10111"));
        assertEquals("10,20,30", keys.get("10114"));
        Map<String, Object> bitmap = (Map<String, Object>) ((List<Object>) inspected.get("resources")).get(0);
        assertEquals(Arrays.asList(2, 10000), Arrays.asList(((Number) bitmap.get("type")).intValue(),
                ((Number) bitmap.get("id")).intValue()));
        List<String> names = new ArrayList<>();
        for (Object f : (List<Object>) inspected.get("includedFiles")) {
            names.add((String) ((Map<String, Object>) f).get("name"));
        }
        assertEquals(Arrays.asList("notes.txt"), names);
        assertTrue(Files.isRegularFile(build.project.resolve("target/lib/demo-app-2.5.1.jar")));
        assertTrue(Files.isRegularFile(build.project.resolve("target/lib/opentest4j-1.3.0.jar")));
        assertFalse(Files.exists(build.project.resolve("target/lib/" + RUNTIME_JAR)));
    }

    /**
     * What the product settings of the POM put into the exe, read back from the exe: version
     * information from the POM, the icon, the execution level, a bundled runtime, a path among
     * the named settings, and a signature made with the keystore password of a server in
     * settings.xml.
     */
    @Test
    @SuppressWarnings("unchecked")
    void productSettingsLandInTheExe() throws Exception {
        Path inputs = ChildBuild.IT.resolve("product-inputs");
        ChildBuild.deleteTree(inputs);
        Files.createDirectories(inputs.resolve("runtime/bin"));
        Files.write(inputs.resolve("runtime/bin/java.exe"), new byte[] {'M', 'Z'});
        Path png = inputs.resolve("app.png");
        BufferedImage image = new java.awt.image.BufferedImage(64, 64,
                BufferedImage.TYPE_INT_ARGB);
        image.setRGB(10, 10, 0xFF3366CC);
        ImageIO.write(image, "png", png.toFile());
        Path keystore = inputs.resolve("signing.p12");
        Process keytool = new ProcessBuilder(Paths.get(System.getProperty("java.home"), "bin", "keytool").toString(),
                "-genkeypair", "-keystore", keystore.toString(), "-storetype", "PKCS12",
                "-storepass", ChildBuild.SIGNING_PASSWORD, "-keypass", ChildBuild.SIGNING_PASSWORD,
                "-alias", "release", "-keyalg", "RSA", "-keysize", "2048", "-validity", "3650",
                "-dname", "CN=Plugin Test Signer").redirectErrorStream(true)
                .redirectOutput(inputs.resolve("keytool.log").toFile()).start();
        assertEquals(0, keytool.waitFor(), new String(Files.readAllBytes(inputs.resolve("keytool.log"))));

        ChildBuild.Result build = ChildBuild.run("demo", "product",
                "<icon>" + png + "</icon>"
                        + "<manifest><executionLevel>requireAdministrator</executionLevel></manifest>"
                        + "<bundledRuntime>" + inputs.resolve("runtime") + "</bundledRuntime>"
                        + "<signing><keystore>" + keystore + "</keystore><keystoreType>PKCS12</keystoreType>"
                        + "<alias>release</alias>"
                        + "<serverId>demo-signing</serverId></signing>"
                        + "<settings><runtimeDownloadPinFrom>extra/notes.txt</runtimeDownloadPinFrom></settings>",
                // The file's password variable (not set here) gives way to the POM's server password.
                Collections.singletonMap("launcher.json", "{\"applicationName\": \"Named in the config file\","
                        + " \"signing\": {\"alias\": \"release\", \"passwordEnv\": \"QLN_UNSET_IN_THIS_TEST\"}}"),
                "package", "-Dmaven.test.skip=true");
        assertEquals(0, build.exitCode, build.output);
        Path exe = build.project.resolve("target/demo-app-2.5.1.exe");
        Map<String, Object> inspected = ChildBuild.inspect(exe);

        Map<String, Object> version = (Map<String, Object>) inspected.get("versionInfo");
        assertTrue(version != null, "no version information in the exe");
        assertEquals("2.5.1.0", version.get("fixedFileVersion"));
        assertEquals("2.5.1.0", version.get("fixedProductVersion"));
        assertEquals("2.5.1.0", version.get("FileVersion"));
        assertEquals("Named in the config file", version.get("ProductName"));
        assertEquals("Example Works", version.get("CompanyName"));
        assertEquals("A demo for the plugin tests", version.get("FileDescription"));
        assertEquals("Copyright (C) Example Works", version.get("LegalCopyright"));
        assertEquals("demo-app-2.5.1.exe", version.get("OriginalFilename"));
        assertEquals("demo-app", version.get("InternalName"));

        // The icon: five images (16, 24, 32, 48, 256) and the groups Explorer (1) and the installer (1001) use.
        List<Integer> icons = new ArrayList<>();
        List<Integer> groups = new ArrayList<>();
        for (Object r : (List<Object>) inspected.get("resources")) {
            Map<String, Object> resource = (Map<String, Object>) r;
            int type = ((Number) resource.get("type")).intValue();
            if (type == 3) {
                icons.add(((Number) resource.get("id")).intValue());
            } else if (type == 14) {
                groups.add(((Number) resource.get("id")).intValue());
            }
        }
        assertEquals(5, icons.size(), icons.toString());
        assertEquals(Arrays.asList(1, 1001), groups);

        Map<String, Object> manifest = (Map<String, Object>) inspected.get("manifest");
        assertEquals("requireAdministrator", manifest.get("executionLevel"));
        assertEquals("console", inspected.get("subsystem"), "applicationType console of the POM");

        Map<String, Object> keys = (Map<String, Object>) inspected.get("keys");
        MessageDigest sha = MessageDigest.getInstance("SHA-256");
        StringBuilder pin = new StringBuilder();
        for (byte b : sha.digest(Files.readAllBytes(build.project.resolve("extra/notes.txt")))) {
            pin.append(String.format("%02x", b));
        }
        assertEquals(pin.toString(), keys.get("162"), "runtimeDownloadPinFrom, relative to the project");
        List<Object> files = (List<Object>) inspected.get("includedFiles");
        Map<String, Object> last = (Map<String, Object>) files.get(files.size() - 1);
        assertEquals("jre.tar.gz", last.get("name"));
        assertTrue(Integer.parseInt((String) keys.get("151")) > 0, "key 151: " + keys.get("151"));

        // Signed with the keystore the server's password opens: the certificate table at the
        // end of the file holds a PKCS#7 signature whose certificate is the test signer's.
        assertEquals(Boolean.TRUE, inspected.get("signed"));
        byte[] bytes = Files.readAllBytes(exe);
        int offset = ((Number) inspected.get("certificateOffset")).intValue();
        int size = ((Number) inspected.get("certificateSize")).intValue();
        assertEquals(bytes.length, offset + size);
        ByteBuffer table = ByteBuffer.wrap(bytes, offset, size).order(ByteOrder.LITTLE_ENDIAN);
        int length = table.getInt();
        assertEquals(0x0200, table.getShort() & 0xFFFF, "WIN_CERT_REVISION_2_0");
        assertEquals(0x0002, table.getShort() & 0xFFFF, "WIN_CERT_TYPE_PKCS_SIGNED_DATA");
        java.util.Collection<? extends Certificate> certificates =
                CertificateFactory.getInstance("X.509").generateCertificates(
                        new java.io.ByteArrayInputStream(bytes, offset + 8, length - 8));
        List<String> subjects = new ArrayList<>();
        for (Certificate c : certificates) {
            subjects.add(((X509Certificate) c).getSubjectX500Principal().getName());
        }
        assertTrue(subjects.contains("CN=Plugin Test Signer"), subjects.toString());
        KeyStore store = KeyStore.getInstance("PKCS12");
        try (InputStream in = Files.newInputStream(keystore)) {
            store.load(in, ChildBuild.SIGNING_PASSWORD.toCharArray());
        }
        assertTrue(certificates.contains(store.getCertificate("release")), "signed with another key");
        assertFalse(new String(Files.readAllBytes(build.project.resolve("target/quillon/demo-app-2.5.1.json")),
                StandardCharsets.ISO_8859_1).contains(ChildBuild.SIGNING_PASSWORD));
    }

    /** Module name, extra configuration, start and a later part of the one-line failure. */
    private static final String[][] WRONG_PARAMETERS = {
        {"wrong-value", "<applicationType>windowed</applicationType>",
            "packer: error: ", "\"applicationType\" must be \"gui\", \"console\" or a number"},
        {"not-a-flag", "<jvmOptionsFromCommandLine>yes</jvmOptionsFromCommandLine>",
            "packer: error: ", "\"jvmOptionsFromCommandLine\" must be true or false"},
        {"given-twice", "<appendToLogs>false</appendToLogs>",
            "appendToLogs is given twice: as <appendToLogs> and inside <settings>", ""},
        {"not-a-number", "<splashScreen><image>extra/splash.bmp</image><statusText><x>left</x></statusText>"
                + "</splashScreen>", "packer: error: ", "statusText.x must be a whole number"},
        {"unknown-setting", "<settings><noSuchSetting>1</noSuchSetting></settings>",
            "packer: error: ", "unknown setting \"noSuchSetting\""},
        {"two-levels", "<manifest><executionLevel>asInvoker</executionLevel></manifest>"
                + "<settings><executionLevel>requireAdministrator</executionLevel></settings>",
            "packer: error: ", "\"executionLevel\" is \"requireAdministrator\" but \"manifest.executionLevel\" is "
                + "\"asInvoker\""},
        {"unknown-parameter", "<mainClas>demo.App</mainClas>", "unknown parameter <mainClas>", "quillon:pack"},
        {"missing-main-class", "<mainClass>demo.Missing</mainClass>",
            "main class demo.Missing is neither", "runtime dependencies"},
        {"unknown-launcher", "<launcher>desktop</launcher>", "launcher \"desktop\" is not one of", "app, installer"},
        {"bad-config-file", "<configFile>broken.json</configFile>", "", "broken.json:2:"},
    };

    /** Settings of newer packers, handed over as given; the keystore does not exist, so packing fails either way. */
    private static final String PASS_THROUGH = "<icon>app.ico</icon>"
            + "<versionInfo><productName>Demo Pro</productName><copyright>(C) 2026</copyright></versionInfo>"
            + "<manifest><executionLevel>requireAdministrator</executionLevel></manifest>"
            + "<subsystem>console</subsystem><bundledRuntime>runtime-image</bundledRuntime>"
            + "<signing><keystore>keys.p12</keystore><alias>demo</alias>"
            + "<serverId>demo-signing</serverId></signing>";

    @Test
    @SuppressWarnings("unchecked")
    void aWrongParameterFailsTheBuildWithOneLine() throws Exception {
        Map<String, String> extras = new LinkedHashMap<>();
        for (String[] c : WRONG_PARAMETERS) {
            extras.put(c[0], c[1]);
        }
        extras.put("pass-through", PASS_THROUGH);
        ChildBuild.Result build = ChildBuild.runModules("demo", "wrong", extras, "-q", "package",
                "-Dmaven.test.skip=true");
        assertEquals(1, build.exitCode, build.output);
        List<String> errors = new ArrayList<>();
        for (String l : build.output.split("\\r?\\n")) {
            if (l.startsWith("[ERROR] Failed to execute goal com.quillon:quillon-maven-plugin")) {
                errors.add(l);
            }
        }
        for (String[] c : WRONG_PARAMETERS) {
            String project = "on project demo-app-" + c[0] + ": ";
            String line = errors.stream().filter(l -> l.contains(project)).findFirst().orElse(null);
            assertTrue(line != null, c[0] + " did not fail with its own line:\n" + build.output);
            String message = line.substring(line.indexOf(project) + project.length());
            assertTrue(message.startsWith(c[2]) && message.contains(c[3]) && message.endsWith(" -> [Help 1]"),
                    c[0] + ": " + message);
            assertFalse(Files.exists(build.project.resolve(c[0] + "/target/demo-app-" + c[0] + "-2.5.1.exe")), c[0]);
        }
        assertEquals(WRONG_PARAMETERS.length + 1, errors.size(), String.join("\n", errors));

        // The packer got the newer settings (and refused them, or the keystore); the kept copy
        // of its config shows them, and the password is nowhere in the build directory.
        assertTrue(errors.stream().anyMatch(l -> l.contains("on project demo-app-pass-through: packer: error: ")),
                String.join("\n", errors));
        Path project = build.project.resolve("pass-through");
        Path work = project.resolve("target/quillon");
        Map<String, Object> handed = (Map<String, Object>) Json.parse(new String(
                Files.readAllBytes(work.resolve("demo-app-pass-through-2.5.1.json")), StandardCharsets.UTF_8));
        assertEquals(project.resolve("app.ico").toString(), handed.get("icon"));
        Map<String, Object> info = (Map<String, Object>) handed.get("versionInfo");
        assertEquals("Demo Pro", info.get("productName"));
        assertEquals("(C) 2026", info.get("copyright"));
        assertEquals("Example Works", info.get("companyName"), "the POM's, under the given fields");
        assertEquals("2.5.1.0", info.get("fileVersion"));
        assertEquals(ConfigJson.object("executionLevel", "requireAdministrator"), handed.get("manifest"));
        assertFalse(handed.containsKey("executionLevel"), handed.toString());
        assertEquals("console", handed.get("subsystem"));
        assertEquals(project.resolve("runtime-image").toString(), handed.get("bundledRuntime"));
        assertEquals(ConfigJson.object("keystore", project.resolve("keys.p12").toString(), "alias", "demo",
                "password", "********"), handed.get("signing"));
        try (java.util.stream.Stream<Path> files = Files.walk(project.resolve("target"))) {
            for (Path f : (Iterable<Path>) files::iterator) {
                if (Files.isRegularFile(f)) {
                    assertFalse(new String(Files.readAllBytes(f), StandardCharsets.ISO_8859_1)
                            .contains(ChildBuild.SIGNING_PASSWORD), "the password is in " + f);
                }
            }
        }
    }
}
