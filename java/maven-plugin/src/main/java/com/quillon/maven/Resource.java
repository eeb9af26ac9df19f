package com.quillon.maven;

import java.io.File;

/** {@code <resources><resource>}: a BITMAP, RCDATA or ICON resource written into the launcher. */
public class Resource {
    private String type;
    private String id;
    private File source;

    Object toJson() {
        return ConfigJson.object("type", type, "id", id != null && id.matches("[0-9]+") ? ConfigJson.number(id) : id,
                "source", ConfigJson.path(source));
    }
}
