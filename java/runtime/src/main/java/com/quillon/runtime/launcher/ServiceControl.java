package com.quillon.runtime.launcher;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CopyOnWriteArrayList;

/**
 * Stopping an application that runs as a Windows service.
 *
 * <p>The service launcher runs the application in a child process and asks it to stop by
 * writing the line {@code 0} to its standard input, then closing it. When this JVM runs as a
 * service ({@code tarvo.isService} is {@code true}), the launcher class reads standard input on
 * a daemon thread; on that line, or when standard input ends without it (the service process
 * is gone), it runs the stop listeners in the order they were added and ends the JVM with
 * exit code 0. A Java process thus never outlives its service.
 *
 * <p>Standard input belongs to that thread in a service: the application's {@code System.in}
 * is empty there. Outside a service nothing is read and {@code System.in} is unchanged.
 */
public final class ServiceControl {

    private static final List<Runnable> listeners = new CopyOnWriteArrayList<>();
    private static volatile Thread watcher;

    private ServiceControl() {
    }

    /** True when the service launcher runs this JVM as a Windows service. */
    public static boolean isService() {
        return LauncherProperties.isService();
    }

    /**
     * Adds a listener that runs when the service stops, before the JVM ends. Listeners run one
     * after another on the stop thread; one that throws is printed and the next one runs.
     */
    public static void addStopListener(Runnable listener) {
        if (listener == null) {
            throw new NullPointerException("listener");
        }
        listeners.add(listener);
    }

    public static boolean removeStopListener(Runnable listener) {
        return listeners.remove(listener);
    }

    /** Called by the launcher class before the application starts. */
    static void startWatching() {
        if (!isService() || watcher != null) {
            return;
        }
        InputStream input = System.in;
        System.setIn(new ByteArrayInputStream(new byte[0]));
        watcher = watch(input, new Runnable() {
            @Override
            public void run() {
                Runtime.getRuntime().exit(0);
            }
        });
    }

    /** Reads `input` on a daemon thread until the stop line or its end, then stops. */
    static Thread watch(final InputStream input, final Runnable exit) {
        Thread thread = new Thread(new Runnable() {
            @Override
            public void run() {
                waitForStopRequest(input);
                runStopListeners();
                exit.run();
            }
        }, "service stop watcher");
        thread.setDaemon(true);
        thread.start();
        return thread;
    }

    /** Returns at the line "0" or at the end of the input; other lines are ignored. */
    static void waitForStopRequest(InputStream input) {
        StringBuilder line = new StringBuilder();
        try {
            int next;
            while ((next = input.read()) >= 0) {
                if (next == '\n') {
                    if (isStopLine(line)) {
                        return;
                    }
                    line.setLength(0);
                } else if (line.length() < 16) {
                    line.append((char) next);
                }
            }
        } catch (IOException e) {
            // A broken pipe means the service process is gone, which is a stop as well.
        }
    }

    private static boolean isStopLine(CharSequence line) {
        String text = line.toString();
        return text.equals("0") || text.equals("0\r");
    }

    static void runStopListeners() {
        List<Runnable> current = new ArrayList<>(listeners);
        for (Runnable listener : current) {
            try {
                listener.run();
            } catch (Throwable failure) {
                failure.printStackTrace();
            }
        }
    }

    /** For tests: forget the listeners and the watcher. */
    static void reset() {
        listeners.clear();
        watcher = null;
    }
}
