package com.quillon.maven;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * Passwords encrypted the way a user does it, with Maven's own command line:
 * {@code mvn --encrypt-master-password} for settings-security.xml, then
 * {@code mvn --encrypt-password} for a server of settings.xml.
 */
final class MavenEncryption {

    private static final Pattern ENCRYPTED = Pattern.compile("\\{[A-Za-z0-9+/=]+\\}");

    private MavenEncryption() {
    }

    /** Writes settings-security.xml with the master password, encrypted, into {@code dir}. */
    static Path settingsSecurity(Path dir, String master) throws Exception {
        Files.createDirectories(dir);
        Path file = dir.resolve("settings-security.xml");
        String encrypted = mvn("--encrypt-master-password", master);
        String xml = "<settingsSecurity><master>" + encrypted + "</master></settingsSecurity>";
        Files.write(file, xml.getBytes(StandardCharsets.UTF_8));
        return file;
    }

    /** The server password as {@code mvn --encrypt-password} gives it under that master. */
    static String encrypt(String password, Path settingsSecurity) throws Exception {
        return mvn("-Dsettings.security=" + settingsSecurity, "--encrypt-password", password);
    }

    private static String mvn(String... args) throws IOException, InterruptedException {
        List<String> command = new ArrayList<>(Arrays.asList(ChildBuild.mvnCommand(), "-B"));
        command.addAll(Arrays.asList(args));
        Process process = new ProcessBuilder(command).redirectErrorStream(true).start();
        byte[] output = readAll(process);
        if (!process.waitFor(5, TimeUnit.MINUTES) || process.exitValue() != 0) {
            throw new AssertionError("mvn " + String.join(" ", args) + " failed: "
                    + new String(output, StandardCharsets.UTF_8));
        }
        Matcher m = ENCRYPTED.matcher(new String(output, StandardCharsets.UTF_8));
        if (!m.find()) {
            throw new AssertionError("mvn " + args[args.length - 2] + " printed no encrypted text: "
                    + new String(output, StandardCharsets.UTF_8));
        }
        return m.group();
    }

    private static byte[] readAll(Process process) throws IOException {
        java.io.ByteArrayOutputStream out = new java.io.ByteArrayOutputStream();
        byte[] buffer = new byte[4096];
        int n;
        while ((n = process.getInputStream().read(buffer)) > 0) {
            out.write(buffer, 0, n);
        }
        return out.toByteArray();
    }
}
