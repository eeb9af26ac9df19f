package com.tarvo.runtime;

/**
 * Drives the launcher's splash window from the application: a new status line, or closing the
 * window once the application is ready.
 *
 * <p>The launcher's splash thread asks this class about every 100 ms what to do, through
 * {@code getAction} and {@code getText}. A status text set between two of its questions replaces
 * the one before; a hide request wins over any status text. Without a splash window both calls
 * do nothing visible. With the Java runtime's own splash library (the launcher's alternative),
 * use {@link java.awt.SplashScreen} instead.
 */
public final class TarvoController {

    static final int NO_ACTION = 0;
    static final int ACTION_HIDE = 1;
    static final int ACTION_NEW_TEXT = 2;

    private static final Object LOCK = new Object();
    private static String pendingText;
    private static boolean hideRequested;

    private TarvoController() {
    }

    /**
     * Shows {@code text} in the splash window's status line. The window shows only characters up
     * to U+00FF, and ends the line before the first other one; {@code null} clears the line.
     */
    public static void setSplashStatusText(String text) {
        synchronized (LOCK) {
            pendingText = text == null ? "" : text;
        }
    }

    /** Hides the splash window; it does not come back. */
    public static void hideSplashScreen() {
        synchronized (LOCK) {
            hideRequested = true;
        }
    }

    /** Asked by the launcher: 1 hide the window, 2 fetch a new status text, 0 nothing. */
    static int getAction() {
        synchronized (LOCK) {
            if (hideRequested) {
                return ACTION_HIDE;
            }
            return pendingText != null ? ACTION_NEW_TEXT : NO_ACTION;
        }
    }

    /** Asked by the launcher after action 2: the newest status text, handed over once. */
    static String getText() {
        synchronized (LOCK) {
            String text = pendingText;
            pendingText = null;
            return text;
        }
    }

    /** Back to the state at class loading, for tests. */
    static void reset() {
        synchronized (LOCK) {
            pendingText = null;
            hideRequested = false;
        }
    }
}
