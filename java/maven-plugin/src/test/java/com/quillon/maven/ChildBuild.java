package com.quillon.maven;

import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quillon.packer.Json;
import com.quillon.packer.PackerTool;
import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.OutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import java.util.jar.JarEntry;
import java.util.jar.JarOutputStream;
import java.util.stream.Stream;

/**
 * Real Maven builds of the projects under src/test/projects with this plugin. The plugin, the
 * packer and the runtime library are installed into a local repository under target/it; other
 * artifacts come from the user's repository (as a file repository) and, failing that, Central.
 */
final class ChildBuild {

    static final String VERSION = System.getProperty("quillon.version", "1.0.0-SNAPSHOT");
    static final Path JAVA_DIR = Paths.get(System.getProperty("quillon.javaDirectory", "..")).toAbsolutePath()
            .normalize();
    static final Path IT = Paths.get("target", "it").toAbsolutePath();
    static final Path REPO = IT.resolve("repo");
    /** The password of server "demo-signing" in the builds' settings, where it is kept encrypted. */
    static final String SIGNING_PASSWORD = "s3cret-for-the-test";
    private static boolean installed;

    /** What one mvn run did. */
    static final class Result {
        final int exitCode;
        final String output;
        final Path project;

        Result(int exitCode, String output, Path project) {
            this.exitCode = exitCode;
            this.output = output;
            this.project = project;
        }
    }

    private ChildBuild() {
    }

    /** Whether this build of the plugin carries the launcher stubs (made by make native). */
    static boolean haveStubs() {
        return Files.isRegularFile(Paths.get("target", "classes", "stubs", "win64", "app-launcher.exe"));
    }

    /**
     * Copies project {@code name} to target/it/work/{@code copy}, puts {@code extra} where the
     * POM says {@code <!-- extra -->}, and runs mvn with {@code args} in it.
     */
    static synchronized Result run(String name, String copy, String extra, String... args) throws Exception {
        return run(name, copy, extra, Collections.<String, String>emptyMap(), args);
    }

    /** The same with {@code files} (path in the project → text) written over the project's own. */
    static synchronized Result run(String name, String copy, String extra, Map<String, String> files,
            String... args) throws Exception {
        install();
        Path project = IT.resolve("work").resolve(copy);
        deleteTree(project);
        copyProject(name, project, extra, null);
        for (Map.Entry<String, String> f : files.entrySet()) {
            Files.write(project.resolve(f.getKey()), f.getValue().getBytes(StandardCharsets.UTF_8));
        }
        return mvn(project, args);
    }

    /**
     * One reactor build of several copies of project {@code name}, one per entry of
     * {@code extras} (module name → extra), each with "-module" after its artifactId; the modules
     * fail or pass on their own (--fail-at-end). Cheaper than one mvn run per copy.
     */
    static synchronized Result runModules(String name, String group, Map<String, String> extras, String... args)
            throws Exception {
        install();
        Path root = IT.resolve("work").resolve(group);
        deleteTree(root);
        StringBuilder modules = new StringBuilder();
        for (Map.Entry<String, String> e : extras.entrySet()) {
            copyProject(name, root.resolve(e.getKey()), e.getValue(), e.getKey());
            modules.append("<module>").append(e.getKey()).append("</module>");
        }
        String pom = "<project><modelVersion>4.0.0</modelVersion><groupId>com.example</groupId>"
                + "<artifactId>" + group + "</artifactId><version>1</version><packaging>pom</packaging>"
                + "<modules>" + modules + "</modules></project>";
        Files.write(root.resolve("pom.xml"), pom.getBytes(StandardCharsets.UTF_8));
        List<String> all = new ArrayList<>(Arrays.asList("--fail-at-end"));
        all.addAll(Arrays.asList(args));
        return mvn(root, all.toArray(new String[0]));
    }

    private static void copyProject(String name, Path project, String extra, String suffix) throws IOException {
        Path source = Paths.get("src", "test", "projects", name);
        try (Stream<Path> files = Files.walk(source)) {
            for (Path file : (Iterable<Path>) files::iterator) {
                Path target = project.resolve(source.relativize(file).toString());
                if (Files.isDirectory(file)) {
                    Files.createDirectories(target);
                } else {
                    Files.copy(file, target);
                }
            }
        }
        Path pom = project.resolve("pom.xml");
        String text = new String(Files.readAllBytes(pom), StandardCharsets.UTF_8)
                .replace("@quillon.version@", VERSION).replace("<!-- extra -->", extra);
        if (suffix != null) {
            text = text.replaceFirst("<artifactId>([^<]*)</artifactId>", "<artifactId>$1-" + suffix + "</artifactId>");
        }
        Files.write(pom, text.getBytes(StandardCharsets.UTF_8));
    }

    private static Result mvn(Path project, String... args) throws Exception {
        List<String> command = new ArrayList<>(Arrays.asList(mvnCommand(), "-B", "-s",
                IT.resolve("settings.xml").toString(), "-Dsettings.security=" + IT.resolve("settings-security.xml")));
        command.addAll(Arrays.asList(args));
        Path log = project.resolve("build.log");
        ProcessBuilder builder = new ProcessBuilder(command).directory(project.toFile()).redirectErrorStream(true)
                .redirectOutput(log.toFile());
        Process process = builder.start();
        if (!process.waitFor(10, TimeUnit.MINUTES)) {
            process.destroyForcibly();
            throw new AssertionError("mvn did not finish in " + project);
        }
        // Maven 3.8 writes colour resets even in batch mode.
        String output = new String(Files.readAllBytes(log), StandardCharsets.UTF_8).replaceAll("\u001B\\[[0-9;]*m", "");
        return new Result(process.exitValue(), output, project);
    }

    /** The Maven that runs these tests, else the one on the PATH. */
    static String mvnCommand() {
        String home = System.getProperty("quillon.mavenHome", "");
        Path mvn = Paths.get(home, "bin", "mvn");
        return !home.isEmpty() && Files.isExecutable(mvn) ? mvn.toString() : "mvn";
    }

    /** What the packer's inspect --json says about an exe. */
    @SuppressWarnings("unchecked")
    static Map<String, Object> inspect(Path exe) throws Exception {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        ByteArrayOutputStream err = new ByteArrayOutputStream();
        int code = PackerTool.run(new String[] {"inspect", "--json", exe.toString()},
                new PrintStream(out, true, "UTF-8"), new PrintStream(err, true, "UTF-8"));
        assertTrue(code == 0, "inspect failed: " + new String(err.toByteArray(), StandardCharsets.UTF_8));
        return (Map<String, Object>) Json.parse(new String(out.toByteArray(), StandardCharsets.UTF_8));
    }

    private static void install() throws Exception {
        if (installed) {
            return;
        }
        Files.createDirectories(IT);
        // The signing password as the README has users keep it: encrypted by Maven under a
        // master password, so the builds go through Maven's own decrypter.
        Path security = MavenEncryption.settingsSecurity(IT, "master-of-the-test");
        String encryptedPassword = MavenEncryption.encrypt(SIGNING_PASSWORD, security);
        String userRepo = Paths.get(System.getProperty("user.home"), ".m2", "repository").toUri().toString();
        String repositories = "<repository><id>user-repository</id><url>" + userRepo + "</url>"
                + "<snapshots><enabled>false</enabled></snapshots></repository>";
        String settings = "<settings><localRepository>" + REPO + "</localRepository>"
                + "<servers><server><id>demo-signing</id><password>" + encryptedPassword + "</password></server></servers>"
                + "<profiles><profile><id>it</id>"
                + "<repositories>" + repositories + "</repositories>"
                + "<pluginRepositories>" + repositories.replace("repository>", "pluginRepository>")
                + "</pluginRepositories></profile></profiles>"
                + "<activeProfiles><activeProfile>it</activeProfile></activeProfiles></settings>";
        Files.write(IT.resolve("settings.xml"), settings.getBytes(StandardCharsets.UTF_8));

        installPom("quillon-java", JAVA_DIR.resolve("pom.xml"));
        installModule("packer", JAVA_DIR.resolve("packer"), codeSource(PackerTool.class));
        installModule("runtime", JAVA_DIR.resolve("runtime"),
                codeSource(Class.forName("com.quillon.runtime.launcher.WinLauncher")));
        installModule("quillon-maven-plugin", JAVA_DIR.resolve("maven-plugin"), Paths.get("target", "classes"));
        installed = true;
    }

    private static Path codeSource(Class<?> type) throws Exception {
        return Paths.get(type.getProtectionDomain().getCodeSource().getLocation().toURI());
    }

    private static Path versionDir(String artifactId) throws IOException {
        Path dir = REPO.resolve(Paths.get("com", "quillon", artifactId, VERSION));
        Files.createDirectories(dir);
        return dir;
    }

    private static void installPom(String artifactId, Path pom) throws IOException {
        Files.copy(pom, versionDir(artifactId).resolve(artifactId + "-" + VERSION + ".pom"),
                StandardCopyOption.REPLACE_EXISTING);
    }

    /** The module's POM and its classes (a directory, or a jar when the tests run against an installed one). */
    private static void installModule(String artifactId, Path moduleDir, Path classes) throws IOException {
        installPom(artifactId, moduleDir.resolve("pom.xml"));
        Path jar = versionDir(artifactId).resolve(artifactId + "-" + VERSION + ".jar");
        if (Files.isRegularFile(classes)) {
            Files.copy(classes, jar, StandardCopyOption.REPLACE_EXISTING);
            return;
        }
        try (OutputStream file = Files.newOutputStream(jar); JarOutputStream out = new JarOutputStream(file);
                Stream<Path> walk = Files.walk(classes)) {
            for (Path p : (Iterable<Path>) walk.sorted()::iterator) {
                if (Files.isRegularFile(p)) {
                    out.putNextEntry(new JarEntry(classes.relativize(p).toString().replace(File.separatorChar, '/')));
                    Files.copy(p, out);
                    out.closeEntry();
                }
            }
        }
    }

    static void deleteTree(Path dir) throws IOException {
        if (!Files.exists(dir)) {
            return;
        }
        try (Stream<Path> walk = Files.walk(dir)) {
            for (Path p : (Iterable<Path>) walk.sorted((a, b) -> b.compareTo(a))::iterator) {
                Files.delete(p);
            }
        }
    }
}
