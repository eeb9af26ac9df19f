package com.quillon.maven;

import com.quillon.packer.PackerConfig;
import com.quillon.packer.PackerException;
import com.quillon.packer.PackerTool;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.PrintStream;
import java.io.UnsupportedEncodingException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import org.apache.maven.plugin.MojoFailureException;

/** Runs the packer in this JVM and turns its exit code and lines into a result or a build failure. */
final class PackerCall {

    /** What a successful run printed. */
    static final class Output {
        final List<String> out;
        final List<String> warnings;

        Output(List<String> out, List<String> warnings) {
            this.out = out;
            this.warnings = warnings;
        }
    }

    private PackerCall() {
    }

    static Output run(String... args) throws MojoFailureException {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        ByteArrayOutputStream err = new ByteArrayOutputStream();
        int code;
        try (PrintStream o = new PrintStream(out, true, "UTF-8"); PrintStream e = new PrintStream(err, true, "UTF-8")) {
            code = PackerTool.run(args, o, e);
        } catch (UnsupportedEncodingException e) {
            throw new IllegalStateException(e);
        }
        List<String> errLines = lines(err);
        List<String> warnings = new ArrayList<>();
        String error = null;
        for (String line : errLines) {
            if (line.startsWith("packer: warning: ")) {
                warnings.add(line.substring("packer: warning: ".length()));
            } else if (error == null && line.startsWith("packer: ")) {
                error = line;
            }
        }
        if (code != 0) {
            throw new MojoFailureException(error != null ? error
                    : "the packer failed with exit code " + code + ": " + String.join(" | ", errLines));
        }
        return new Output(lines(out), warnings);
    }

    /**
     * Whether the packer knows the named setting. A null value counts as not given, so a packer
     * that knows the name accepts it; one that does not refuses it as unknown.
     */
    static boolean knowsSetting(String name, Path scratchDirectory) {
        try {
            Files.createDirectories(scratchDirectory);
            Path probe = Files.createTempFile(scratchDirectory, "probe-", ".json");
            try {
                Files.write(probe, ("{\"" + name + "\": null}").getBytes(StandardCharsets.UTF_8));
                PackerConfig.load(probe);
                return true;
            } catch (PackerException e) {
                return !e.getMessage().contains("unknown setting \"" + name + "\"");
            } finally {
                Files.deleteIfExists(probe);
            }
        } catch (IOException e) {
            return false;
        }
    }

    private static List<String> lines(ByteArrayOutputStream bytes) {
        List<String> lines = new ArrayList<>();
        for (String line : new String(bytes.toByteArray(), StandardCharsets.UTF_8).split("\\r?\\n")) {
            if (!line.isEmpty()) {
                lines.add(line);
            }
        }
        return lines;
    }
}
