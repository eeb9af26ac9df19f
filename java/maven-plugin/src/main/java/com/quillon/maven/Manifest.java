package com.quillon.maven;

import java.io.File;

/** {@code <manifest>}: the application manifest's execution level, or a manifest file of one's own. */
public class Manifest {
    private String executionLevel;
    private File file;

    Object toJson() {
        return ConfigJson.object("executionLevel", executionLevel, "file", ConfigJson.path(file));
    }
}
