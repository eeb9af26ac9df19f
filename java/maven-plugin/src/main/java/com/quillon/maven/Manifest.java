package com.quillon.maven;

import java.io.File;

/** {@code <manifest>}: the application manifest's execution level, or a manifest file of one's own. */
public class Manifest {
    private String executionLevel;
    private File file;

    /** The packer's top-level "executionLevel": it belongs to the packer's own manifest, not to "manifest". */
    String executionLevel() {
        return executionLevel;
    }

    /** "manifest": {"file": ...}, or null without a file of one's own. */
    Object toJson() {
        return file == null ? null : ConfigJson.object("file", ConfigJson.path(file));
    }
}
