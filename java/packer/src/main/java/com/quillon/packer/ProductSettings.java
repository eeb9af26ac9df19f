package com.quillon.packer;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.List;
import java.util.Map;

/**
 * The settings that make a launcher a finished Windows program rather than payload: signing,
 * icon, version information, manifest, subsystem and a runtime archive built from a directory.
 */
final class ProductSettings {

    static final List<String> NAMES = Arrays.asList("signing");

    private final String source;
    private final Path baseDir;
    Signing signing;

    private ProductSettings(String source, Path baseDir) {
        this.source = source;
        this.baseDir = baseDir;
    }

    static ProductSettings read(Map<String, Object> settings, Path baseDir, String source) throws PackerException {
        ProductSettings p = new ProductSettings(source, baseDir);
        p.signing = Signing.read(settings.get("signing"), p);
        return p;
    }

    // ------------------------------------------------------------------ helpers

    @SuppressWarnings("unchecked")
    Map<String, Object> object(Object value, String where) throws PackerException {
        if (!(value instanceof Map)) {
            throw fail("\"" + where + "\" must be an object");
        }
        return (Map<String, Object>) value;
    }

    void allowOnly(Map<String, Object> object, String where, String... names) throws PackerException {
        List<String> allowed = Arrays.asList(names);
        for (String name : object.keySet()) {
            if (!allowed.contains(name)) {
                throw fail(where + ": unknown field \"" + name + "\"; expected " + String.join(", ", allowed));
            }
        }
    }

    String requiredString(Object value, String where) throws PackerException {
        if (!(value instanceof String) || ((String) value).isEmpty()) {
            throw fail(where + " must be a non-empty string");
        }
        return (String) value;
    }

    String optionalString(Object value, String where) throws PackerException {
        return value == null ? null : requiredString(value, where);
    }

    boolean flag(Object value, String where, boolean otherwise) throws PackerException {
        if (value == null) {
            return otherwise;
        }
        if (!(value instanceof Boolean)) {
            throw fail(where + " must be true or false");
        }
        return (Boolean) value;
    }

    /** A file named in the config, relative to the config's directory. */
    Path file(String name, String where) throws PackerException {
        Path file = baseDir.resolve(name).normalize();
        if (!Files.isRegularFile(file)) {
            throw fail(where + ": " + file + " does not exist or is not a file");
        }
        return file;
    }

    Path directory(String name, String where) throws PackerException {
        Path dir = baseDir.resolve(name).normalize();
        if (!Files.isDirectory(dir)) {
            throw fail(where + ": " + dir + " does not exist or is not a directory");
        }
        return dir;
    }

    PackerException fail(String message) {
        return new PackerException(source + ": " + message);
    }
}
