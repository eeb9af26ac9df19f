package com.quillon.maven;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.Map;
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

    @Test
    void aBrokenConfigFileNamesLineAndColumn(@TempDir Path dir) throws Exception {
        Path config = dir.resolve("launcher.json");
        Files.write(config, "{\n  \"a\": 1,\n}".getBytes(StandardCharsets.UTF_8));
        MojoFailureException e = assertThrows(MojoFailureException.class, () -> ConfigJson.read(config));
        assertTrue(e.getMessage().startsWith(config + ":3:1: "), e.getMessage());
    }
}
