package com.tarvo.runtime;

import java.io.File;
import java.io.IOException;
import java.lang.management.ManagementFactory;
import java.lang.reflect.Method;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.TimeUnit;

/**
 * The hand-over between the installer launcher and the Java installer it starts.
 *
 * <p>While the JVM starts, the installer launcher shows its progress dialog and waits until the
 * process shows a window of its own. An installer whose first window comes late, or that has
 * none (a console or unattended install), calls {@link #endLauncherWait()} as soon as it runs:
 * the launcher then hides its dialog at its next poll (at most 100 ms later) and stops counting
 * towards its start time-out.
 *
 * <p>The launcher watches the {@code REG_DWORD} value {@code InstallStarted_<process id>} under
 * {@code HKEY_CURRENT_USER\SOFTWARE\brightwell\tarvo}; the JVM runs inside the launcher's
 * process, so the id is this process's own. The launcher writes 1 there; the value 2 ends its
 * wait. The value is written with the system's {@code reg.exe}.
 */
public final class InstallStarted {

    /** The registry key of the hand-over values, below HKEY_CURRENT_USER. */
    public static final String KEY = "SOFTWARE\\brightwell\\tarvo";
    /** The value that ends the launcher's wait. */
    public static final int STARTED = 2;

    private static final long TIMEOUT_SECONDS = 30;

    private InstallStarted() {
    }

    /** The name of this process's value: "InstallStarted_" and the decimal process id. */
    public static String valueName() {
        return valueName(processId());
    }

    static String valueName(long processId) {
        return "InstallStarted_" + processId;
    }

    /**
     * Writes 2 into this process's value, which ends the installer launcher's wait.
     *
     * @return true when the value was written; false off Windows or when reg.exe failed
     */
    public static boolean endLauncherWait() {
        String systemRoot = System.getenv("SystemRoot");
        if (systemRoot == null || !System.getProperty("os.name", "").startsWith("Windows")) {
            return false;
        }
        try {
            Process process = new ProcessBuilder(command(systemRoot, processId()))
                    .redirectErrorStream(true)
                    .redirectOutput(ProcessBuilder.Redirect.appendTo(new File("NUL")))
                    .start();
            if (!process.waitFor(TIMEOUT_SECONDS, TimeUnit.SECONDS)) {
                process.destroy();
                return false;
            }
            return process.exitValue() == 0;
        } catch (IOException e) {
            return false;
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            return false;
        }
    }

    /** The reg.exe command line; the full path keeps a reg.exe of the current directory out. */
    static List<String> command(String systemRoot, long processId) {
        return Arrays.asList(systemRoot + "\\System32\\reg.exe", "add", "HKCU\\" + KEY, "/v",
                valueName(processId), "/t", "REG_DWORD", "/d", Integer.toString(STARTED), "/f");
    }

    /** The id of this process: ProcessHandle where there is one (Java 9), else the JMX name. */
    static long processId() {
        try {
            Class<?> handle = Class.forName("java.lang.ProcessHandle");
            Object current = handle.getMethod("current").invoke(null);
            Method pid = handle.getMethod("pid");
            return (Long) pid.invoke(current);
        } catch (ReflectiveOperationException | ClassCastException e) {
            String name = ManagementFactory.getRuntimeMXBean().getName();
            return Long.parseLong(name.substring(0, name.indexOf('@')));
        }
    }
}
