package com.quillon.maven;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quillon.packer.Json;
import com.quillon.packer.PackerConfig;
import java.awt.image.BufferedImage;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.Map;
import javax.imageio.ImageIO;
import org.apache.maven.plugin.MojoFailureException;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

class ConfigJsonTest {

    @ParameterizedTest
    @CsvSource(nullValues = "null", value = {
        "1.2.3, 1.2.3.0",
        "2.0-SNAPSHOT, 2.0.0.0",
        "7, 7.0.0.0",
        "1.5.0.RELEASE, 1.5.0.0",
        "1.2.3.4.5, 1.2.3.4",
        "65535.0, 65535.0.0.0",
        "65536.0, null",
        "0999999, null",
        "v1.0, null",
    })
    void numericVersionKeepsWhatWindowsCanHold(String version, String expected) {
        assertEquals(expected, ConfigJson.numericVersion(version));
    }

    @Test
    void thePomWinsMemberByMemberAndReplacesArrays() {
        Map<String, Object> file = ConfigJson.object(
                "applicationName", "File", "jvmOptions", Arrays.asList("-Da=1", "-Db=2"),
                "versionInfo", ConfigJson.object("productName", "File", "companyName", "Works"));
        Map<String, Object> pom = ConfigJson.object(
                "jvmOptions", Collections.singletonList("-Dc=3"),
                "versionInfo", ConfigJson.object("productName", "Pom"));
        Map<String, Object> merged = ConfigJson.merge(file, pom);
        assertEquals("File", merged.get("applicationName"));
        assertEquals(Collections.singletonList("-Dc=3"), merged.get("jvmOptions"));
        assertEquals(ConfigJson.object("productName", "Pom", "companyName", "Works"), merged.get("versionInfo"));
    }

    @ParameterizedTest
    @CsvSource(delimiter = '|', value = {
        "true|true",
        "false|false",
        "plain text|plain text",
        "12|12",
        "\"12\"|12",
        "[\"a\", \"b\"]|[a, b]",
    })
    void settingValues(String text, String shown) throws Exception {
        assertEquals(shown, String.valueOf(ConfigJson.settingValue("x", text)));
    }

    @Test
    void aSettingThatLooksLikeJsonMustBeJson() {
        MojoFailureException e = assertThrows(MojoFailureException.class,
                () -> ConfigJson.settingValue("singleInstance", "{\"a\": }"));
        assertTrue(e.getMessage().startsWith("settings.singleInstance: not valid JSON"), e.getMessage());
    }

    @Test
    @SuppressWarnings("unchecked")
    void pathsOfAConfigFileFollowTheFile(@TempDir Path dir) throws Exception {
        Path config = dir.resolve("conf/launcher.json");
        Files.createDirectories(config.getParent());
        String absolute = dir.resolve("abs.png").toString();
        String json = "{\"includedFiles\": [{\"name\": \"a.txt\", \"source\": \"files/a.txt\"}, {\"name\": \"b\"}],"
                + " \"splashScreen\": {\"image\": \"" + absolute.replace("\\", "\\\\") + "\"},"
                + " \"signing\": {\"keystore\": \"../keys.p12\", \"alias\": \"me\"},"
                + " \"applicationName\": \"not/a/path\"}";
        Files.write(config, json.getBytes(StandardCharsets.UTF_8));
        Map<String, Object> read = ConfigJson.read(config);
        List<Object> files = (List<Object>) read.get("includedFiles");
        assertEquals(dir.resolve("conf/files/a.txt").toString(), ((Map<String, Object>) files.get(0)).get("source"));
        assertEquals(ConfigJson.object("name", "b"), files.get(1));
        assertEquals(absolute, ((Map<String, Object>) read.get("splashScreen")).get("image"));
        assertEquals(dir.resolve("keys.p12").toString(), ((Map<String, Object>) read.get("signing")).get("keystore"));
        assertEquals("not/a/path", read.get("applicationName"));
    }

    /**
     * A config file with every path setting the packer reads, relative to the file: once read
     * here and handed over from another directory (the build directory), the packer still
     * finds every file. A path setting missing from PATH_FIELDS resolves against the wrong
     * directory and the packer refuses it.
     */
    @Test
    void everyPathOfTheConfigFileStillResolvesInThePackerAfterTheMove(@TempDir Path dir) throws Exception {
        Path project = dir.resolve("project");
        Path files = project.resolve("files");
        Files.createDirectories(files.resolve("jre/bin"));
        Files.write(files.resolve("jre/bin/java.exe"), new byte[] {'M', 'Z'});
        BufferedImage image = new BufferedImage(32, 32, BufferedImage.TYPE_INT_RGB);
        ImageIO.write(image, "png", files.resolve("app.png").toFile());
        ImageIO.write(image, "bmp", files.resolve("splash.bmp").toFile());
        for (String name : new String[] {"data.bin", "notes.txt", "raw.bin", "keys.p12", "pin.tar.gz"}) {
            Files.write(files.resolve(name), name.getBytes(StandardCharsets.UTF_8));
        }
        Files.write(files.resolve("app.manifest"), "<assembly/>".getBytes(StandardCharsets.UTF_8));
        Path config = project.resolve("launcher.json");
        String json = "{'unextractedData': 'files/data.bin', 'icon': 'files/app.png', 'bundledRuntime': 'files/jre',"
                + " 'includedFiles': [{'name': 'notes.txt', 'source': 'files/notes.txt'}],"
                + " 'resources': [{'type': 'RCDATA', 'id': 7, 'source': 'files/raw.bin'}],"
                + " 'splashScreen': {'image': 'files/splash.bmp'}, 'manifest': {'file': 'files/app.manifest'},"
                + " 'signing': {'keystore': 'files/keys.p12', 'alias': 'a', 'password': 'p'},"
                + " 'runtimeDownloadPinFrom': 'files/pin.tar.gz'}";
        Files.write(config, json.replace('\'', '"').getBytes(StandardCharsets.UTF_8));

        Path handed = dir.resolve("target/quillon/launcher.json");
        Files.createDirectories(handed.getParent());
        Files.write(handed, Json.write(ConfigJson.read(config)).getBytes(StandardCharsets.UTF_8));
        PackerConfig.load(handed);
    }

    @Test
    void aBrokenConfigFileNamesLineAndColumn(@TempDir Path dir) throws Exception {
        Path config = dir.resolve("launcher.json");
        Files.write(config, "{\n  \"a\": 1,\n}".getBytes(StandardCharsets.UTF_8));
        MojoFailureException e = assertThrows(MojoFailureException.class, () -> ConfigJson.read(config));
        assertTrue(e.getMessage().startsWith(config + ":3:1: "), e.getMessage());
    }
}
