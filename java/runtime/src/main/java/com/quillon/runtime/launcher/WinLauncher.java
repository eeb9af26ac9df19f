package com.quillon.runtime.launcher;

/**
 * The Java launcher class of the quillon flavor: the native launcher calls {@link #main} with
 * the launcher parameters, the program path and the application's arguments, and this class
 * starts the application's main class (launcher parameter 2) with those arguments.
 */
public final class WinLauncher {

    private WinLauncher() {
    }

    public static void main(String[] args) throws Throwable {
        ServiceControl.startWatching();
        ApplicationStarter.start(args);
    }

    /** The parameters of this start; null when the application was not started by a launcher. */
    public static LaunchParameters getParameters() {
        return ApplicationStarter.current();
    }
}
