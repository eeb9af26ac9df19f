package com.quillon.runtime.launcher;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;

/**
 * What the launcher passes to {@code main} of the launcher class: five launcher parameters,
 * the program path as written on the command line, then the application's arguments (the
 * configured fixed arguments followed by those of the command line).
 */
public final class LaunchParameters {

    /** The launcher always passes this many parameters ahead of the program path. */
    public static final int LAUNCHER_PARAMETER_COUNT = 5;

    private final boolean guiApplication;
    private final String mainClass;
    private final String errorLog;
    private final String outputLog;
    private final boolean appendToLogs;
    private final String programPath;
    private final List<String> arguments;

    private LaunchParameters(String[] args) {
        guiApplication = Boolean.parseBoolean(args[0]);
        mainClass = args[1];
        errorLog = args[2];
        outputLog = args[3];
        appendToLogs = Boolean.parseBoolean(args[4]);
        programPath = args.length > LAUNCHER_PARAMETER_COUNT ? args[LAUNCHER_PARAMETER_COUNT] : "";
        List<String> rest = args.length > LAUNCHER_PARAMETER_COUNT + 1
                ? Arrays.asList(args).subList(LAUNCHER_PARAMETER_COUNT + 1, args.length)
                : Collections.<String>emptyList();
        arguments = Collections.unmodifiableList(new ArrayList<>(rest));
    }

    /**
     * Reads the array the launcher passed.
     *
     * @throws IllegalArgumentException when it holds fewer than the five launcher parameters,
     *         that is when the launcher class was not started by a launcher
     */
    public static LaunchParameters parse(String[] args) {
        if (args == null || args.length < LAUNCHER_PARAMETER_COUNT) {
            throw new IllegalArgumentException("expected at least " + LAUNCHER_PARAMETER_COUNT
                    + " launcher parameters, got " + (args == null ? 0 : args.length)
                    + "; this class is started by the native launcher");
        }
        return new LaunchParameters(args);
    }

    /** Parameter 1: the launcher is configured as a GUI application. */
    public boolean isGuiApplication() {
        return guiApplication;
    }

    /** Parameter 2: the application's main class. */
    public String getMainClass() {
        return mainClass;
    }

    /** Parameter 3: file for the application's standard error; empty for none. */
    public String getErrorLog() {
        return errorLog;
    }

    /** Parameter 4: file for the application's standard output; empty for none. */
    public String getOutputLog() {
        return outputLog;
    }

    /** Parameter 5: append to the log files instead of replacing them. */
    public boolean isAppendToLogs() {
        return appendToLogs;
    }

    /** The launcher executable as the command line named it; empty when it had no words. */
    public String getProgramPath() {
        return programPath;
    }

    /** The arguments the application's {@code main} receives. */
    public List<String> getArguments() {
        return arguments;
    }
}
