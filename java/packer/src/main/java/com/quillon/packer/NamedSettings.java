package com.quillon.packer;

import java.io.IOException;
import java.io.InputStream;
import java.math.BigDecimal;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;

/**
 * Names for the keys that used to need the raw layer: single instance, working directory,
 * native library directories, console switches, runtime choice, service and installer settings.
 * They are applied before the raw keys, which still win.
 */
final class NamedSettings {

    private enum Form {
        FLAG, TEXT, LIST_SEMICOLON, LIST_COMMA, WIDE_TEXT, NUMBER
    }

    private static final class Setting {
        final int key;
        final Form form;

        Setting(int key, Form form) {
            this.key = key;
            this.form = form;
        }
    }

    private static final Map<String, Setting> SETTINGS = new LinkedHashMap<>();
    /** The launcher reads key 152 into 200 characters. */
    private static final int JVM_TYPE_LIMIT = 199;

    static {
        SETTINGS.put("singleInstance", new Setting(10005, Form.FLAG));
        SETTINGS.put("singleInstanceGlobal", new Setting(158, Form.FLAG));
        SETTINGS.put("workingDirectory", new Setting(146, Form.TEXT));
        SETTINGS.put("nativeLibraryDirectories", new Setting(10004, Form.LIST_SEMICOLON));
        SETTINGS.put("allowPrereleaseRuntimes", new Setting(130, Form.FLAG));
        SETTINGS.put("requireJdk", new Setting(131, Form.FLAG));
        SETTINGS.put("preferredJvmType", new Setting(152, Form.TEXT));
        SETTINGS.put("installationId", new Setting(160, Form.TEXT));
        SETTINGS.put("serviceDependencies", new Setting(149, Form.LIST_COMMA));
        SETTINGS.put("serviceDescription", new Setting(20017, Form.WIDE_TEXT));
        SETTINGS.put("runtimeDownloadUrl", new Setting(150, Form.TEXT));
        SETTINGS.put("runtimeArchiveSize", new Setting(151, Form.NUMBER));
        SETTINGS.put("runtimePack200", new Setting(153, Form.FLAG));
        SETTINGS.put("installerWithoutProgressDialog", new Setting(155, Form.FLAG));
        SETTINGS.put("downloadRuntimeWithoutAsking", new Setting(157, Form.FLAG));
        SETTINGS.put("waitForJavaWithoutTimeout", new Setting(159, Form.FLAG));
        SETTINGS.put("preferInstalledRuntime", new Setting(161, Form.FLAG));
        SETTINGS.put("startupCache", new Setting(11101, Form.FLAG));
    }

    static final int KEY_QUIET_AND_CONSOLE_SWITCHES = 154;
    static final int KEY_CONSOLE_SWITCH = 156;
    static final int KEY_DOWNLOAD_SHA256 = 162;

    static final List<String> NAMES = names();

    private static List<String> names() {
        List<String> names = new ArrayList<>(SETTINGS.keySet());
        names.add("consoleSwitches");
        names.add("runtimeDownloadSha256");
        names.add("runtimeDownloadPinFrom");
        names.addAll(ServiceSettings.NAMES);
        return names;
    }

    private NamedSettings() {
    }

    static void apply(Map<String, Object> settings, Map<Integer, String> narrow, Map<Integer, String> wide,
            ProductSettings p) throws PackerException {
        for (Map.Entry<String, Setting> e : SETTINGS.entrySet()) {
            Object value = settings.get(e.getKey());
            if (value == null) {
                continue;
            }
            String name = e.getKey();
            Setting s = e.getValue();
            switch (s.form) {
                case FLAG:
                    narrow.put(s.key, p.flag(value, name, false) ? "1" : "0");
                    break;
                case TEXT:
                    String text = p.requiredString(value, name);
                    if (s.key == 152 && text.length() > JVM_TYPE_LIMIT) {
                        throw p.fail(name + " has more than the " + JVM_TYPE_LIMIT + " characters the launcher reads");
                    }
                    narrow.put(s.key, text);
                    break;
                case WIDE_TEXT:
                    wide.put(s.key, p.requiredString(value, name));
                    break;
                case NUMBER:
                    narrow.put(s.key, Long.toString(number(value, name, p)));
                    break;
                case LIST_SEMICOLON:
                    narrow.put(s.key, list(value, name, ";", p));
                    break;
                case LIST_COMMA:
                    narrow.put(s.key, list(value, name, ",", p));
                    break;
                default:
                    throw new IllegalStateException(s.form.toString());
            }
        }
        consoleSwitches(settings.get("consoleSwitches"), narrow, p);
        downloadPin(settings.get("runtimeDownloadSha256"), settings.get("runtimeDownloadPinFrom"), narrow, p);
        ServiceSettings.apply(settings, narrow, p);
    }

    /** "all": -q, -c and -console (key 154); "console": only -console (key 156); "none". */
    private static void consoleSwitches(Object value, Map<Integer, String> narrow, ProductSettings p)
            throws PackerException {
        if (value == null) {
            return;
        }
        if ("all".equals(value)) {
            narrow.put(KEY_QUIET_AND_CONSOLE_SWITCHES, "1");
        } else if ("console".equals(value)) {
            narrow.put(KEY_CONSOLE_SWITCH, "1");
        } else if ("none".equals(value)) {
            narrow.put(KEY_QUIET_AND_CONSOLE_SWITCHES, "0");
            narrow.put(KEY_CONSOLE_SWITCH, "0");
        } else {
            throw p.fail("\"consoleSwitches\" must be \"all\", \"console\" or \"none\"");
        }
    }

    /** Key 162: the SHA-256 of the runtime archive a download must deliver, given or computed. */
    private static void downloadPin(Object hex, Object file, Map<Integer, String> narrow, ProductSettings p)
            throws PackerException {
        if (hex != null && file != null) {
            throw p.fail("give \"runtimeDownloadSha256\" or \"runtimeDownloadPinFrom\", not both");
        }
        if (hex != null) {
            String text = p.requiredString(hex, "runtimeDownloadSha256");
            if (!text.matches("[0-9a-fA-F]{64}")) {
                throw p.fail("runtimeDownloadSha256 must be 64 hexadecimal digits (a SHA-256)");
            }
            narrow.put(KEY_DOWNLOAD_SHA256, text.toLowerCase(Locale.ROOT));
        } else if (file != null) {
            Path archive = p.file(p.requiredString(file, "runtimeDownloadPinFrom"), "runtimeDownloadPinFrom");
            narrow.put(KEY_DOWNLOAD_SHA256, sha256(archive, p));
        }
    }

    static String sha256(Path file, ProductSettings p) throws PackerException {
        try (InputStream in = Files.newInputStream(file)) {
            MessageDigest digest = MessageDigest.getInstance("SHA-256");
            byte[] buf = new byte[1 << 16];
            int n;
            while ((n = in.read(buf)) > 0) {
                digest.update(buf, 0, n);
            }
            StringBuilder sb = new StringBuilder();
            for (byte b : digest.digest()) {
                sb.append(String.format("%02x", b));
            }
            return sb.toString();
        } catch (IOException | NoSuchAlgorithmException e) {
            throw p.fail("runtimeDownloadPinFrom: cannot read " + file + ": " + e.getMessage());
        }
    }

    private static long number(Object value, String name, ProductSettings p) throws PackerException {
        try {
            if (value instanceof BigDecimal) {
                long v = ((BigDecimal) value).longValueExact();
                if (v >= 0 && v <= Integer.MAX_VALUE) {
                    return v;
                }
            }
        } catch (ArithmeticException e) {
            // falls through to the refusal
        }
        throw p.fail("\"" + name + "\" must be a whole number from 0 to " + Integer.MAX_VALUE);
    }

    private static String list(Object value, String name, String separator, ProductSettings p)
            throws PackerException {
        if (!(value instanceof List)) {
            throw p.fail("\"" + name + "\" must be an array of strings");
        }
        List<String> items = new ArrayList<>();
        List<?> raw = (List<?>) value;
        for (int i = 0; i < raw.size(); i++) {
            String item = p.requiredString(raw.get(i), name + "[" + i + "]");
            if (item.contains(separator)) {
                throw p.fail(name + "[" + i + "] must not contain \"" + separator + "\", which separates the items");
            }
            items.add(item);
        }
        if (items.isEmpty()) {
            throw p.fail("\"" + name + "\" must not be empty");
        }
        return String.join(separator, items);
    }
}
