package com.quillon.packer;

import java.nio.file.Path;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.SortedMap;
import java.util.TreeMap;

/** Everything that goes into one payload, as the writer takes it. */
public final class PayloadContent {

    /** Per-language overrides of wide-map keys. */
    public static final class LanguageBlock {
        public final String prefix;
        public final Map<Integer, String> entries;

        public LanguageBlock(String prefix, Map<Integer, String> entries) {
            this.prefix = prefix;
            this.entries = new LinkedHashMap<>(entries);
        }
    }

    /** A file extracted by the launcher, stored under {@code name}. */
    public static final class IncludedFile {
        public final String name;
        public final Path source;

        public IncludedFile(String name, Path source) {
            this.name = name;
            this.source = source;
        }
    }

    public final SortedMap<Integer, String> narrow = new TreeMap<>();
    public final SortedMap<Integer, String> wide = new TreeMap<>();
    public final List<LanguageBlock> languages = new ArrayList<>();
    public final List<IncludedFile> includedFiles = new ArrayList<>();
    /** File whose bytes follow the included files; null for none. */
    public Path unextractedData;
    public boolean integrityCheck;
}
