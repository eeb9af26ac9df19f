package com.quillon.packer;

import java.nio.file.Files;
import java.util.ArrayList;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.List;
import java.util.Map;

/**
 * The settings that make a launcher a finished Windows program rather than payload: signing,
 * icon, version information, manifest, subsystem and a runtime archive built from a directory.
 */
final class ProductSettings {

    static final List<String> NAMES = Arrays.asList("signing", "icon", "versionInfo", "manifest", "executionLevel",
            "subsystem", "bundledRuntime");

    private final String source;
    private final Path baseDir;
    Signing signing;
    /** Resources the settings make; the raw "resources" list is written after them and wins. */
    final List<ResourceWriter.Resource> resources = new ArrayList<>();
    /** The subsystem field to write, 0 to keep the stub's. */
    int subsystem;
    /** A runtime directory to include as "jre.tar.gz"; null for none. */
    Path bundledRuntime;

    private ProductSettings(String source, Path baseDir) {
        this.source = source;
        this.baseDir = baseDir;
    }

    static ProductSettings read(Map<String, Object> settings, Path baseDir, String source) throws PackerException {
        ProductSettings p = new ProductSettings(source, baseDir);
        p.signing = Signing.read(settings.get("signing"), p);
        p.icon(settings.get("icon"));
        byte[] version = VersionInfo.read(settings.get("versionInfo"), p);
        if (version != null) {
            p.resources.add(ResourceWriter.Resource.typed(VersionInfo.RT_VERSION, 1, version));
        }
        p.manifest(settings.get("manifest"), settings.get("executionLevel"));
        p.subsystem(settings.get("subsystem"), settings.get("applicationType"));
        Object runtime = settings.get("bundledRuntime");
        if (runtime != null) {
            p.bundledRuntime = p.directory(p.requiredString(runtime, "bundledRuntime"), "bundledRuntime");
            RuntimeArchive.check(p.bundledRuntime, p.source + ": bundledRuntime");
            if (settings.get("runtimeArchiveSize") != null) {
                throw p.fail("bundledRuntime sets the archive size itself; drop \"runtimeArchiveSize\"");
            }
            if (settings.get("keys") instanceof Map) {
                for (String key : new String[] {"151", "2002", "2003"}) {
                    if (((Map<?, ?>) settings.get("keys")).containsKey(key)) {
                        throw p.fail("bundledRuntime sets key " + key + " itself; drop it from \"keys\"");
                    }
                }
            }
        }
        return p;
    }

    /** Group 1 is what Explorer shows (the first group); the installer's dialogs load 1001. */
    static final int[] ICON_GROUPS = {1, 1001};

    private void icon(Object value) throws PackerException {
        if (value == null) {
            return;
        }
        if (!(value instanceof String)) {
            throw fail("\"icon\" must name an .ico or .png file");
        }
        Path file = file((String) value, "icon");
        byte[] bytes = read(file, "icon");
        byte[] ico;
        if (Icons.isIco(bytes)) {
            ico = bytes;
        } else if (Icons.isPng(bytes)) {
            ico = Icons.fromPng(bytes, "icon: " + file);
        } else {
            throw fail("icon: " + file + " is neither an .ico nor a .png file");
        }
        resources.add(new ResourceWriter.Resource(ResourceWriter.Kind.ICON, PeResources.Id.of(ICON_GROUPS[0]), ico,
                PeResources.Id.of(ICON_GROUPS[1])));
    }

    /**
     * The execution level may stand at the top level or inside "manifest", where "inspect" shows
     * it; given in both places it must be the same.
     */
    private void manifest(Object value, Object topLevel) throws PackerException {
        if (Boolean.FALSE.equals(value)) {
            if (topLevel != null) {
                throw fail("\"executionLevel\" needs a manifest; \"manifest\" is false");
            }
            return;
        }
        Map<String, Object> o = value == null ? java.util.Collections.emptyMap() : object(value, "manifest");
        allowOnly(o, "manifest", "file", "executionLevel");
        String level = executionLevel(topLevel, "executionLevel");
        String inner = executionLevel(o.get("executionLevel"), "manifest.executionLevel");
        if (level != null && inner != null && !level.equals(inner)) {
            throw fail("\"executionLevel\" is \"" + level + "\" but \"manifest.executionLevel\" is \"" + inner
                    + "\"; give one of them, or the same value in both");
        }
        if (inner != null) {
            level = inner;
        }
        byte[] manifest;
        if (o.get("file") == null) {
            if (value != null && inner == null) {
                throw fail("\"manifest\" needs \"file\" or \"executionLevel\"");
            }
            manifest = Manifests.standard(level == null ? "asInvoker" : level);
        } else {
            if (level != null) {
                throw fail("\"executionLevel\" goes into the packer's own manifest, not into \"manifest.file\"");
            }
            Path file = file(requiredString(o.get("file"), "manifest.file"), "manifest.file");
            manifest = read(file, "manifest.file");
            if (manifest.length == 0) {
                throw fail("manifest.file: " + file + " is empty");
            }
        }
        resources.add(ResourceWriter.Resource.typed(Manifests.RT_MANIFEST, Manifests.APPLICATION_MANIFEST, manifest));
    }

    private String executionLevel(Object level, String where) throws PackerException {
        if (level == null) {
            return null;
        }
        if (!(level instanceof String) || !Manifests.EXECUTION_LEVELS.contains(level)) {
            throw fail("\"" + where + "\" must be one of \"" + String.join("\", \"", Manifests.EXECUTION_LEVELS)
                    + "\"");
        }
        return (String) level;
    }

    /** Without a setting the subsystem follows "applicationType": console applications get the console. */
    private void subsystem(Object value, Object applicationType) throws PackerException {
        if (value == null) {
            if ("console".equals(applicationType)) {
                subsystem = PeHeaders.SUBSYSTEM_CONSOLE;
            } else if ("gui".equals(applicationType)) {
                subsystem = PeHeaders.SUBSYSTEM_GUI;
            }
            return;
        }
        if ("gui".equals(value)) {
            subsystem = PeHeaders.SUBSYSTEM_GUI;
        } else if ("console".equals(value)) {
            subsystem = PeHeaders.SUBSYSTEM_CONSOLE;
        } else {
            throw fail("\"subsystem\" must be \"gui\" or \"console\"");
        }
    }

    private byte[] read(Path file, String where) throws PackerException {
        try {
            return Files.readAllBytes(file);
        } catch (java.io.IOException e) {
            throw fail(where + ": cannot read " + file + ": " + e.getMessage());
        }
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
                throw fail(Suggestions.unknownField(where, name, allowed));
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
