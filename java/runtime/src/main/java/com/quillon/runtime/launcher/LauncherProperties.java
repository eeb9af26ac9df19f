package com.quillon.runtime.launcher;

/**
 * The system properties a launcher sets before it creates the JVM. Each getter reads the
 * property when called, so an application may also read them directly.
 */
public final class LauncherProperties {

    public static final String SEMAPHORE_NAME = "tarvo.semaphoreName";
    public static final String MANUAL_JRE = "tarvo.manualJre";
    public static final String IS_QUILLON = "tarvo.isQuillon";
    public static final String IS_SERVICE = "tarvo.isService";
    public static final String MODULE_NAME = "tarvo.moduleName";
    public static final String PROCESS_COMM_FILE = "tarvo.processCommFile";
    public static final String TEMP_DIR = "tarvo.tempDir";
    public static final String UNEXTRACTED_POSITION = "tarvo.unextractedPosition";
    public static final String CONSOLE_CODEPAGE = "tarvo.consoleCodepage";

    private LauncherProperties() {
    }

    /** True when the JVM was created by one of the native launchers. */
    public static boolean isLaunched() {
        return property(MODULE_NAME) != null;
    }

    /** Name of the launcher's instance semaphore; null in a language-restart run. */
    public static String getSemaphoreName() {
        return property(SEMAPHORE_NAME);
    }

    /** The installer was started with "-manual": the user wants to pick a runtime. */
    public static boolean isManualJre() {
        return Boolean.parseBoolean(property(MANUAL_JRE));
    }

    public static boolean isQuillon() {
        return Boolean.parseBoolean(property(IS_QUILLON));
    }

    /** The service launcher runs this JVM as a Windows service. */
    public static boolean isService() {
        return Boolean.parseBoolean(property(IS_SERVICE));
    }

    /** Full path of the launcher executable. */
    public static String getModuleName() {
        return property(MODULE_NAME);
    }

    /** Notification file of single-instance mode; null when the launcher runs without it. */
    public static String getProcessCommFile() {
        return property(PROCESS_COMM_FILE);
    }

    /** The directory the launcher extracted its included files into; empty when none. */
    public static String getTempDir() {
        String value = property(TEMP_DIR);
        return value == null ? "" : value;
    }

    /**
     * Byte offset in the launcher executable where the payload's unextracted data begins; -1
     * when there is none to read (a language-restart run, or not started by a launcher).
     */
    public static long getUnextractedPosition() {
        String value = property(UNEXTRACTED_POSITION);
        if (value == null) {
            return -1;
        }
        try {
            return Long.parseLong(value.trim());
        } catch (NumberFormatException e) {
            return -1;
        }
    }

    /**
     * Code page of the console the launcher runs in ("cp850"), "cp0" without a console, null
     * when the launcher did not say (it leaves it out while MANPATH is set).
     */
    public static String getConsoleCodepage() {
        return property(CONSOLE_CODEPAGE);
    }

    private static String property(String name) {
        return System.getProperty(name);
    }
}
