package com.quillon.runtime.launcher;

import java.util.List;

/**
 * Told when the application's launcher is started again while it runs in single-instance mode.
 * The second start does not run the application; it brings this instance's windows to the
 * front, hands its arguments over and ends.
 */
public interface SingleInstanceListener {

    /**
     * Called on the notification thread, never on an event dispatch thread: a Swing or JavaFX
     * application hands the work over to its own thread.
     *
     * @param arguments the second start's command-line arguments, split as {@code main}
     *        would have received them, without the program path
     */
    void newInstanceStarted(List<String> arguments);
}
