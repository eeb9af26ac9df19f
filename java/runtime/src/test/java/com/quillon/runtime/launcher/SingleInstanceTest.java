package com.quillon.runtime.launcher;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.PrintStream;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;

class SingleInstanceTest {

    private static final class Recorder implements SingleInstanceListener {
        final List<List<String>> starts = new ArrayList<>();

        @Override
        public void newInstanceStarted(List<String> arguments) {
            starts.add(arguments);
        }
    }

    @AfterEach
    void forget() {
        SingleInstance.reset();
    }

    @Test
    void startsBeforeTheFirstListenerAreKeptForIt() {
        SingleInstance.deliver(Collections.singletonList("early"));
        SingleInstance.deliver(Arrays.asList("second", "start"));
        Recorder first = new Recorder();
        SingleInstance.addListener(first);
        assertEquals(Arrays.asList(Collections.singletonList("early"), Arrays.asList("second", "start")),
                first.starts);

        Recorder late = new Recorder();
        SingleInstance.addListener(late);
        assertEquals(Collections.emptyList(), late.starts, "kept starts go to one listener only");
    }

    @Test
    void everyListenerHearsEachStartAndAFailingOneStopsNobody() {
        Recorder a = new Recorder();
        Recorder b = new Recorder();
        SingleInstance.addListener(a);
        SingleInstance.addListener(arguments -> {
            throw new IllegalStateException("listener failure (expected in this test)");
        });
        SingleInstance.addListener(b);
        PrintStream err = System.err;
        ByteArrayOutputStream printed = new ByteArrayOutputStream();
        System.setErr(new PrintStream(printed, true));
        try {
            SingleInstance.deliver(Collections.singletonList("x"));
            SingleInstance.removeListener(a);
            SingleInstance.deliver(Collections.singletonList("y"));
        } finally {
            System.setErr(err);
        }
        assertTrue(printed.toString().contains("listener failure"), "the failure is reported");
        assertEquals(Collections.singletonList(Collections.singletonList("x")), a.starts);
        assertEquals(Arrays.asList(Collections.singletonList("x"), Collections.singletonList("y")), b.starts);
    }
}
