package com.quillon.maven;

import java.util.Properties;

/** {@code <languages><language>}: texts for one locale prefix, keys 20001 and up. */
public class Language {
    private String prefix;
    private Properties texts;

    String prefix() {
        return prefix;
    }

    Object toJson() {
        return ConfigJson.keyMap(texts);
    }
}
