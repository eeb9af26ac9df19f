package com.quillon.packer;

import java.util.SortedMap;
import java.util.TreeMap;

/**
 * English texts written for every message key that a config leaves alone, so that a launcher
 * built from a minimal config still explains its errors. The launchers have no texts of their own.
 *
 * <p>Narrow messages get "{0}" where the launcher passes a detail. The wide keys 20005 and 20006
 * are printf formats that receive the bitness as narrow text ("%S" in a wide format), and 20008
 * receives four doubles; a literal percent sign is "%%" there.
 */
public final class DefaultTexts {

    private DefaultTexts() {
    }

    /**
     * Message keys 1000 to 1020. The caption is the application name when there is one, and the
     * missing-runtime message names the accepted version range when one is configured.
     */
    public static SortedMap<Integer, String> messages(String applicationName, String minVersion, String maxVersion) {
        SortedMap<Integer, String> m = new TreeMap<>();
        m.put(1000, isEmpty(applicationName) ? "Error" : applicationName);
        m.put(1005, "The application could not be started. The Java virtual machine could not be loaded or "
                + "created, or the application stopped with an error.");
        m.put(1006, "A file that the application needs was not found:\n{0}\n\nPlease reinstall the application.");
        m.put(1008, "The environment variable {0} is not set, but the application needs it to find its files.");
        m.put(1009, "An internal error occurred (code {0}).");
        m.put(1010, "The application could not be started because its Java launcher class was not found. "
                + "The application's files may be incomplete; please reinstall the application.");
        m.put(1011, "The application could not be started because the main method of its Java launcher class "
                + "was not found. The application's files may be damaged; please reinstall the application.");
        m.put(1015, "No usable temporary directory was found. Please make sure that the TEMP directory exists "
                + "and can be written to.");
        m.put(1016, "No suitable {0}-bit Java runtime was found." + versionSentence(minVersion, maxVersion)
                + " Please install one and start the application again.");
        m.put(1018, "A Java runtime was found ({0}), but it could not be loaded.");
        m.put(1020, "The Java virtual machine of the runtime ({0}) could not be loaded. The runtime may be "
                + "damaged or made for a different processor type (32-bit or 64-bit).");
        return m;
    }

    /** Localized keys 20001 to 20020 (20015 is not used by the launchers). */
    public static SortedMap<Integer, String> localized(String applicationName) {
        boolean named = !isEmpty(applicationName);
        SortedMap<Integer, String> m = new TreeMap<>();
        m.put(20001, "Downloading the Java runtime...");
        m.put(20002, "The Java runtime cannot be downloaded because the Windows internet functions "
                + "(wininet.dll) are not available.");
        m.put(20003, "The Java runtime could not be downloaded. Please check your internet connection and "
                + "try again.");
        m.put(20004, "Locate java.exe");
        // The launcher appends " (minimum version: ..., maximum version: ...)" to 20005 and 20006,
        // so they end on the requirement rather than on a full stop.
        m.put(20005, "No suitable Java runtime was found on this computer. You can download one now, or "
                + "locate an installed java.exe.\n\nRequired: %S-bit Java runtime");
        m.put(20006, "No suitable Java runtime was found on this computer. Please install one, or locate an "
                + "installed java.exe.\n\nRequired: %S-bit Java runtime");
        m.put(20007, "Preparing the installation...");
        m.put(20008, "%.1f MB of %.1f MB (%.0f%%), %.0f kB/s");
        m.put(20009, "Connecting...");
        m.put(20010, "Download");
        m.put(20011, "Locate...");
        m.put(20012, "Cancel");
        m.put(20013, named ? applicationName + " Setup" : "Setup");
        m.put(20014, "The installer did not start in time. Please try again.");
        m.put(20016, "The installer is damaged or incomplete. Please download it again.");
        m.put(20017, named ? "Runs " + applicationName + " as a Windows service."
                : "Runs a Java application as a Windows service.");
        m.put(20018, "A file could not be written while preparing the installation. Please check that there is "
                + "enough free disk space and try again.");
        m.put(20019, "minimum version:");
        m.put(20020, "maximum version:");
        return m;
    }

    private static String versionSentence(String min, String max) {
        if (!isEmpty(min) && !isEmpty(max)) {
            return " The application needs Java version " + min + " up to " + max + ".";
        }
        if (!isEmpty(min)) {
            return " The application needs Java version " + min + " or later.";
        }
        if (!isEmpty(max)) {
            return " The application needs Java version " + max + " or earlier.";
        }
        return "";
    }

    private static boolean isEmpty(String s) {
        return s == null || s.isEmpty();
    }
}
