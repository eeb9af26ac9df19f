package com.example.hello;

import com.quillon.runtime.launcher.LauncherProperties;
import com.quillon.runtime.launcher.WinLauncher;

/** Prints its greeting and where it runs. */
public final class Hello {

    private Hello() {
    }

    public static void main(String[] args) {
        System.out.println(System.getProperty("hello.greeting", "Hello"));
        System.out.println("Java " + System.getProperty("java.version") + " in " + System.getProperty("java.home"));
        if (WinLauncher.getParameters() != null) {
            System.out.println("Started by " + LauncherProperties.getModuleName());
        }
        for (String arg : args) {
            System.out.println("  [" + arg + "]");
        }
    }
}
