package com.quillon.packer;

import static com.quillon.packer.TestFiles.config;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Path;
import java.util.Map;
import java.util.TreeMap;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

class ServiceSettingsTest {

    @TempDir
    Path dir;

    private Map<Integer, String> serviceKeys(String json) throws Exception {
        Map<Integer, String> keys = new TreeMap<>(PackerConfig.load(config(dir, json)).content().narrow);
        keys.keySet().removeIf(k -> k < 11001 || k > 11049);
        return keys;
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', quoteCharacter = '`', value = {
        "stop time-out        | {'serviceStopTimeout': 3}                          | {11001=3}",
        "restart off          | {'serviceRestart': false}                          | {11002=0}",
        "restart defaults     | {'serviceRestart': true}                           | {11002=1}",
        "restart policy       | {'serviceRestart': {'delays': [1, 5, 30], 'resetAfter': 600, 'limit': 5}}"
                + " | {11002=1, 11003=1,5,30, 11004=600, 11005=5}",
        "log folder           | {'serviceLog': '${APPDATA}\\\\Demo\\\\logs'}       | {11006=${APPDATA}\\Demo\\logs}",
        "log size in bytes    | {'serviceLogMaxSize': 4096}                        | {11007=4096}",
        "log size with a unit | {'serviceLogMaxSize': '10 MB'}                     | {11007=10485760}",
        "log size in KB       | {'serviceLogMaxSize': '512kb'}                     | {11007=524288}",
        "logs kept            | {'serviceLogKeep': 0}                              | {11008=0}",
        "account              | {'serviceAccount': 'DOMAIN\\\\svc$'}               | {11009=DOMAIN\\svc$}",
        "not interactive      | {'serviceInteractive': false}                      | {11010=0}",
        "delayed start        | {'serviceStart': 'delayed'}                        | {11011=delayed}",
        "pre-shutdown         | {'servicePreshutdownTimeout': 90}                  | {11012=90}",
        "environment in order | {'serviceEnvironment': {'B': '1', 'A': '${B};2'}}  | `{11013=B=1\nA=${B};2}`",
        "nothing given        | {}                                                 | {}",
    })
    void settingsWriteTheirKeys(String name, String json, String keys) throws Exception {
        assertEquals(keys, serviceKeys(json).toString());
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', quoteCharacter = '`', value = {
        "zero stop time-out     | {'serviceStopTimeout': 0}                     | from 1 to 86400",
        "text stop time-out     | {'serviceStopTimeout': '30'}                  | whole number",
        "restart of text        | {'serviceRestart': 'yes'}                     | true, false or an object",
        "unknown restart field  | {'serviceRestart': {'delay': [1]}}            | unknown field \"delay\"",
        "empty delays           | {'serviceRestart': {'delays': []}}            | non-empty array",
        "negative delay         | {'serviceRestart': {'delays': [-1]}}          | delays[0]",
        "fractional limit       | {'serviceRestart': {'limit': 1.5}}            | serviceRestart.limit",
        "size without number    | {'serviceLogMaxSize': 'big'}                  | such as \"10MB\"",
        "zero size              | {'serviceLogMaxSize': 0}                      | serviceLogMaxSize",
        "blank account          | {'serviceAccount': '  '}                      | must name an account",
        "unknown start          | {'serviceStart': 'boot'}                      | \"demand\", \"auto\" or \"delayed\"",
        "interactive of text    | {'serviceInteractive': 'no'}                  | true or false",
        "environment as list    | {'serviceEnvironment': ['A=1']}               | object of names and values",
        "name with equals       | {'serviceEnvironment': {'A=B': '1'}}          | must not be empty or hold \"=\"",
        "value not text         | {'serviceEnvironment': {'A': 1}}              | serviceEnvironment.A must be a string",
        "value with line break  | {'serviceEnvironment': {'A': 'x\\ny'}}        | line break",
    })
    void refusals(String name, String json, String message) throws Exception {
        PackerException e = assertThrows(PackerException.class, () -> serviceKeys(json));
        assertTrue(e.getMessage().contains(message), e.getMessage());
    }

    @Test
    void aPasswordHasNoPlaceInTheSettings() throws Exception {
        PackerException e = assertThrows(PackerException.class,
                () -> serviceKeys("{'serviceAccount': '.\\\\svc', 'servicePassword': 'secret'}"));
        assertTrue(e.getMessage().contains("servicePassword"), e.getMessage());
    }
}
