package com.quillon.packer;

import java.util.ArrayList;
import java.util.List;
import java.util.Locale;

/**
 * The launchers always start the runtime library's launcher class (WinLauncher), which then
 * starts the configured main class. A class path that cannot hold the runtime library makes
 * every start fail with "the Java launcher class was not found"; warn while packing instead.
 */
final class ClassPathCheck {

    private ClassPathCheck() {
    }

    /** The warnings for a payload; empty when the class path may hold the runtime library. */
    static List<String> warnings(PayloadContent content) {
        List<String> warnings = new ArrayList<>();
        if (content.narrow.get(PackerConfig.KEY_MAIN_CLASS) == null || mayHoldRuntimeLibrary(content)) {
            return warnings;
        }
        String launcherClass = "q".equals(flavor(content)) ? "com.quillon.runtime.launcher.WinLauncher"
                : "com.tarvo.runtime.WinLauncher";
        warnings.add("the class path does not name the runtime library, yet the launcher starts its class "
                + launcherClass + " (which then runs " + content.narrow.get(PackerConfig.KEY_MAIN_CLASS)
                + "); add runtime.jar to \"includedFiles\" or as a \"classPath\" entry such as"
                + " {\"type\": \"A\", \"required\": true, \"value\": \"lib\\\\runtime.jar\"}");
        return warnings;
    }

    private static String flavor(PayloadContent content) {
        String f = content.narrow.get(PackerConfig.KEY_FLAVOR);
        return f == null || f.isEmpty() ? "" : f.substring(0, 1);
    }

    /**
     * True when an included jar or an archive entry is named like the runtime library, or when
     * an entry (a directory, a scanned directory, an environment variable) may hold it unseen.
     */
    private static boolean mayHoldRuntimeLibrary(PayloadContent content) {
        for (PayloadContent.IncludedFile f : content.includedFiles) {
            if (looksLikeRuntime(f.name)) {
                return true;
            }
        }
        for (String item : PayloadReader.splitList(content.narrow.get(PackerConfig.KEY_CLASS_PATH))) {
            char type = Character.toUpperCase(item.charAt(0));
            if (type != 'A') {
                return true;
            }
            if (looksLikeRuntime(item.length() > 2 ? item.substring(2) : "")) {
                return true;
            }
        }
        return false;
    }

    private static boolean looksLikeRuntime(String path) {
        String name = path.substring(Math.max(path.lastIndexOf('\\'), path.lastIndexOf('/')) + 1)
                .toLowerCase(Locale.ROOT);
        return name.endsWith(".jar") && name.contains("runtime");
    }
}
