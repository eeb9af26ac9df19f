package com.quillon.maven;

import java.io.File;

/** {@code <includedFiles><file>}: a file the launcher extracts before it starts Java. */
public class IncludedFile {
    private String name;
    private File source;

    IncludedFile() {
    }

    IncludedFile(String name, File source) {
        this.name = name;
        this.source = source;
    }

    Object toJson() {
        return ConfigJson.object("name", name != null ? name : source == null ? null : source.getName(),
                "source", ConfigJson.path(source));
    }
}
