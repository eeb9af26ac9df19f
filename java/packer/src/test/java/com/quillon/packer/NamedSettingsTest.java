package com.quillon.packer;

import static com.quillon.packer.TestFiles.config;
import static com.quillon.packer.TestFiles.file;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

class NamedSettingsTest {

    @TempDir
    Path dir;

    private PayloadContent content(String json) throws Exception {
        return PackerConfig.load(config(dir, json)).content();
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', quoteCharacter = '`', value = {
        "single instance          | {'singleInstance': true}                         | 10005 | 1",
        "global namespace         | {'singleInstanceGlobal': true}                   | 158   | 1",
        "working directory        | {'workingDirectory': '${APPDATA}\\\\Demo'}       | 146   | ${APPDATA}\\Demo",
        "native library dirs      | {'nativeLibraryDirectories': ['lib\\\\x64', 'bin']} | 10004 | lib\\x64;bin",
        "all console switches     | {'consoleSwitches': 'all'}                       | 154   | 1",
        "the console switch       | {'consoleSwitches': 'console'}                   | 156   | 1",
        "pre-release runtimes     | {'allowPrereleaseRuntimes': true}                | 130   | 1",
        "JDK required             | {'requireJdk': false}                            | 131   | 0",
        "preferred JVM type       | {'preferredJvmType': 'client'}                   | 152   | client",
        "installation id          | {'installationId': 'demo-2'}                     | 160   | demo-2",
        "service dependencies     | {'serviceDependencies': ['Tcpip', 'Dnscache']}   | 149   | Tcpip,Dnscache",
        "download location        | {'runtimeDownloadUrl': 'https://127.0.0.1/jre.tar.gz'} | 150 | https://127.0.0.1/jre.tar.gz",
        "archive size             | {'runtimeArchiveSize': 123456}                   | 151   | 123456",
        "pack200 runtime          | {'runtimePack200': true}                         | 153   | 1",
        "no progress dialog       | {'installerWithoutProgressDialog': true}         | 155   | 1",
        "download without asking  | {'downloadRuntimeWithoutAsking': true}           | 157   | 1",
        "no time-out              | {'waitForJavaWithoutTimeout': true}              | 159   | 1",
        "installed runtime first  | {'preferInstalledRuntime': true}                 | 161   | 1",
        "start-up cache off       | {'startupCache': false}                          | 11101 | 0",
        "start-up cache on        | {'startupCache': true}                           | 11101 | 1",
        "download pin             | {'runtimeDownloadSha256': 'ABCDEF0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789'}"
                + " | 162 | abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789",
        "raw key still wins       | {'singleInstance': true, 'keys': {'10005': '0'}} | 10005 | 0",
    })
    void namedSettingsWriteTheirKeys(String name, String json, int key, String value) throws Exception {
        assertEquals(value, content(json).narrow.get(key));
    }

    @Test
    void serviceDescriptionGoesIntoTheWideMapAndThePinCanBeComputed() throws Exception {
        file(dir, "jre.tar.gz", "abc".getBytes(StandardCharsets.US_ASCII));
        PayloadContent c = content("{'serviceDescription': 'Runs the demo', 'runtimeDownloadPinFrom': 'jre.tar.gz'}");
        assertEquals("Runs the demo", c.wide.get(20017));
        assertEquals("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", c.narrow.get(162));
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', quoteCharacter = '`', value = {
        "flag of another type   | {'singleInstance': 'yes'}                          | must be true or false",
        "separator in a list    | {'nativeLibraryDirectories': ['a;b']}             | must not contain \";\"",
        "comma in a dependency  | {'serviceDependencies': ['a,b']}                  | must not contain \",\"",
        "empty list             | {'serviceDependencies': []}                       | must not be empty",
        "unknown console switch | {'consoleSwitches': 'quiet'}                      | \"all\", \"console\" or \"none\"",
        "short pin              | {'runtimeDownloadSha256': 'abc'}                  | 64 hexadecimal digits",
        "both pins              | {'runtimeDownloadSha256': 'abc', 'runtimeDownloadPinFrom': 'x'} | not both",
        "negative size          | {'runtimeArchiveSize': -1}                        | whole number from 0",
        "long JVM type          | {'preferredJvmType': '`"
                + "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
                + "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
                + "`'} | more than the 199 characters",
    })
    void refusals(String name, String json, String message) throws Exception {
        PackerException e = assertThrows(PackerException.class, () -> content(json));
        assertTrue(e.getMessage().contains(message), e.getMessage());
    }
}
