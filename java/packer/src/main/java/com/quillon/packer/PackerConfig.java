package com.quillon.packer;

import java.io.IOException;
import java.math.BigDecimal;
import java.nio.ByteBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.CodingErrorAction;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.HashSet;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Set;
import java.util.SortedMap;
import java.util.TreeMap;

/**
 * Turns a JSON config into {@link PayloadContent}.
 *
 * <p>Named settings come first, then the keys derived from the included files, then the raw
 * layer ({@code keys}, {@code wideKeys}), which wins for any key it names; a raw {@code null}
 * removes the key. Default texts fill message keys that nobody set or removed.
 */
public final class PackerConfig {

    public static final int KEY_APPLICATION_NAME = 101;
    public static final int KEY_ERROR_LOG_ENABLED = 102;
    public static final int KEY_ERROR_LOG = 103;
    public static final int KEY_OUTPUT_LOG_ENABLED = 104;
    public static final int KEY_OUTPUT_LOG = 105;
    public static final int KEY_APPEND_TO_LOGS = 106;
    public static final int KEY_APPLICATION_TYPE = 107;
    public static final int KEY_CLASS_PATH = 121;
    public static final int KEY_MAIN_CLASS = 122;
    public static final int KEY_JVM_OPTIONS = 123;
    public static final int KEY_ARGUMENTS = 124;
    public static final int KEY_JVM_OPTIONS_FROM_COMMAND_LINE = 125;
    public static final int KEY_MIN_VERSION = 126;
    public static final int KEY_MAX_VERSION = 127;
    public static final int KEY_SEARCH_SEQUENCE = 128;
    public static final int KEY_FLAVOR = 2001;
    public static final int KEY_DOWNLOAD_URL = 150;
    public static final int KEY_DOWNLOAD_SHA256 = 162;
    public static final int KEY_RUNTIME_ARCHIVE_SIZE = 151;
    public static final int KEY_FILE_COUNT = 2002;
    public static final int KEY_FILE_NAMES = 2003;
    public static final int KEY_INSTALLATION_DIRECTORY = 10003;
    public static final int FIRST_MESSAGE_KEY = 1000;
    public static final int LAST_MESSAGE_KEY = 1020;
    /** Language blocks can only override keys from here on; lower keys live in the narrow map. */
    public static final int FIRST_LOCALIZED_KEY = 20001;

    /** What the launcher reads of a value: 6000-character buffers, key 124 only 2000. */
    private static final int VALUE_LIMIT = 5999;
    private static final int ARGUMENTS_LIMIT = 1999;

    private static final List<String> SETTINGS = Collections.unmodifiableList(concat(NamedSettings.NAMES,
            ProductSettings.NAMES,
            "applicationName", "applicationType", "flavor", "mainClass", "classPath", "jvmOptions", "arguments",
            "errorLog", "outputLog", "appendToLogs", "jvmOptionsFromCommandLine", "installationDirectory",
            "minJavaVersion", "maxJavaVersion", "searchSequence", "messages", "localizedTexts",
            "includedFiles", "unextractedData", "integrityCheck", "keys", "wideKeys", "languages",
            "splashScreen", "resources"));

    private static List<String> concat(List<String> named, List<String> product, String... names) {
        List<String> all = new ArrayList<>(Arrays.asList(names));
        all.addAll(named);
        all.addAll(product);
        return all;
    }

    private static final String CLASS_PATH_TYPES = "ADES";
    private static final String SEARCH_TYPES = "ABRESY";
    private static final String FORBIDDEN_NAME_CHARS = "<>:\"/|?*;";

    private final String source;
    private final Path baseDir;
    private final PayloadContent content = new PayloadContent();
    private final List<String> warnings = new ArrayList<>();
    private List<ResourceWriter.Resource> resources = Collections.emptyList();
    private ProductSettings product;

    private PackerConfig(String source, Path baseDir) {
        this.source = source;
        this.baseDir = baseDir;
    }

    /** Reads the config file; paths inside it are relative to its directory. */
    public static PackerConfig load(Path configFile) throws PackerException {
        byte[] bytes;
        try {
            bytes = Files.readAllBytes(configFile);
        } catch (IOException e) {
            throw new PackerException("cannot read config " + configFile + ": " + e.getMessage(), e);
        }
        String text;
        try {
            text = StandardCharsets.UTF_8.newDecoder()
                    .onMalformedInput(CodingErrorAction.REPORT)
                    .onUnmappableCharacter(CodingErrorAction.REPORT)
                    .decode(ByteBuffer.wrap(bytes)).toString();
        } catch (CharacterCodingException e) {
            throw new PackerException(configFile + ": the config is not valid UTF-8");
        }
        Object root;
        try {
            root = Json.parse(text);
        } catch (Json.ParseException e) {
            throw new PackerException(configFile + ":" + e.line() + ":" + e.column() + ": " + e.reason());
        }
        Path dir = configFile.toAbsolutePath().getParent();
        return fromJson(root, dir, configFile.toString());
    }

    /** Builds the payload from an already parsed config. */
    static PackerConfig fromJson(Object root, Path baseDir, String source) throws PackerException {
        PackerConfig config = new PackerConfig(source, baseDir);
        config.build(root);
        return config;
    }

    public PayloadContent content() {
        return content;
    }

    /** Resources for the stub: the splash image and the raw {@code "resources"} list. */
    public List<ResourceWriter.Resource> resources() {
        return resources;
    }

    /**
     * Adds the runtime archive as the last included file and sets the keys that name the
     * included files (2002, 2003) and the archive's uncompressed size (151).
     */
    void addBundledRuntime(Path archive, long uncompressedSize) throws PackerException {
        for (PayloadContent.IncludedFile f : content.includedFiles) {
            if (f.name.equalsIgnoreCase(RuntimeArchive.NAME)) {
                throw fail("includedFiles: \"" + f.name + "\" is the name bundledRuntime writes");
            }
        }
        content.includedFiles.add(new PayloadContent.IncludedFile(RuntimeArchive.NAME, archive));
        List<String> names = new ArrayList<>();
        for (PayloadContent.IncludedFile f : content.includedFiles) {
            names.add(f.name);
        }
        content.narrow.put(KEY_FILE_COUNT, Integer.toString(names.size()));
        content.narrow.put(KEY_FILE_NAMES, String.join(";", names));
        content.narrow.put(KEY_RUNTIME_ARCHIVE_SIZE, Long.toString(uncompressedSize));
    }

    /** Signing, icon, version information, manifest, subsystem and bundled runtime. */
    ProductSettings product() {
        return product;
    }

    /** Things that pack but will not work as written, for example values the launcher cuts short. */
    public List<String> warnings() {
        return warnings;
    }

    // ------------------------------------------------------------------ building

    private void build(Object root) throws PackerException {
        if (!(root instanceof Map)) {
            throw fail("the config must be a JSON object");
        }
        Map<String, Object> settings = asObject(root, "the config");
        for (String name : settings.keySet()) {
            if (!SETTINGS.contains(name)) {
                String near = Suggestions.closest(name, SETTINGS);
                throw fail("unknown setting \"" + name + "\"; " + (near == null ? "" : "did you mean " + near + "? ")
                        + "known settings are " + String.join(", ", SETTINGS));
            }
        }

        SortedMap<Integer, String> narrow = content.narrow;
        SortedMap<Integer, String> wide = content.wide;
        Set<Integer> dropped = new HashSet<>();

        putIfSet(narrow, KEY_APPLICATION_NAME, string(settings, "applicationName"));
        putIfSet(narrow, KEY_APPLICATION_TYPE, applicationType(settings.get("applicationType")));
        putIfSet(narrow, KEY_FLAVOR, flavor(settings.get("flavor")));
        putIfSet(narrow, KEY_MAIN_CLASS, string(settings, "mainClass"));
        putIfSet(narrow, KEY_CLASS_PATH, classPath(settings.get("classPath")));
        putIfSet(narrow, KEY_JVM_OPTIONS, words(settings.get("jvmOptions"), "jvmOptions"));
        putIfSet(narrow, KEY_ARGUMENTS, words(settings.get("arguments"), "arguments"));
        logFile(narrow, settings, "errorLog", KEY_ERROR_LOG_ENABLED, KEY_ERROR_LOG);
        logFile(narrow, settings, "outputLog", KEY_OUTPUT_LOG_ENABLED, KEY_OUTPUT_LOG);
        putIfSet(narrow, KEY_APPEND_TO_LOGS, flag(settings.get("appendToLogs"), "appendToLogs"));
        putIfSet(narrow, KEY_JVM_OPTIONS_FROM_COMMAND_LINE,
                flag(settings.get("jvmOptionsFromCommandLine"), "jvmOptionsFromCommandLine"));
        putIfSet(narrow, KEY_INSTALLATION_DIRECTORY, string(settings, "installationDirectory"));
        putIfSet(narrow, KEY_MIN_VERSION, string(settings, "minJavaVersion"));
        putIfSet(narrow, KEY_MAX_VERSION, string(settings, "maxJavaVersion"));
        putIfSet(narrow, KEY_SEARCH_SEQUENCE, searchSequence(settings.get("searchSequence")));
        applyKeyMap(settings.get("messages"), "messages", narrow, dropped, FIRST_MESSAGE_KEY, LAST_MESSAGE_KEY);
        applyKeyMap(settings.get("localizedTexts"), "localizedTexts", wide, dropped, FIRST_LOCALIZED_KEY,
                Integer.MAX_VALUE);

        includedFiles(settings.get("includedFiles"));
        if (!content.includedFiles.isEmpty()) {
            List<String> names = new ArrayList<>();
            for (PayloadContent.IncludedFile f : content.includedFiles) {
                names.add(f.name);
            }
            narrow.put(KEY_FILE_COUNT, Integer.toString(names.size()));
            narrow.put(KEY_FILE_NAMES, String.join(";", names));
        }
        String data = string(settings, "unextractedData");
        if (data != null) {
            content.unextractedData = resolve(data);
            if (!Files.isRegularFile(content.unextractedData)) {
                throw fail("unextractedData: " + content.unextractedData + " does not exist or is not a file");
            }
        }
        Object check = settings.get("integrityCheck");
        if (check != null && !(check instanceof Boolean)) {
            throw fail("\"integrityCheck\" must be true or false");
        }
        content.integrityCheck = Boolean.TRUE.equals(check);

        ResourceSettings resourceSettings =
                ResourceSettings.read(settings.get("splashScreen"), settings.get("resources"), baseDir, source);
        narrow.putAll(resourceSettings.keys());
        resources = resourceSettings.resources();
        product = ProductSettings.read(settings, baseDir, source);
        NamedSettings.apply(settings, narrow, wide, product);

        applyKeyMap(settings.get("keys"), "keys", narrow, dropped, Integer.MIN_VALUE, Integer.MAX_VALUE);
        applyKeyMap(settings.get("wideKeys"), "wideKeys", wide, dropped, Integer.MIN_VALUE, Integer.MAX_VALUE);
        languages(settings.get("languages"));
        checkVersionRange(narrow, settings.get("keys"));
        checkDownload(narrow, settings.get("keys"));

        // Defaults go in last so that they can follow the final name and version range.
        if (!narrow.containsKey(KEY_FLAVOR) && !dropped.contains(KEY_FLAVOR)) {
            narrow.put(KEY_FLAVOR, "q");
        }
        fillDefaults(narrow, DefaultTexts.messages(narrow.get(KEY_APPLICATION_NAME), narrow.get(KEY_MIN_VERSION),
                narrow.get(KEY_MAX_VERSION)), dropped);
        fillDefaults(wide, DefaultTexts.localized(narrow.get(KEY_APPLICATION_NAME)), dropped);

        checkFormats(wide, "");
        for (PayloadContent.LanguageBlock block : content.languages) {
            checkFormats(block.entries, " in language \"" + block.prefix + "\"");
        }
        warnAboutLengths();
    }

    /** The launchers would never find a runtime for a bound that is no version, or for an empty range. */
    private void checkVersionRange(Map<Integer, String> narrow, Object rawKeys) throws PackerException {
        String min = narrow.get(KEY_MIN_VERSION);
        String max = narrow.get(KEY_MAX_VERSION);
        String minName = settingName(KEY_MIN_VERSION, "minJavaVersion", rawKeys);
        String maxName = settingName(KEY_MAX_VERSION, "maxJavaVersion", rawKeys);
        for (String[] bound : new String[][] {{minName, min}, {maxName, max}}) {
            if (bound[1] != null && !bound[1].isEmpty() && !JavaVersions.isVersion(bound[1])) {
                throw fail(bound[0] + ": \"" + bound[1] + "\" is not a Java version; write one such as \"1.8\", "
                        + "\"11\" or \"17.0.2\"");
            }
        }
        if (min != null && max != null && !min.isEmpty() && !max.isEmpty() && JavaVersions.isEmptyRange(min, max)) {
            throw fail(minName + " \"" + min + "\" lies above " + maxName + " \"" + max + "\": no Java version "
                    + "is in that range");
        }
    }

    /**
     * A runtime fetched over a connection that anyone on the way can change is trusted only with
     * a pinned SHA-256; over HTTPS the pin is still advised.
     */
    private void checkDownload(Map<Integer, String> narrow, Object rawKeys) throws PackerException {
        String pin = narrow.get(KEY_DOWNLOAD_SHA256);
        String pinName = settingName(KEY_DOWNLOAD_SHA256, "runtimeDownloadSha256", rawKeys);
        if (pin != null && !pin.matches("[0-9a-fA-F]{64}")) {
            throw fail(pinName + " must be 64 hexadecimal digits (a SHA-256)");
        }
        String url = narrow.get(KEY_DOWNLOAD_URL);
        if (url == null || url.isEmpty()) {
            return;
        }
        String urlName = settingName(KEY_DOWNLOAD_URL, "runtimeDownloadUrl", rawKeys);
        boolean https = url.regionMatches(true, 0, "https://", 0, 8);
        boolean plain = url.regionMatches(true, 0, "http://", 0, 7) || url.regionMatches(true, 0, "ftp://", 0, 6);
        if (plain && pin == null) {
            throw fail(urlName + " \"" + url + "\" is a plain download that anyone on the way can change; "
                    + "use https:// or give the archive's SHA-256 in \"runtimeDownloadSha256\" or "
                    + "\"runtimeDownloadPinFrom\"");
        }
        if (https && pin == null) {
            warnings.add(urlName + " has no SHA-256 pin: the installer trusts whatever the server sends; set "
                    + "\"runtimeDownloadSha256\" or \"runtimeDownloadPinFrom\"");
        }
    }

    /** How a message names a key: as the raw key when "keys" set it, else by its setting. */
    private static String settingName(int key, String setting, Object rawKeys) {
        if (rawKeys instanceof Map && ((Map<?, ?>) rawKeys).get(Integer.toString(key)) != null) {
            return "keys." + key;
        }
        return "\"" + setting + "\"";
    }

    private static void putIfSet(Map<Integer, String> map, int key, String value) {
        if (value != null) {
            map.put(key, value);
        }
    }

    private static void fillDefaults(Map<Integer, String> map, Map<Integer, String> defaults, Set<Integer> dropped) {
        for (Map.Entry<Integer, String> e : defaults.entrySet()) {
            if (!map.containsKey(e.getKey()) && !dropped.contains(e.getKey())) {
                map.put(e.getKey(), e.getValue());
            }
        }
    }

    /**
     * Launcher parameters 3 and 4: a flag key that switches the parameter on and a path key. The runtime
     * library sends the application's standard error and standard output into these files.
     */
    private void logFile(Map<Integer, String> narrow, Map<String, Object> settings, String name, int enabledKey,
            int pathKey) throws PackerException {
        String path = string(settings, name);
        if (path == null) {
            return;
        }
        if (path.isEmpty()) {
            throw fail("\"" + name + "\" must name a file");
        }
        narrow.put(enabledKey, "1");
        narrow.put(pathKey, path);
    }

    private String flag(Object value, String name) throws PackerException {
        if (value == null) {
            return null;
        }
        if (!(value instanceof Boolean)) {
            throw fail("\"" + name + "\" must be true or false");
        }
        return (Boolean) value ? "1" : "0";
    }

    private String applicationType(Object value) throws PackerException {
        if (value == null) {
            return null;
        }
        if ("gui".equals(value)) {
            return "1";
        }
        if ("console".equals(value)) {
            return "0";
        }
        if (value instanceof BigDecimal) {
            return Integer.toString(integer((BigDecimal) value, "applicationType"));
        }
        throw fail("\"applicationType\" must be \"gui\", \"console\" or a number");
    }

    private String flavor(Object value) throws PackerException {
        if (value == null) {
            return null;
        }
        if ("q".equals(value) || "t".equals(value)) {
            return (String) value;
        }
        throw fail("\"flavor\" must be \"q\" or \"t\"");
    }

    /** Class path entries of key 121: a type letter, "1" when required, then the value. */
    private String classPath(Object value) throws PackerException {
        List<Object> items = list(value, "classPath");
        if (items == null || items.isEmpty()) {
            return null;
        }
        List<String> entries = new ArrayList<>();
        for (int i = 0; i < items.size(); i++) {
            String where = "classPath[" + i + "]";
            Object item = items.get(i);
            if (item instanceof String) {
                entries.add((String) item);
                continue;
            }
            Map<String, Object> entry = asObject(item, where, "a string or an object");
            allowOnly(entry, where, "type", "required", "value");
            String type = letter(entry.get("type"), where, CLASS_PATH_TYPES);
            Object required = entry.get("required");
            if (required != null && !(required instanceof Boolean)) {
                throw fail(where + ".required must be true or false");
            }
            String text = requiredString(entry.get("value"), where + ".value");
            checkListValue(text, where + ".value");
            if (type.equals("E") && text.isEmpty()) {
                throw fail(where + ".value must name an environment variable");
            }
            entries.add(type + (Boolean.TRUE.equals(required) ? "1" : "0") + text);
        }
        return String.join(";", entries);
    }

    /** Search sequence of key 128: a type letter followed by its text. */
    private String searchSequence(Object value) throws PackerException {
        List<Object> items = list(value, "searchSequence");
        if (items == null || items.isEmpty()) {
            return null;
        }
        List<String> entries = new ArrayList<>();
        for (int i = 0; i < items.size(); i++) {
            String where = "searchSequence[" + i + "]";
            Object item = items.get(i);
            if (item instanceof String) {
                entries.add((String) item);
                continue;
            }
            Map<String, Object> entry = asObject(item, where, "a string or an object");
            allowOnly(entry, where, "type", "value");
            String type = letter(entry.get("type"), where, SEARCH_TYPES);
            Object raw = entry.get("value");
            String text = raw == null ? "" : requiredString(raw, where + ".value");
            checkListValue(text, where + ".value");
            if ("ABRE".contains(type) && text.isEmpty()) {
                throw fail(where + ".value must not be empty for type \"" + type + "\"");
            }
            entries.add(type + text);
        }
        return String.join(";", entries);
    }

    private String letter(Object value, String where, String allowed) throws PackerException {
        if (!(value instanceof String) || ((String) value).length() != 1
                || allowed.indexOf(((String) value).charAt(0)) < 0) {
            throw fail(where + ".type must be one of " + lettersList(allowed));
        }
        return (String) value;
    }

    private static String lettersList(String letters) {
        Set<String> unique = new LinkedHashSet<>();
        for (char c : letters.toCharArray()) {
            unique.add("\"" + c + "\"");
        }
        return String.join(", ", unique);
    }

    private void checkListValue(String text, String where) throws PackerException {
        if (text.indexOf(';') >= 0) {
            throw fail(where + " must not contain \";\", which separates the entries");
        }
    }

    /** Words joined for the launcher's command-line splitting, each quoted when it has to be. */
    private String words(Object value, String name) throws PackerException {
        List<Object> items = list(value, name);
        if (items == null || items.isEmpty()) {
            return null;
        }
        List<String> words = new ArrayList<>();
        for (int i = 0; i < items.size(); i++) {
            words.add(requiredString(items.get(i), name + "[" + i + "]"));
        }
        try {
            return joinCommandLine(words);
        } catch (IllegalArgumentException e) {
            throw fail(name + ": " + e.getMessage());
        }
    }

    /**
     * Joins words so that the launcher's splitter gives them back unchanged. The splitter knows
     * double and single quotes, each running to the next quote of the same kind, and no escapes:
     * a word with a blank or a quote is wrapped in the quote it does not contain. So is a word
     * with a variable reference: the launcher splits after expansion, and the value may hold
     * blanks (a launcher under "C:\Program Files").
     */
    static String joinCommandLine(List<String> words) {
        StringBuilder sb = new StringBuilder();
        for (String word : words) {
            if (sb.length() > 0) {
                sb.append(' ');
            }
            boolean hasDouble = word.indexOf('"') >= 0;
            boolean hasSingle = word.indexOf('\'') >= 0;
            boolean variable = word.contains("${") || word.contains("%TARVO_") || word.contains("%QUILLON_");
            if (!word.isEmpty() && word.indexOf(' ') < 0 && !hasDouble && !hasSingle && !variable) {
                sb.append(word);
            } else if (!hasDouble) {
                sb.append('"').append(word).append('"');
            } else if (!hasSingle) {
                sb.append('\'').append(word).append('\'');
            } else {
                throw new IllegalArgumentException("the word [" + word + "] holds both a double and a single quote, "
                        + "which the launcher's command-line splitting cannot pass on");
            }
        }
        return sb.toString();
    }

    /** Applies an object of decimal key → text; null removes the key and its default. */
    private void applyKeyMap(Object value, String name, Map<Integer, String> target, Set<Integer> dropped,
            int lowest, int highest) throws PackerException {
        if (value == null) {
            return;
        }
        Map<String, Object> map = asObject(value, "\"" + name + "\"");
        for (Map.Entry<String, Object> e : map.entrySet()) {
            String where = name + "." + e.getKey();
            int key = parseKey(e.getKey(), name);
            if (key < lowest || key > highest) {
                throw fail(where + ": key " + key + " does not belong here; \"" + name + "\" takes keys "
                        + (highest == Integer.MAX_VALUE ? lowest + " and up" : lowest + " to " + highest));
            }
            if (e.getValue() == null) {
                target.remove(key);
                dropped.add(key);
            } else {
                target.put(key, requiredString(e.getValue(), where));
                dropped.remove(key);
            }
        }
    }

    private void languages(Object value) throws PackerException {
        if (value == null) {
            return;
        }
        Map<String, Object> blocks = asObject(value, "\"languages\"");
        for (Map.Entry<String, Object> block : blocks.entrySet()) {
            String prefix = block.getKey();
            String where = "languages." + prefix;
            Map<String, Object> entries = asObject(block.getValue(), where);
            SortedMap<Integer, String> values = new TreeMap<>();
            for (Map.Entry<String, Object> e : entries.entrySet()) {
                int key = parseKey(e.getKey(), where);
                if (key < FIRST_LOCALIZED_KEY) {
                    throw fail("language \"" + prefix + "\": key " + key + " cannot be localized; language "
                            + "overrides exist only for keys " + FIRST_LOCALIZED_KEY + " and up");
                }
                if (e.getValue() != null) {
                    values.put(key, requiredString(e.getValue(), where + "." + e.getKey()));
                }
            }
            content.languages.add(new PayloadContent.LanguageBlock(prefix, values));
        }
    }

    private void includedFiles(Object value) throws PackerException {
        List<Object> items = list(value, "includedFiles");
        if (items == null) {
            return;
        }
        Set<String> seen = new HashSet<>();
        for (int i = 0; i < items.size(); i++) {
            String where = "includedFiles[" + i + "]";
            Map<String, Object> entry = asObject(items.get(i), where);
            allowOnly(entry, where, "name", "source");
            String name = requiredString(entry.get("name"), where + ".name");
            checkIncludedName(name, where);
            if (!seen.add(name.toLowerCase(Locale.ROOT))) {
                throw fail(where + ": the name \"" + name + "\" is used twice (Windows file names ignore case)");
            }
            Path file = resolve(requiredString(entry.get("source"), where + ".source"));
            if (!Files.isRegularFile(file)) {
                throw fail(where + ": included file \"" + name + "\": source " + file + " does not exist or is not "
                        + "a file");
            }
            content.includedFiles.add(new PayloadContent.IncludedFile(name, file));
        }
    }

    /** A name the launcher can extract: a file, or one subdirectory level and a file. */
    private void checkIncludedName(String name, String where) throws PackerException {
        String prefix = where + ": included file name \"" + name + "\"";
        if (name.isEmpty()) {
            throw fail(where + ": the included file name is empty");
        }
        for (int i = 0; i < name.length(); i++) {
            char c = name.charAt(i);
            if (c < 0x20 || FORBIDDEN_NAME_CHARS.indexOf(c) >= 0) {
                String shown = c < 0x20 ? "U+" + String.format("%04X", (int) c) : "'" + c + "'";
                throw fail(prefix + " contains " + shown + (c == '/' ? "; write the subdirectory with \"\\\\\"" : "")
                        + (c == ';' ? ", which separates the names" : ", which Windows does not allow in file names"));
            }
            if (c > 0xFF) {
                throw fail(prefix + " contains '" + c + "', which narrow text cannot hold (only U+0000 to U+00FF)");
            }
        }
        String[] parts = name.split("\\\\", -1);
        if (parts.length > 2) {
            throw fail(prefix + " has more than one \"\\\"; the launcher creates only one subdirectory level");
        }
        for (String part : parts) {
            if (part.isEmpty() || part.equals(".") || part.equals("..")) {
                throw fail(prefix + " must be a file name, optionally with one subdirectory before a \"\\\"");
            }
            if (part.replaceFirst("\\..*$", "").replaceFirst(" +$", "").toUpperCase(java.util.Locale.ROOT)
                    .matches("CON|PRN|AUX|NUL|COM[0-9]|LPT[0-9]")) {
                throw fail(prefix + " is the Windows device name \"" + part + "\", which cannot name a file");
            }
        }
    }

    private static final String BITNESS_FORMAT_HINT =
            "it is a printf format that receives the bitness as narrow text: use %S for it and %% for a percent sign";
    private static final String PROGRESS_FORMAT_HINT =
            "it is a printf format that receives four floating-point numbers (MB received, MB in total, percent, "
                    + "bytes per millisecond): use conversions such as %.1f and %% for a percent sign";

    /** The launcher passes 20005, 20006 and 20008 to printf as formats; a wrong conversion would crash it. */
    private void checkFormats(Map<Integer, String> map, String where) throws PackerException {
        for (int key : new int[] {20005, 20006}) {
            String text = map.get(key);
            if (text != null) {
                checkFormat(text, 1, "S", "key " + key + where, BITNESS_FORMAT_HINT);
            }
        }
        String progress = map.get(20008);
        if (progress != null) {
            checkFormat(progress, 4, "feEgGaA", "key 20008" + where, PROGRESS_FORMAT_HINT);
        }
    }

    private void checkFormat(String text, int maxArgs, String conversions, String what, String hint)
            throws PackerException {
        int args = 0;
        int i = 0;
        while (i < text.length()) {
            char c = text.charAt(i);
            if (c != '%') {
                i++;
                continue;
            }
            int start = i++;
            if (i < text.length() && text.charAt(i) == '%') {
                i++;
                continue;
            }
            while (i < text.length() && "-+ #0".indexOf(text.charAt(i)) >= 0) {
                i++;
            }
            while (i < text.length() && Character.isDigit(text.charAt(i))) {
                i++;
            }
            if (i < text.length() && text.charAt(i) == '.') {
                i++;
                while (i < text.length() && Character.isDigit(text.charAt(i))) {
                    i++;
                }
            }
            boolean narrowModifier = false;
            if (i < text.length() && (text.charAt(i) == 'l' || text.charAt(i) == 'h')) {
                narrowModifier = text.charAt(i) == 'h';
                i++;
            }
            char conversion = i < text.length() ? text.charAt(i) : '\0';
            boolean fits = conversions.indexOf(conversion) >= 0
                    // "%hs" is the other spelling of a narrow string argument
                    || (conversions.equals("S") && conversion == 's' && narrowModifier);
            if (conversion == '\0' || !fits || (narrowModifier && !conversions.equals("S"))) {
                throw fail(what + ": \"" + text.substring(start, Math.min(i + 1, text.length())) + "\" at position "
                        + start + " does not fit; " + hint);
            }
            i++;
            if (++args > maxArgs) {
                throw fail(what + ": more than " + maxArgs + " conversion" + (maxArgs == 1 ? "" : "s") + "; " + hint);
            }
        }
    }

    private void warnAboutLengths() {
        for (Map.Entry<Integer, String> e : content.narrow.entrySet()) {
            int limit = e.getKey() == KEY_ARGUMENTS ? ARGUMENTS_LIMIT : VALUE_LIMIT;
            if (e.getValue().length() > limit) {
                warnings.add("key " + e.getKey() + " has " + e.getValue().length() + " characters; the launcher "
                        + "reads only the first " + limit);
            }
        }
        for (Map.Entry<Integer, String> e : content.wide.entrySet()) {
            if (e.getValue().length() > VALUE_LIMIT) {
                warnings.add("wide key " + e.getKey() + " has " + e.getValue().length() + " characters; the "
                        + "launcher reads only the first " + VALUE_LIMIT);
            }
        }
    }

    // ------------------------------------------------------------------ JSON helpers

    private int parseKey(String text, String where) throws PackerException {
        if (!text.matches("-?(0|[1-9][0-9]*)")) {
            throw fail(where + ": \"" + text + "\" is not a decimal key");
        }
        try {
            return Integer.parseInt(text);
        } catch (NumberFormatException e) {
            throw fail(where + ": key " + text + " does not fit in 32 bits");
        }
    }

    private int integer(BigDecimal value, String where) throws PackerException {
        try {
            return value.intValueExact();
        } catch (ArithmeticException e) {
            throw fail(where + " must be a whole number that fits in 32 bits");
        }
    }

    private String string(Map<String, Object> settings, String name) throws PackerException {
        Object value = settings.get(name);
        if (value == null) {
            return null;
        }
        return requiredString(value, "\"" + name + "\"");
    }

    private String requiredString(Object value, String where) throws PackerException {
        if (!(value instanceof String)) {
            throw fail(where + " must be a string");
        }
        return (String) value;
    }

    @SuppressWarnings("unchecked")
    private List<Object> list(Object value, String name) throws PackerException {
        if (value == null) {
            return null;
        }
        if (!(value instanceof List)) {
            throw fail("\"" + name + "\" must be an array");
        }
        return (List<Object>) value;
    }

    private Map<String, Object> asObject(Object value, String where) throws PackerException {
        return asObject(value, where, "an object");
    }

    @SuppressWarnings("unchecked")
    private Map<String, Object> asObject(Object value, String where, String expected) throws PackerException {
        if (!(value instanceof Map)) {
            throw fail(where + " must be " + expected);
        }
        return (Map<String, Object>) value;
    }

    private void allowOnly(Map<String, Object> object, String where, String... names) throws PackerException {
        List<String> allowed = Arrays.asList(names);
        for (String name : object.keySet()) {
            if (!allowed.contains(name)) {
                throw fail(Suggestions.unknownField(where, name, allowed));
            }
        }
    }

    private Path resolve(String path) {
        return baseDir.resolve(path).normalize();
    }

    private PackerException fail(String message) {
        return new PackerException(source + ": " + message);
    }
}
