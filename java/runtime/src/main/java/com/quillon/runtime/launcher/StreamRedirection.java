package com.quillon.runtime.launcher;

import java.io.File;
import java.io.FileNotFoundException;
import java.io.FileOutputStream;
import java.io.PrintStream;

/**
 * Launcher parameters 3 and 4 send the application's standard error and standard output into
 * files, which GUI applications without a console need to keep their output. The launcher
 * hands a full path, or a value that begins with "$" unchanged: "$NAME" up to the first
 * slash or backslash names an environment variable whose value replaces it.
 */
final class StreamRedirection {

    /** Looks environment variables up; tests pass their own. */
    interface Environment {
        String get(String name);
    }

    static final Environment SYSTEM = new Environment() {
        @Override
        public String get(String name) {
            return System.getenv(name);
        }
    };

    private StreamRedirection() {
    }

    static void apply(LaunchParameters parameters) {
        PrintStream err = open(parameters.getErrorLog(), parameters.isAppendToLogs(), SYSTEM);
        if (err != null) {
            System.setErr(err);
        }
        PrintStream out = open(parameters.getOutputLog(), parameters.isAppendToLogs(), SYSTEM);
        if (out != null) {
            System.setOut(out);
        }
    }

    /** The file a parameter names, or null when it names none or its variable is not set. */
    static File resolve(String value, Environment environment) {
        if (value == null || value.isEmpty()) {
            return null;
        }
        if (!value.startsWith("$")) {
            return new File(value);
        }
        int end = 1;
        while (end < value.length() && value.charAt(end) != '\\' && value.charAt(end) != '/') {
            end++;
        }
        String name = value.substring(1, end);
        String replacement = name.isEmpty() ? null : environment.get(name);
        if (replacement == null) {
            return null;
        }
        return new File(replacement + value.substring(end));
    }

    private static PrintStream open(String value, boolean append, Environment environment) {
        File file = resolve(value, environment);
        if (file == null) {
            return null;
        }
        try {
            File parent = file.getAbsoluteFile().getParentFile();
            if (parent != null) {
                parent.mkdirs();
            }
            return new PrintStream(new FileOutputStream(file, append), true);
        } catch (FileNotFoundException | SecurityException e) {
            System.err.println("cannot write " + file + ": " + e.getMessage());
            return null;
        }
    }
}
