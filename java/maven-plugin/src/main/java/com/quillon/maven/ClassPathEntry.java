package com.quillon.maven;

/** {@code <classPath><entry>}: a class path entry of the launcher ({@code type} A, D, E or S). */
public class ClassPathEntry {
    private String type;
    private String required;
    private String value;

    Object toJson() {
        return ConfigJson.object("type", type, "required", ConfigJson.flag(required), "value", value);
    }
}
