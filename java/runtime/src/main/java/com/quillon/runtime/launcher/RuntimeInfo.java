package com.quillon.runtime.launcher;

/**
 * Identifies the runtime library. The launcher-facing classes of this package
 * are added beside it; until then this keeps the jar non-empty and gives
 * tools a way to tell which library they hold.
 */
public final class RuntimeInfo {

    /** Name of the library as it appears in diagnostics. */
    public static final String NAME = "quillon runtime";

    private RuntimeInfo() {
    }
}
