package com.quillon.runtime.launcher;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/**
 * Reads the notification file of single-instance mode. A second start of the launcher creates
 * the file without sharing, writes its command-line arguments as one line of UTF-16LE text
 * ending in "\n", closes it and waits about ten seconds for it to disappear. One
 * {@link #poll()} reads the file once: while the writer still holds it, or before its line is
 * complete, the file stays for the next poll; a whole line is delivered only after the file
 * was deleted, so that no start is reported twice.
 */
final class NotificationReader {

    /** How the reader reaches the file; tests stand in for a writer that holds it open. */
    interface FileAccess {
        /** The file's bytes; {@link NoSuchFileException} when there is none. */
        byte[] read(Path file) throws IOException;

        void delete(Path file) throws IOException;
    }

    static final FileAccess FILES = new FileAccess() {
        @Override
        public byte[] read(Path file) throws IOException {
            return Files.readAllBytes(file);
        }

        @Override
        public void delete(Path file) throws IOException {
            Files.deleteIfExists(file);
        }
    };

    private final Path file;
    private final FileAccess access;

    NotificationReader(Path file, FileAccess access) {
        this.file = file;
        this.access = access;
    }

    Path file() {
        return file;
    }

    /**
     * Reads and removes the file when it holds whole lines.
     *
     * @return the argument lists of the starts it held, oldest first; empty when there is
     *         nothing to deliver yet
     */
    List<List<String>> poll() {
        List<List<String>> starts = new ArrayList<>();
        byte[] bytes;
        try {
            bytes = access.read(file);
        } catch (NoSuchFileException e) {
            return starts;
        } catch (IOException e) {
            // Typically a sharing violation while the second instance still writes.
            return starts;
        }
        String text = new String(bytes, 0, bytes.length & ~1, StandardCharsets.UTF_16LE);
        int end = text.lastIndexOf('\n');
        if (end < 0) {
            return starts;
        }
        try {
            access.delete(file);
        } catch (IOException e) {
            return starts;
        }
        for (String line : text.substring(0, end).split("\n", -1)) {
            if (line.startsWith("\uFEFF")) {
                line = line.substring(1);
            }
            if (line.endsWith("\r")) {
                line = line.substring(0, line.length() - 1);
            }
            starts.add(CommandLine.split(line));
        }
        return starts;
    }
}
