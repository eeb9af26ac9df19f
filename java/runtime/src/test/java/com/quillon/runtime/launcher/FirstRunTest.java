package com.quillon.runtime.launcher;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class FirstRunTest {

    @TempDir
    Path dir;

    private Path marker(Path installation) throws IOException {
        Path marker = installation.resolve(FirstRun.MARKER);
        Files.createDirectories(marker.getParent());
        Files.createFile(marker);
        return marker;
    }

    @Test
    void theMarkerGoesWhenAllHandlersAgree() throws Exception {
        Path marker = marker(dir);
        List<String> calls = new ArrayList<>();
        FirstRunHandler a = () -> calls.add("a");
        FirstRunHandler b = () -> calls.add("b");
        assertTrue(FirstRun.run(Arrays.asList(a, b), marker));
        assertEquals(Arrays.asList("a", "b"), calls);
        assertFalse(Files.exists(marker));
    }

    @Test
    void aRefusingHandlerStopsTheStartAndKeepsTheMarker() throws Exception {
        Path marker = marker(dir);
        List<String> calls = new ArrayList<>();
        FirstRunHandler no = () -> false;
        FirstRunHandler later = () -> calls.add("later");
        assertFalse(FirstRun.run(Arrays.asList(no, later), marker));
        assertEquals(Collections.emptyList(), calls);
        assertTrue(Files.exists(marker));
    }

    @Test
    void aFailingHandlerKeepsTheMarker() throws Exception {
        Path marker = marker(dir);
        FirstRunHandler failing = () -> {
            throw new IOException("setup failed");
        };
        assertThrows(IOException.class, () -> FirstRun.run(Collections.singletonList(failing), marker));
        assertTrue(Files.exists(marker));
    }

    @Test
    void withoutHandlersTheStartGoesOn() throws Exception {
        assertTrue(FirstRun.run(Collections.<FirstRunHandler>emptyList(), null));
    }

    @Test
    void theMarkerIsLookedForFromTheLauncherDirectoryUp() throws Exception {
        Path bin = Files.createDirectories(dir.resolve("app").resolve("bin"));
        assertNull(FirstRun.findMarker(bin));
        Path outer = marker(dir);
        assertEquals(outer, FirstRun.findMarker(bin));
        Path inner = marker(dir.resolve("app"));
        assertEquals(inner, FirstRun.findMarker(bin));
    }
}
