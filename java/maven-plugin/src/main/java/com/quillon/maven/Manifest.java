package com.quillon.maven;

import java.io.File;

/** {@code <manifest>}: the application manifest's execution level, or a manifest file of one's own. */
public class Manifest {
    private String executionLevel;
    private File file;

    /**
     * "manifest": {"executionLevel": ..., "file": ...} with what is given; the packer refuses a
     * level together with a file, and a level that differs from a top-level "executionLevel".
     */
    Object toJson() {
        return executionLevel == null && file == null ? null
                : ConfigJson.object("executionLevel", executionLevel, "file", ConfigJson.path(file));
    }
}
