package com.quillon.packer;

import java.io.PrintStream;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/** Command line: {@code pack} writes a launcher, {@code inspect} shows what one carries. */
public final class Main {

    static final int EXIT_OK = 0;
    static final int EXIT_FAILED = 1;
    static final int EXIT_USAGE = 2;

    private static final String USAGE = String.join(System.lineSeparator(),
            "usage:",
            "  java -jar packer.jar pack --stub <stub.exe> --config <config.json> --out <launcher.exe>",
            "  java -jar packer.jar inspect [--json] <launcher.exe>",
            "",
            "pack     writes the payload described by the config behind the stub's last section",
            "         (an earlier payload in the stub is replaced)",
            "inspect  prints the keys, language blocks, included files, checksum and resources of a launcher");

    private Main() {
    }

    public static void main(String[] args) {
        System.exit(run(args, System.out, System.err));
    }

    static int run(String[] args, PrintStream out, PrintStream err) {
        if (args.length == 0 || args[0].equals("--help") || args[0].equals("-h") || args[0].equals("help")) {
            (args.length == 0 ? err : out).println(USAGE);
            return args.length == 0 ? EXIT_USAGE : EXIT_OK;
        }
        try {
            switch (args[0]) {
                case "pack":
                    return pack(args, out, err);
                case "inspect":
                    return inspect(args, out, err);
                default:
                    return usage(err, "unknown command \"" + args[0] + "\"");
            }
        } catch (PackerException e) {
            err.println("packer: error: " + oneLine(e.getMessage()));
            return EXIT_FAILED;
        } catch (RuntimeException | OutOfMemoryError | StackOverflowError e) {
            // Every refusal is meant to be a PackerException; this keeps the one-line promise
            // should an input still slip past the checks.
            err.println("packer: error: internal error while reading the input (" + oneLine(e.toString()) + ")");
            return EXIT_FAILED;
        }
    }

    private static int pack(String[] args, PrintStream out, PrintStream err) throws PackerException {
        Map<String, String> options = new LinkedHashMap<>();
        options.put("--stub", null);
        options.put("--config", null);
        options.put("--out", null);
        for (int i = 1; i < args.length; i++) {
            if (!options.containsKey(args[i])) {
                return usage(err, "unknown argument \"" + args[i] + "\" for pack");
            }
            if (i + 1 >= args.length) {
                return usage(err, args[i] + " needs a value");
            }
            if (options.get(args[i]) != null) {
                return usage(err, args[i] + " is given twice");
            }
            options.put(args[i], args[++i]);
        }
        for (Map.Entry<String, String> e : options.entrySet()) {
            if (e.getValue() == null) {
                return usage(err, "pack needs " + e.getKey());
            }
        }
        Path stub = Paths.get(options.get("--stub"));
        Path outFile = Paths.get(options.get("--out"));
        for (String warning : Packer.pack(Paths.get(options.get("--config")), stub, outFile)) {
            err.println("packer: warning: " + oneLine(warning));
        }
        PayloadReader.Contents written = PayloadReader.read(outFile);
        out.println("packed " + outFile + ": payload at offset " + written.payloadOffset + ", "
                + written.includedFiles.size() + " included file(s), " + written.unextractedLength
                + " bytes of unextracted data");
        return EXIT_OK;
    }

    private static int inspect(String[] args, PrintStream out, PrintStream err) throws PackerException {
        boolean json = false;
        String file = null;
        for (int i = 1; i < args.length; i++) {
            if (args[i].equals("--json")) {
                json = true;
            } else if (file == null && !args[i].startsWith("--")) {
                file = args[i];
            } else {
                return usage(err, "unexpected argument \"" + args[i] + "\" for inspect");
            }
        }
        if (file == null) {
            return usage(err, "inspect needs the launcher file");
        }
        PayloadReader.Contents c = PayloadReader.read(Paths.get(file));
        PeResources resources = ResourceWriter.read(Paths.get(file));
        int subsystem = PeHeaders.read(Paths.get(file)).subsystem;
        Map<String, String> version = versionInfo(resources);
        byte[] manifest = first(resources, Manifests.RT_MANIFEST, Manifests.APPLICATION_MANIFEST);
        if (json) {
            Map<String, Object> root = toJson(c);
            root.put("resources", ResourceWriter.describe(resources));
            root.put("subsystem", subsystemName(subsystem));
            root.put("versionInfo", version == null ? null : new LinkedHashMap<String, Object>(version));
            root.put("manifest", manifest == null ? null : Manifests.attributes(manifest));
            out.println(Json.write(root));
        } else {
            String nl = System.lineSeparator();
            StringBuilder sb = new StringBuilder(toText(c)).append(nl);
            sb.append("subsystem:        ").append(subsystemName(subsystem)).append(nl);
            sb.append("version info:     ");
            if (version == null) {
                sb.append("none");
            } else {
                for (Map.Entry<String, String> e : version.entrySet()) {
                    sb.append(nl).append("  ").append(e.getKey()).append(" = ").append(escape(e.getValue()));
                }
            }
            sb.append(nl).append("manifest:         ").append(manifest == null ? "none" : Manifests.summary(manifest));
            sb.append(nl).append(ResourceWriter.describeTypes(resources));
            sb.append(nl).append(ResourceWriter.describeText(resources));
            out.println(sb);
        }
        return EXIT_OK;
    }

    private static byte[] first(PeResources resources, int type, int id) {
        for (PeResources.Entry e : resources.entries()) {
            if (!e.type.isName() && e.type.number() == type && !e.name.isName() && e.name.number() == id) {
                return e.data;
            }
        }
        return null;
    }

    /** Version resource 1 as shown: the numeric versions and the strings; null for none. */
    private static Map<String, String> versionInfo(PeResources resources) {
        byte[] data = first(resources, VersionInfo.RT_VERSION, 1);
        if (data == null) {
            return null;
        }
        Map<String, String> parsed = VersionInfo.parse(data);
        if (parsed == null) {
            Map<String, String> damaged = new LinkedHashMap<>();
            damaged.put("damaged", "the version resource cannot be read");
            return damaged;
        }
        return parsed;
    }

    static String subsystemName(int subsystem) {
        return subsystem == PeHeaders.SUBSYSTEM_GUI ? "gui" : subsystem == PeHeaders.SUBSYSTEM_CONSOLE ? "console"
                : Integer.toString(subsystem);
    }

    /** The object that {@code inspect --json} prints. */
    static Map<String, Object> toJson(PayloadReader.Contents c) {
        Map<String, Object> root = new LinkedHashMap<>();
        root.put("payloadOffset", c.payloadOffset);
        root.put("checkFlag", c.checkFlag);
        root.put("crcStored", c.crcStored);
        root.put("crcComputed", c.crcComputed);
        root.put("crcMatches", c.crcMatches());
        root.put("coveredLength", c.coveredLength);
        root.put("keys", keyObject(c.narrow));
        root.put("wideKeys", keyObject(c.wide));
        List<Object> languages = new ArrayList<>();
        for (PayloadContent.LanguageBlock block : c.languages) {
            Map<String, Object> b = new LinkedHashMap<>();
            b.put("prefix", block.prefix);
            b.put("entries", keyObject(block.entries));
            languages.add(b);
        }
        root.put("languages", languages);
        List<Object> files = new ArrayList<>();
        for (PayloadReader.IncludedFile f : c.includedFiles) {
            Map<String, Object> o = new LinkedHashMap<>();
            o.put("name", f.name);
            o.put("size", f.size);
            files.add(o);
        }
        root.put("includedFiles", files);
        root.put("unextractedOffset", c.unextractedOffset);
        root.put("unextractedLength", c.unextractedLength);
        root.put("signed", c.certificateSize != 0);
        root.put("certificateOffset", c.certificateOffset);
        root.put("certificateSize", c.certificateSize);
        return root;
    }

    private static Map<String, Object> keyObject(Map<Integer, String> map) {
        Map<String, Object> o = new LinkedHashMap<>();
        for (Map.Entry<Integer, String> e : map.entrySet()) {
            o.put(Integer.toString(e.getKey()), e.getValue());
        }
        return o;
    }

    static String toText(PayloadReader.Contents c) {
        StringBuilder sb = new StringBuilder();
        String nl = System.lineSeparator();
        sb.append("payload offset:   ").append(c.payloadOffset).append(nl);
        sb.append("check flag:       ").append(c.checkFlag).append(c.checkFlag != 0 ? " (integrity check on)" : " (off)")
                .append(nl);
        sb.append("checksum:         stored ").append(hex(c.crcStored)).append(", computed ").append(hex(c.crcComputed))
                .append(c.crcMatches() ? " (matches)" : " (MISMATCH)").append(nl);
        sb.append("covered length:   ").append(c.coveredLength).append(nl);
        sb.append("narrow keys (").append(c.narrow.size()).append("):").append(nl);
        appendKeys(sb, c.narrow, "  ");
        sb.append("wide keys (").append(c.wide.size()).append("):").append(nl);
        appendKeys(sb, c.wide, "  ");
        sb.append("language blocks (").append(c.languages.size()).append("):").append(nl);
        for (PayloadContent.LanguageBlock block : c.languages) {
            sb.append("  \"").append(escape(block.prefix)).append("\" (").append(block.entries.size())
                    .append(" entries)").append(nl);
            appendKeys(sb, block.entries, "    ");
        }
        sb.append("included files (").append(c.includedFiles.size()).append("):").append(nl);
        for (PayloadReader.IncludedFile f : c.includedFiles) {
            sb.append("  ").append(escape(f.name)).append(" (").append(f.size).append(" bytes)").append(nl);
        }
        sb.append("unextracted data: ").append(c.unextractedLength).append(" bytes at offset ")
                .append(c.unextractedOffset).append(nl);
        sb.append("signature:        ").append(c.certificateSize == 0 ? "none"
                : "certificate table of " + c.certificateSize + " bytes at offset " + c.certificateOffset);
        return sb.toString();
    }

    private static void appendKeys(StringBuilder sb, Map<Integer, String> map, String indent) {
        for (Map.Entry<Integer, String> e : map.entrySet()) {
            sb.append(indent).append(e.getKey()).append(" = ").append(escape(e.getValue()))
                    .append(System.lineSeparator());
        }
    }

    /** Keeps one key per line: control characters are shown as escapes. */
    private static String escape(String s) {
        StringBuilder sb = new StringBuilder();
        for (char ch : s.toCharArray()) {
            if (ch == '\n') {
                sb.append("\\n");
            } else if (ch == '\r') {
                sb.append("\\r");
            } else if (ch == '\t') {
                sb.append("\\t");
            } else if (ch < 0x20) {
                sb.append(String.format("\\u%04X", (int) ch));
            } else {
                sb.append(ch);
            }
        }
        return sb.toString();
    }

    private static String hex(long v) {
        return String.format("0x%08X", v);
    }

    private static String oneLine(String message) {
        return message == null ? "unknown error" : message.replace("\r\n", " ").replace('\n', ' ').replace('\r', ' ');
    }

    private static int usage(PrintStream err, String problem) {
        err.println("packer: " + problem);
        err.println(USAGE);
        return EXIT_USAGE;
    }
}
