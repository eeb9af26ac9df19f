package com.quillon.packer;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.math.BigDecimal;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

class JsonTest {

    @Test
    void parsesNestedValuesAndKeepsMemberOrder() throws Exception {
        Object root = Json.parse("\uFEFF {\"z\": [1, -2.5e3, true, false, null, {}], \"a\": \"x\", \"m\": []}\r\n");
        Map<?, ?> map = (Map<?, ?>) root;
        assertEquals(Arrays.asList("z", "a", "m"), new ArrayList<>(map.keySet()));
        List<?> z = (List<?>) map.get("z");
        assertEquals(new BigDecimal("1"), z.get(0));
        assertEquals(0, new BigDecimal("-2500").compareTo((BigDecimal) z.get(1)));
        assertEquals(Boolean.TRUE, z.get(2));
        assertEquals(Boolean.FALSE, z.get(3));
        assertNull(z.get(4));
        assertEquals(new LinkedHashMap<>(), z.get(5));
        assertEquals("x", map.get("a"));
    }

    @Test
    void decodesEveryEscape() throws Exception {
        assertEquals("\"\\/\b\f\n\r\t\u00e9\ud83d\ude00",
                Json.parse("\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00E9\\ud83d\\ude00\""));
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', quoteCharacter = '`', value = {
        "trailing comma in object | {\"a\": 1,}             | 1 | 9 | expected a member name",
        "trailing comma in array  | [1, 2,]                 | 1 | 7 | expected a value",
        "missing colon            | {\"a\" 1}              | 1 | 6 | expected ':'",
        "single quotes            | {'a': 1}                | 1 | 2 | member name in double quotes",
        "comment                  | // x\\n{}              | 1 | 1 | expected a value",
        "duplicate member         | {\"a\":1,\\n \"a\":2}  | 2 | 2 | duplicate member name \"a\"",
        "error on second line     | {\\n  \"a\": tru\\n}    | 2 | 8 | expected a value",
        "unterminated string      | [\"abc                  | 1 | 2 | unterminated string",
        "raw control character    | \"a\\tb\"               | 1 | 3 | must be escaped",
        "bad escape               | \"\\x\"                 | 1 | 2 | invalid escape",
        "bad unicode escape       | \"\\u12G4\"             | 1 | 2 | expected four hexadecimal digits",
        "leading zero             | 01                      | 1 | 2 | after the end of the document",
        "bare fraction dot        | 1.                      | 1 | 3 | digit after '.'",
        "empty exponent           | 1e                      | 1 | 3 | digit in the exponent",
        "two values               | {} {}                   | 1 | 4 | after the end of the document",
        "empty input              | ''                      | 1 | 1 | unexpected end of input",
        "CR LF is one line break  | {\\r\\n\\r\\n x}          | 3 | 2 | member name",
    })
    void reportsLineAndColumn(String name, String input, int line, int column, String reason) {
        String text = input.equals("''") ? ""
                : input.replace("\\n", "\n").replace("\\r", "\r").replace("\\t", "\t");
        Json.ParseException e = assertThrows(Json.ParseException.class, () -> Json.parse(text));
        assertEquals(line + ":" + column, e.line() + ":" + e.column(), e.getMessage());
        assertTrue(e.reason().contains(reason), e.getMessage());
    }

    @Test
    void refusesExcessiveNesting() {
        StringBuilder deep = new StringBuilder();
        for (int i = 0; i < 1000; i++) {
            deep.append('[');
        }
        Json.ParseException e = assertThrows(Json.ParseException.class, () -> Json.parse(deep.toString()));
        assertTrue(e.reason().contains("nesting"));
    }

    @Test
    void writtenJsonParsesBackToTheSameValue() throws Exception {
        Map<String, Object> inner = new LinkedHashMap<>();
        inner.put("text", "quote \" backslash \\ newline \n tab \t nul \u0000 \u00e9 \u20ac");
        inner.put("list", Arrays.asList(1L, Boolean.TRUE, null, new ArrayList<>()));
        Map<String, Object> root = new LinkedHashMap<>();
        root.put("inner", inner);
        root.put("empty", new LinkedHashMap<>());

        String written = Json.write(root);
        for (char c : written.toCharArray()) {
            assertTrue(c == '\n' || (c >= 0x20 && c < 0x7F), "non-ASCII output: " + (int) c);
        }
        Map<?, ?> back = (Map<?, ?>) Json.parse(written);
        Map<?, ?> backInner = (Map<?, ?>) back.get("inner");
        assertEquals(inner.get("text"), backInner.get("text"));
        assertEquals(Arrays.asList(BigDecimal.ONE, Boolean.TRUE, null, new ArrayList<>()), backInner.get("list"));
        assertEquals(new LinkedHashMap<>(), back.get("empty"));
    }
}
