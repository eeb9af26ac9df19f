package com.quillon.runtime.launcher;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;

class ServiceControlTest {

    @AfterEach
    void forget() {
        ServiceControl.reset();
        System.clearProperty(LauncherProperties.IS_SERVICE);
    }

    private static ByteArrayInputStream input(String text) {
        return new ByteArrayInputStream(text.getBytes(StandardCharsets.US_ASCII));
    }

    /** Runs the watcher on `input` and returns the events: listener names, then "exit". */
    private static List<String> stopWith(InputStream input, Runnable... listeners)
            throws InterruptedException {
        final List<String> events = Collections.synchronizedList(new ArrayList<String>());
        for (Runnable listener : listeners) {
            ServiceControl.addStopListener(listener);
        }
        final CountDownLatch exited = new CountDownLatch(1);
        Thread thread = ServiceControl.watch(input, () -> {
            events.add("exit");
            exited.countDown();
        });
        assertTrue(thread.isDaemon(), "the watcher must not keep the JVM alive");
        assertTrue(exited.await(10, TimeUnit.SECONDS), "the watcher never stopped");
        return events;
    }

    @Test
    void theStopLineRunsEveryListenerInOrderAndThenEnds() throws Exception {
        List<String> order = Collections.synchronizedList(new ArrayList<String>());
        ByteArrayInputStream stream = input("5\n00\n0\nnot read");
        List<String> events = stopWith(stream, () -> order.add("first"), () -> order.add("second"));
        assertEquals(Arrays.asList("first", "second"), order);
        assertEquals(Collections.singletonList("exit"), events);
        assertEquals("not read".length(), stream.available(), "stopped at the line \"0\"");
    }

    @Test
    void theEndOfInputStopsAsWell() throws Exception {
        List<String> order = Collections.synchronizedList(new ArrayList<String>());
        assertEquals(Collections.singletonList("exit"), stopWith(input("1\n0"), () -> order.add("ran")));
        assertEquals(Collections.singletonList("ran"), order);
    }

    @Test
    void aReadFailureCountsAsTheEndOfInput() throws Exception {
        InputStream broken = new InputStream() {
            @Override
            public int read() throws IOException {
                throw new IOException("pipe broken");
            }
        };
        assertEquals(Collections.singletonList("exit"), stopWith(broken));
    }

    @Test
    void aFailingListenerIsPrintedAndTheNextOneStillRuns() throws Exception {
        List<String> order = Collections.synchronizedList(new ArrayList<String>());
        Runnable removed = () -> order.add("removed");
        ServiceControl.addStopListener(removed);
        assertTrue(ServiceControl.removeStopListener(removed));
        PrintStream err = System.err;
        ByteArrayOutputStream printed = new ByteArrayOutputStream();
        System.setErr(new PrintStream(printed, true));
        try {
            stopWith(input("0\r\n"), () -> {
                throw new IllegalStateException("listener failure (expected in this test)");
            }, () -> order.add("after"));
        } finally {
            System.setErr(err);
        }
        assertEquals(Collections.singletonList("after"), order);
        assertTrue(printed.toString().contains("listener failure"));
    }

    @Test
    void outsideAServiceStandardInputIsLeftAlone() {
        InputStream before = System.in;
        ServiceControl.startWatching();
        assertFalse(ServiceControl.isService());
        assertTrue(System.in == before, "System.in was replaced outside a service");
    }
}
