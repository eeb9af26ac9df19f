package com.quillon.runtime.launcher;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;

import java.io.File;
import java.util.HashMap;
import java.util.Map;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

class StreamRedirectionTest {

    private static final Map<String, String> VARIABLES = new HashMap<>();

    static {
        VARIABLES.put("TEMP", "C:\\Temp");
        VARIABLES.put("LOGS", "D:/logs/");
    }

    @ParameterizedTest(name = "[{0}]")
    @CsvSource(delimiter = '|', quoteCharacter = '`', value = {
        "C:\\apps\\err.log     | C:\\apps\\err.log",
        "$TEMP\\app\\err.log   | C:\\Temp\\app\\err.log",
        "$TEMP/err.log         | C:\\Temp/err.log",
        "$TEMP                 | C:\\Temp",
        "$LOGS                 | D:/logs/",
        "$UNSET\\err.log       | ",
        "$                     | ",
        "$\\err.log            | ",
        "``                    | ",
    })
    void resolvesPathsAndVariables(String value, String expected) {
        File file = StreamRedirection.resolve(value, VARIABLES::get);
        if (expected == null) {
            assertNull(file);
        } else {
            assertEquals(new File(expected), file);
        }
    }
}
