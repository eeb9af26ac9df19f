package com.tarvo.runtime;

import com.quillon.runtime.launcher.LaunchParameters;

/**
 * The Java launcher class of the tarvo flavor; it behaves as
 * {@link com.quillon.runtime.launcher.WinLauncher}.
 */
public final class WinLauncher {

    private WinLauncher() {
    }

    public static void main(String[] args) throws Throwable {
        com.quillon.runtime.launcher.WinLauncher.main(args);
    }

    public static LaunchParameters getParameters() {
        return com.quillon.runtime.launcher.WinLauncher.getParameters();
    }
}
