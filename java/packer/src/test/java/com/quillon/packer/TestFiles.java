package com.quillon.packer;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;

/** Small helpers for writing configs and input files in a test's temp directory. */
final class TestFiles {

    private TestFiles() {
    }

    /** Config text with ' standing for " so that the JSON stays readable in Java strings. */
    static String json(String text) {
        return text.replace('\'', '"');
    }

    static Path config(Path dir, String jsonWithSingleQuotes) throws IOException {
        Path file = dir.resolve("config.json");
        Files.write(file, json(jsonWithSingleQuotes).getBytes(StandardCharsets.UTF_8));
        return file;
    }

    static Path file(Path dir, String relative, byte[] bytes) throws IOException {
        Path file = dir.resolve(relative);
        Files.createDirectories(file.getParent());
        Files.write(file, bytes);
        return file;
    }
}
