package com.quillon.maven;

/** {@code <classPath><entry>}: a class path entry of the launcher ({@code type} A, D, E or S). */
public class ClassPathEntry {
    private String type;
    private Boolean required;
    private String value;

    Object toJson() {
        return ConfigJson.object("type", type, "required", required, "value", value);
    }
}
