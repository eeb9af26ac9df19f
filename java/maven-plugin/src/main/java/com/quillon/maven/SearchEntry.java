package com.quillon.maven;

/** {@code <searchSequence><entry>}: where the launcher looks for a Java runtime (A, B, R, E, S, Y). */
public class SearchEntry {
    private String type;
    private String value;

    Object toJson() {
        return ConfigJson.object("type", type, "value", value);
    }
}
