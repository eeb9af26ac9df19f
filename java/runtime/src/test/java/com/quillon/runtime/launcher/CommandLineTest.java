package com.quillon.runtime.launcher;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.stream.Stream;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/** The same rules as the launcher's own splitting, case for case. */
class CommandLineTest {

    static Stream<Arguments> cases() {
        return Stream.of(
                Arguments.of("", Collections.emptyList()),
                Arguments.of("    ", Collections.emptyList()),
                Arguments.of("app.exe -a b", Arrays.asList("app.exe", "-a", "b")),
                Arguments.of("a   b    c", Arrays.asList("a", "b", "c")),
                Arguments.of("a\tb c", Arrays.asList("a\tb", "c")),
                Arguments.of("\"C:\\Program Files\\App\\app.exe\" -x",
                        Arrays.asList("C:\\Program Files\\App\\app.exe", "-x")),
                Arguments.of("-Dkey=\"a b\" c", Arrays.asList("-Dkey=a b", "c")),
                Arguments.of("\"a b\"c d", Arrays.asList("a b", "c", "d")),
                Arguments.of("ab\"c d\"ef", Arrays.asList("abc d", "ef")),
                Arguments.of("ab cd\"e f\"", Arrays.asList("ab", "cde f")),
                Arguments.of("'a b' c", Arrays.asList("a b", "c")),
                Arguments.of("\"it's here\" x", Arrays.asList("it's here", "x")),
                Arguments.of("'say \"hi\"' x", Arrays.asList("say \"hi\"", "x")),
                Arguments.of("\"unclosed quote", Collections.singletonList("unclosed quote")),
                Arguments.of("\"\" x", Arrays.asList("", "x")),
                Arguments.of("back\\slash\\ \\\"x", Arrays.asList("back\\slash\\", "\\x")));
    }

    @ParameterizedTest(name = "[{0}]")
    @MethodSource("cases")
    void splitsLikeTheLauncher(String text, List<String> words) {
        assertEquals(words, CommandLine.split(text));
    }
}
