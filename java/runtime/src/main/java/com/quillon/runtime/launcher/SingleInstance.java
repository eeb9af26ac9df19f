package com.quillon.runtime.launcher;

import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.CopyOnWriteArrayList;

/**
 * Delivers the arguments of later starts to the running instance of a single-instance
 * application. The launcher classes start watching before the application's {@code main}
 * runs; starts that arrive before the first listener registers are kept and handed to it
 * when it does.
 */
public final class SingleInstance {

    /** Well inside the ten seconds a second start waits for its file to be taken. */
    static final long POLL_INTERVAL_MS = 200;

    private static final List<SingleInstanceListener> LISTENERS = new CopyOnWriteArrayList<>();
    private static final List<List<String>> PENDING = new ArrayList<>();
    private static Thread watcher;

    private SingleInstance() {
    }

    /** True when the launcher runs this application in single-instance mode. */
    public static boolean isSingleInstance() {
        return LauncherProperties.getProcessCommFile() != null;
    }

    public static void addListener(SingleInstanceListener listener) {
        if (listener == null) {
            throw new NullPointerException("listener");
        }
        List<List<String>> waiting;
        synchronized (PENDING) {
            LISTENERS.add(listener);
            waiting = new ArrayList<>(PENDING);
            PENDING.clear();
        }
        for (List<String> arguments : waiting) {
            notifyListener(listener, arguments);
        }
    }

    public static void removeListener(SingleInstanceListener listener) {
        LISTENERS.remove(listener);
    }

    /** Starts the notification thread once, when the launcher named a notification file. */
    static synchronized void startWatching() {
        String name = LauncherProperties.getProcessCommFile();
        if (watcher != null || name == null || name.isEmpty()) {
            return;
        }
        final NotificationReader reader = new NotificationReader(Paths.get(name), NotificationReader.FILES);
        watcher = new Thread(new Runnable() {
            @Override
            public void run() {
                watch(reader);
            }
        }, "single-instance notifications");
        watcher.setDaemon(true);
        watcher.start();
    }

    private static void watch(NotificationReader reader) {
        while (true) {
            for (List<String> arguments : reader.poll()) {
                deliver(arguments);
            }
            try {
                Thread.sleep(POLL_INTERVAL_MS);
            } catch (InterruptedException e) {
                return;
            }
        }
    }

    /** Hands one start's arguments to every listener, or keeps them until one registers. */
    static void deliver(List<String> arguments) {
        List<String> unmodifiable = Collections.unmodifiableList(new ArrayList<>(arguments));
        synchronized (PENDING) {
            if (LISTENERS.isEmpty()) {
                PENDING.add(unmodifiable);
                return;
            }
        }
        for (SingleInstanceListener listener : LISTENERS) {
            notifyListener(listener, unmodifiable);
        }
    }

    private static void notifyListener(SingleInstanceListener listener, List<String> arguments) {
        try {
            listener.newInstanceStarted(arguments);
        } catch (RuntimeException e) {
            // One failing listener must not stop the others or the notification thread.
            e.printStackTrace();
        }
    }

    /** For tests: forget listeners and kept starts. */
    static void reset() {
        synchronized (PENDING) {
            LISTENERS.clear();
            PENDING.clear();
        }
    }
}
