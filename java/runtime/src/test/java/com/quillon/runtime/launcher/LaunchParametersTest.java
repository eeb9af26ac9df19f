package com.quillon.runtime.launcher;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.Arrays;
import java.util.Collections;
import org.junit.jupiter.api.Test;

class LaunchParametersTest {

    @Test
    void readsTheFiveParametersAndDropsTheProgramPath() {
        LaunchParameters p = LaunchParameters.parse(new String[] {
            "true", "com.example.Main", "C:\\logs\\err.log", "$TEMP\\out.log", "true",
            "C:\\apps\\app.exe", "fixed", "-x", "y z"});
        assertTrue(p.isGuiApplication());
        assertEquals("com.example.Main", p.getMainClass());
        assertEquals("C:\\logs\\err.log", p.getErrorLog());
        assertEquals("$TEMP\\out.log", p.getOutputLog());
        assertTrue(p.isAppendToLogs());
        assertEquals("C:\\apps\\app.exe", p.getProgramPath());
        assertEquals(Arrays.asList("fixed", "-x", "y z"), p.getArguments());
    }

    @Test
    void withoutArgumentsAndWithoutProgramPath() {
        LaunchParameters withPath = LaunchParameters.parse(new String[] {"false", "M", "", "", "false", "app"});
        assertFalse(withPath.isGuiApplication());
        assertFalse(withPath.isAppendToLogs());
        assertEquals("app", withPath.getProgramPath());
        assertEquals(Collections.emptyList(), withPath.getArguments());

        LaunchParameters bare = LaunchParameters.parse(new String[] {"false", "M", "", "", "false"});
        assertEquals("", bare.getProgramPath());
        assertEquals(Collections.emptyList(), bare.getArguments());
    }

    @Test
    void refusesFewerThanFiveParameters() {
        IllegalArgumentException e = assertThrows(IllegalArgumentException.class,
                () -> LaunchParameters.parse(new String[] {"a", "b"}));
        assertTrue(e.getMessage().contains("got 2"), e.getMessage());
        assertThrows(IllegalArgumentException.class, () -> LaunchParameters.parse(null));
    }

    @Test
    void argumentsCannotBeChanged() {
        LaunchParameters p = LaunchParameters.parse(new String[] {"false", "M", "", "", "false", "app", "a"});
        assertThrows(UnsupportedOperationException.class, () -> p.getArguments().add("b"));
    }
}
