package com.quillon.maven;

import com.quillon.packer.Json;
import java.io.File;
import java.io.IOException;
import java.math.BigDecimal;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Properties;
import java.util.TreeMap;
import org.apache.maven.plugin.MojoFailureException;

/** Building, reading and merging the packer's JSON config. */
final class ConfigJson {

    /**
     * Path fields of a config file, made absolute against the file's directory before the
     * config moves to the build directory. The nested ones are written as "outer.inner";
     * "[]" marks the entries of an array.
     */
    static final List<String> PATH_FIELDS = Arrays.asList(
            "unextractedData", "icon", "bundledRuntime", "includedFiles[].source", "resources[].source",
            "splashScreen.image", "manifest.file", "signing.keystore", "runtimeDownloadPinFrom");

    private ConfigJson() {
    }

    /** An object of the given name/value pairs in order; null values are left out. */
    static Map<String, Object> object(Object... namesAndValues) {
        Map<String, Object> o = new LinkedHashMap<>();
        for (int i = 0; i < namesAndValues.length; i += 2) {
            if (namesAndValues[i + 1] != null) {
                o.put((String) namesAndValues[i], namesAndValues[i + 1]);
            }
        }
        return o;
    }

    static String path(File file) {
        return file == null ? null : file.getAbsolutePath();
    }

    static Object number(String digits) {
        return new BigDecimal(digits);
    }

    /**
     * "true" and "false" as booleans. Maven would read any other text as false; it goes to the
     * packer as written instead, which refuses it with its own message.
     */
    static Object flag(String text) {
        return text == null ? null : text.equals("true") ? Boolean.TRUE : text.equals("false") ? Boolean.FALSE : text;
    }

    /** A whole number as a number; other text goes to the packer as written, which refuses it. */
    static Object whole(String text) {
        return text == null ? null : text.trim().matches("-?[0-9]+") ? number(text.trim()) : text;
    }

    /** "12, 34, 56" as [12, 34, 56]; the packer checks the range. */
    static List<Object> color(String text) throws MojoFailureException {
        if (text == null) {
            return null;
        }
        List<Object> parts = new ArrayList<>();
        for (String part : text.split(",", -1)) {
            try {
                parts.add(Integer.valueOf(part.trim()));
            } catch (NumberFormatException e) {
                throw new MojoFailureException("splash screen color \"" + text + "\" is not \"red,green,blue\"");
            }
        }
        return parts;
    }

    /** Decimal key → text, in key order (the launcher does not care, people reading the JSON do). */
    static Map<String, Object> keyMap(Properties properties) {
        if (properties == null) {
            return null;
        }
        Map<String, Object> sorted = new TreeMap<>((a, b) -> {
            boolean na = a.matches("-?[0-9]{1,9}");
            boolean nb = b.matches("-?[0-9]{1,9}");
            return na && nb ? Integer.compare(Integer.parseInt(a), Integer.parseInt(b)) : a.compareTo(b);
        });
        for (String name : properties.stringPropertyNames()) {
            sorted.put(name, properties.getProperty(name));
        }
        return new LinkedHashMap<>(sorted);
    }

    /**
     * A value of {@code <settings>}: true and false are booleans, text that starts with "{", "["
     * or a double quote is JSON, anything else is a string as written.
     */
    static Object settingValue(String name, String text) throws MojoFailureException {
        String t = text == null ? "" : text.trim();
        if (t.equals("true") || t.equals("false")) {
            return Boolean.valueOf(t);
        }
        if (t.startsWith("{") || t.startsWith("[") || t.startsWith("\"")) {
            try {
                return Json.parse(t);
            } catch (Json.ParseException e) {
                throw new MojoFailureException("settings." + name + ": not valid JSON at column " + e.column()
                        + ": " + e.reason());
            }
        }
        return text == null ? "" : text;
    }

    /** Members of {@code over} replace those of {@code base}; objects on both sides merge member by member. */
    @SuppressWarnings("unchecked")
    static Map<String, Object> merge(Map<String, Object> base, Map<String, Object> over) {
        Map<String, Object> merged = new LinkedHashMap<>(base);
        for (Map.Entry<String, Object> e : over.entrySet()) {
            Object old = merged.get(e.getKey());
            if (old instanceof Map && e.getValue() instanceof Map) {
                merged.put(e.getKey(), merge((Map<String, Object>) old, (Map<String, Object>) e.getValue()));
            } else {
                merged.put(e.getKey(), e.getValue());
            }
        }
        return merged;
    }

    /** Reads a config file the packer understands, with its relative paths made absolute. */
    @SuppressWarnings("unchecked")
    static Map<String, Object> read(Path file) throws MojoFailureException {
        String text;
        try {
            text = new String(Files.readAllBytes(file), StandardCharsets.UTF_8);
        } catch (IOException e) {
            throw new MojoFailureException("cannot read the config file " + file + ": " + e.getMessage(), e);
        }
        Object root;
        try {
            root = Json.parse(text);
        } catch (Json.ParseException e) {
            throw new MojoFailureException(file + ":" + e.line() + ":" + e.column() + ": " + e.reason());
        }
        if (!(root instanceof Map)) {
            throw new MojoFailureException(file + ": the config must be a JSON object");
        }
        Map<String, Object> config = (Map<String, Object>) root;
        absolutizePaths(config, file.toAbsolutePath().getParent());
        return config;
    }

    /** Makes the relative paths among {@link #PATH_FIELDS} of {@code config} absolute against {@code dir}. */
    static void absolutizePaths(Map<String, Object> config, Path dir) {
        for (String field : PATH_FIELDS) {
            absolutize(config, field.split("\\."), 0, dir);
        }
    }

    @SuppressWarnings("unchecked")
    private static void absolutize(Object node, String[] parts, int index, Path dir) {
        if (!(node instanceof Map)) {
            return;
        }
        Map<String, Object> map = (Map<String, Object>) node;
        String part = parts[index];
        boolean each = part.endsWith("[]");
        String name = each ? part.substring(0, part.length() - 2) : part;
        Object value = map.get(name);
        if (each) {
            if (value instanceof List) {
                for (Object item : (List<Object>) value) {
                    absolutize(item, parts, index + 1, dir);
                }
            }
        } else if (index + 1 < parts.length) {
            absolutize(value, parts, index + 1, dir);
        } else if (value instanceof String) {
            map.put(name, dir.resolve((String) value).normalize().toString());
        }
    }

    /**
     * The four numbers Windows keeps of a version: "1.2.3" is 1.2.3.0, "2.0-SNAPSHOT" 2.0.0.0,
     * "1.5.0.RELEASE" 1.5.0.0; a part beyond 65535 or a version without a leading number gives null.
     */
    static String numericVersion(String version) {
        if (version == null) {
            return null;
        }
        java.util.regex.Matcher m = java.util.regex.Pattern.compile("^(\\d+)(?:\\.(\\d+))?(?:\\.(\\d+))?(?:\\.(\\d+))?")
                .matcher(version);
        if (!m.find()) {
            return null;
        }
        StringBuilder sb = new StringBuilder();
        for (int i = 1; i <= 4; i++) {
            String part = m.group(i) == null ? "0" : m.group(i);
            if (part.length() > 5 || Integer.parseInt(part) > 65535) {
                return null;
            }
            sb.append(i > 1 ? "." : "").append(Integer.parseInt(part));
        }
        return sb.toString();
    }
}
