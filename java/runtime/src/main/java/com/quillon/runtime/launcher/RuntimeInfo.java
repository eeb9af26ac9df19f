package com.quillon.runtime.launcher;

/**
 * Identifies the runtime library, so that tools can tell which library they hold.
 */
public final class RuntimeInfo {

    /** Name of the library as it appears in diagnostics. */
    public static final String NAME = "quillon runtime";

    private RuntimeInfo() {
    }
}
