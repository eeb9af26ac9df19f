package com.quillon.maven;

import com.quillon.packer.Json;
import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Properties;
import java.util.Set;
import java.util.TreeMap;
import java.util.jar.JarFile;
import javax.inject.Inject;
import org.apache.maven.artifact.Artifact;
import org.apache.maven.model.Plugin;
import org.apache.maven.model.PluginExecution;
import org.apache.maven.plugin.AbstractMojo;
import org.apache.maven.plugin.MojoExecution;
import org.apache.maven.plugin.MojoExecutionException;
import org.apache.maven.plugin.MojoFailureException;
import org.apache.maven.plugin.descriptor.Parameter;
import org.apache.maven.plugin.descriptor.PluginDescriptor;
import org.apache.maven.plugins.annotations.LifecyclePhase;
import org.apache.maven.plugins.annotations.Mojo;
import org.apache.maven.plugins.annotations.ResolutionScope;
import org.apache.maven.project.MavenProject;
import org.apache.maven.project.MavenProjectHelper;
import org.apache.maven.settings.Settings;
import org.apache.maven.settings.crypto.SettingsDecrypter;
import org.codehaus.plexus.util.xml.Xpp3Dom;

/**
 * Packs the project into a launcher executable: the project's jar and its runtime dependencies
 * as included files (or as class path entries beside the exe), the settings below, and
 * optionally a JSON config file of the packer, which the settings of the POM override.
 */
@Mojo(name = "pack", defaultPhase = LifecyclePhase.PACKAGE, requiresDependencyResolution = ResolutionScope.RUNTIME,
        threadSafe = true)
public class PackMojo extends AbstractMojo {

    private static final String RUNTIME_LIBRARY = "com.quillon:runtime";
    private static final List<String> LIBRARY_MODES = java.util.Arrays.asList("included", "classPath", "none");

    @org.apache.maven.plugins.annotations.Parameter(defaultValue = "${project}", readonly = true, required = true)
    private MavenProject project;

    @org.apache.maven.plugins.annotations.Parameter(defaultValue = "${mojoExecution}", readonly = true, required = true)
    private MojoExecution mojoExecution;

    @org.apache.maven.plugins.annotations.Parameter(defaultValue = "${settings}", readonly = true, required = true)
    private Settings mavenSettings;

    @org.apache.maven.plugins.annotations.Parameter(defaultValue = "${plugin}", readonly = true, required = true)
    private PluginDescriptor pluginDescriptor;

    @Inject
    private MavenProjectHelper projectHelper;

    @Inject
    private SettingsDecrypter settingsDecrypter;

    /** A JSON config file of the packer; its paths are relative to its own directory. */
    @org.apache.maven.plugins.annotations.Parameter(property = "quillon.configFile")
    private File configFile;

    /** Which launcher: app, installer, installer-x86 or service. */
    @org.apache.maven.plugins.annotations.Parameter(property = "quillon.launcher", defaultValue = "app")
    private String launcher;

    @org.apache.maven.plugins.annotations.Parameter(property = "quillon.outputFile",
            defaultValue = "${project.build.directory}/${project.build.finalName}.exe")
    private File outputFile;

    /** The classifier of the attached exe (its type is "exe"). */
    @org.apache.maven.plugins.annotations.Parameter(defaultValue = "exe")
    private String classifier;

    /** Attach the exe to the project, so that install and deploy carry it. */
    @org.apache.maven.plugins.annotations.Parameter(defaultValue = "true")
    private boolean attach;

    @org.apache.maven.plugins.annotations.Parameter(property = "quillon.skip", defaultValue = "false")
    private boolean skip;

    /**
     * Where the project's jar and runtime dependencies go: "included" (stored in the exe and
     * extracted at start), "classPath" (copied into {@link #libraryDirectory} beside the exe and
     * named in the class path) or "none".
     */
    @org.apache.maven.plugins.annotations.Parameter(property = "quillon.libraries", defaultValue = "included")
    private String libraries;

    /** For libraries "classPath": the directory beside the exe. */
    @org.apache.maven.plugins.annotations.Parameter(defaultValue = "lib")
    private String libraryDirectory;

    /** Add the launcher's runtime library when the project does not depend on it itself. */
    @org.apache.maven.plugins.annotations.Parameter(defaultValue = "true")
    private boolean includeRuntimeLibrary;

    @org.apache.maven.plugins.annotations.Parameter
    private String applicationName;
    @org.apache.maven.plugins.annotations.Parameter
    private String applicationType;
    @org.apache.maven.plugins.annotations.Parameter
    private String flavor;
    /** Default: the Main-Class of the project's jar. */
    @org.apache.maven.plugins.annotations.Parameter
    private String mainClass;
    @org.apache.maven.plugins.annotations.Parameter
    private List<ClassPathEntry> classPath;
    @org.apache.maven.plugins.annotations.Parameter
    private List<String> jvmOptions;
    @org.apache.maven.plugins.annotations.Parameter
    private List<String> arguments;
    @org.apache.maven.plugins.annotations.Parameter
    private String jvmOptionsFromCommandLine;
    @org.apache.maven.plugins.annotations.Parameter
    private String errorLog;
    @org.apache.maven.plugins.annotations.Parameter
    private String outputLog;
    @org.apache.maven.plugins.annotations.Parameter
    private String appendToLogs;
    @org.apache.maven.plugins.annotations.Parameter
    private String installationDirectory;
    @org.apache.maven.plugins.annotations.Parameter
    private String minJavaVersion;
    @org.apache.maven.plugins.annotations.Parameter
    private String maxJavaVersion;
    @org.apache.maven.plugins.annotations.Parameter
    private List<SearchEntry> searchSequence;
    @org.apache.maven.plugins.annotations.Parameter
    private Properties messages;
    @org.apache.maven.plugins.annotations.Parameter
    private Properties localizedTexts;
    @org.apache.maven.plugins.annotations.Parameter
    private List<IncludedFile> includedFiles;
    @org.apache.maven.plugins.annotations.Parameter
    private File unextractedData;
    @org.apache.maven.plugins.annotations.Parameter
    private String integrityCheck;
    @org.apache.maven.plugins.annotations.Parameter
    private SplashScreen splashScreen;
    @org.apache.maven.plugins.annotations.Parameter
    private Properties keys;
    @org.apache.maven.plugins.annotations.Parameter
    private Properties wideKeys;
    @org.apache.maven.plugins.annotations.Parameter
    private List<Language> languages;
    @org.apache.maven.plugins.annotations.Parameter
    private List<Resource> resources;
    @org.apache.maven.plugins.annotations.Parameter
    private File icon;
    @org.apache.maven.plugins.annotations.Parameter
    private VersionInfo versionInfo;
    @org.apache.maven.plugins.annotations.Parameter
    private Manifest manifest;
    @org.apache.maven.plugins.annotations.Parameter
    private String subsystem;
    @org.apache.maven.plugins.annotations.Parameter
    private File bundledRuntime;
    @org.apache.maven.plugins.annotations.Parameter
    private Signing signing;
    /** Service launcher: seconds a stop waits for the application before it is ended. */
    @org.apache.maven.plugins.annotations.Parameter
    private String serviceStopTimeout;
    /** Service launcher: restarts after a crash; see {@link ServiceRestart}. */
    @org.apache.maven.plugins.annotations.Parameter
    private ServiceRestart serviceRestart;
    /** Service launcher: folder of the output and event logs, default "logs" beside the exe. */
    @org.apache.maven.plugins.annotations.Parameter
    private String serviceLog;
    /** Service launcher: bytes, or a size such as "10MB". */
    @org.apache.maven.plugins.annotations.Parameter
    private String serviceLogMaxSize;
    @org.apache.maven.plugins.annotations.Parameter
    private String serviceLogKeep;
    /** Service launcher: LocalSystem, LocalService, NetworkService, virtual or an account name. */
    @org.apache.maven.plugins.annotations.Parameter
    private String serviceAccount;
    @org.apache.maven.plugins.annotations.Parameter
    private String serviceInteractive;
    /** Service launcher: demand, auto or delayed. */
    @org.apache.maven.plugins.annotations.Parameter
    private String serviceStart;
    @org.apache.maven.plugins.annotations.Parameter
    private String servicePreshutdownTimeout;
    /**
     * Service launcher: variables for the application's process. Maven does not keep their
     * order, so a value should not refer to another of them.
     */
    @org.apache.maven.plugins.annotations.Parameter
    private Map<String, String> serviceEnvironment;
    /**
     * The per-user start-up cache (class-data archive, included files extracted once) of the
     * application launcher and the service; "true" or "false", default true.
     */
    @org.apache.maven.plugins.annotations.Parameter(property = "quillon.startupCache")
    private String startupCache;
    /**
     * Further named settings of the packer, one element each ({@code <singleInstance>true</singleInstance>}):
     * true and false are booleans, a value starting with "{", "[" or a double quote is JSON, anything else
     * a string.
     */
    @org.apache.maven.plugins.annotations.Parameter
    private Map<String, String> settings;

    @Override
    public void execute() throws MojoExecutionException, MojoFailureException {
        if (skip) {
            getLog().info("Skipping the launcher (quillon.skip)");
            return;
        }
        checkParameterNames();
        if (!LIBRARY_MODES.contains(libraries)) {
            throw new MojoFailureException("libraries \"" + libraries + "\" is not one of " + LIBRARY_MODES);
        }
        Path work = new File(project.getBuild().getDirectory(), "quillon").toPath();
        Map<String, Object> fromFile = configFile == null ? new LinkedHashMap<>()
                : ConfigJson.read(configFile.toPath());
        Map<String, Object> config = ConfigJson.merge(fromFile, pomSettings());
        dropFilePasswordVariable(config);

        boolean ownClassPath = config.get("classPath") != null;
        String main = mainClass(config);
        List<Library> libs = libraries();
        if (main != null && !ownClassPath && !libraries.equals("none")) {
            checkMainClass(main, libs, config);
        }
        addLibraries(config, libs);
        config.putIfAbsent("applicationName", project.getName() != null ? project.getName() : project.getArtifactId());
        addVersionInfo(config, work);

        Path stub = Stubs.extract(launcher, getClass().getClassLoader(), work.resolve("stubs"));
        pack(config, stub, work);
        if (attach) {
            projectHelper.attachArtifact(project, "exe", classifier, outputFile);
        }
    }

    /** Maven drops configuration elements a goal does not know without a word; a misspelt setting must not pass. */
    private void checkParameterNames() throws MojoFailureException {
        Set<String> known = new HashSet<>();
        for (Parameter p : mojoExecution.getMojoDescriptor().getParameters()) {
            known.add(p.getName());
            if (p.getAlias() != null) {
                known.add(p.getAlias());
            }
        }
        Plugin plugin = project.getPlugin(pluginDescriptor.getPluginLookupKey());
        if (plugin == null) {
            return;
        }
        List<Object> configurations = new ArrayList<>();
        configurations.add(plugin.getConfiguration());
        PluginExecution execution = plugin.getExecutionsAsMap().get(mojoExecution.getExecutionId());
        if (execution != null) {
            configurations.add(execution.getConfiguration());
        }
        for (Object configuration : configurations) {
            if (!(configuration instanceof Xpp3Dom)) {
                continue;
            }
            for (Xpp3Dom child : ((Xpp3Dom) configuration).getChildren()) {
                if (!known.contains(child.getName())) {
                    throw new MojoFailureException("unknown parameter <" + child.getName() + "> for "
                            + pluginDescriptor.getGoalPrefix() + ":pack; named settings the plugin does not "
                            + "have an element for go inside <settings>");
                }
            }
        }
    }

    private Map<String, Object> pomSettings() throws MojoFailureException {
        Map<String, Object> s = new LinkedHashMap<>();
        s.put("applicationName", applicationName);
        s.put("applicationType", ConfigJson.whole(applicationType));
        s.put("flavor", flavor);
        s.put("mainClass", mainClass);
        if (classPath != null) {
            List<Object> entries = new ArrayList<>();
            for (ClassPathEntry e : classPath) {
                entries.add(e.toJson());
            }
            s.put("classPath", entries);
        }
        s.put("jvmOptions", jvmOptions);
        s.put("arguments", arguments);
        s.put("jvmOptionsFromCommandLine", ConfigJson.flag(jvmOptionsFromCommandLine));
        s.put("errorLog", errorLog);
        s.put("outputLog", outputLog);
        s.put("appendToLogs", ConfigJson.flag(appendToLogs));
        s.put("installationDirectory", installationDirectory);
        s.put("minJavaVersion", minJavaVersion);
        s.put("maxJavaVersion", maxJavaVersion);
        if (searchSequence != null) {
            List<Object> entries = new ArrayList<>();
            for (SearchEntry e : searchSequence) {
                entries.add(e.toJson());
            }
            s.put("searchSequence", entries);
        }
        s.put("messages", ConfigJson.keyMap(messages));
        s.put("localizedTexts", ConfigJson.keyMap(localizedTexts));
        if (includedFiles != null) {
            List<Object> entries = new ArrayList<>();
            for (IncludedFile f : includedFiles) {
                entries.add(f.toJson());
            }
            s.put("includedFiles", entries);
        }
        s.put("unextractedData", ConfigJson.path(unextractedData));
        s.put("integrityCheck", ConfigJson.flag(integrityCheck));
        s.put("startupCache", ConfigJson.flag(startupCache));
        s.put("splashScreen", splashScreen == null ? null : splashScreen.toJson());
        s.put("keys", ConfigJson.keyMap(keys));
        s.put("wideKeys", ConfigJson.keyMap(wideKeys));
        if (languages != null) {
            Map<String, Object> blocks = new LinkedHashMap<>();
            for (Language l : languages) {
                blocks.put(l.prefix(), l.toJson());
            }
            s.put("languages", blocks);
        }
        if (resources != null) {
            List<Object> entries = new ArrayList<>();
            for (Resource r : resources) {
                entries.add(r.toJson());
            }
            s.put("resources", entries);
        }
        // Settings of newer packers: sent only when given, so that an older packer keeps working.
        s.put("icon", ConfigJson.path(icon));
        s.put("versionInfo", versionInfo == null ? null : versionInfo.toJson());
        s.put("manifest", manifest == null ? null : manifest.toJson());
        s.put("subsystem", subsystem);
        s.put("bundledRuntime", ConfigJson.path(bundledRuntime));
        s.put("signing", signing == null ? null : signingJson());
        s.put("serviceStopTimeout", ConfigJson.whole(serviceStopTimeout));
        s.put("serviceRestart", serviceRestart == null ? null : serviceRestart.toJson());
        s.put("serviceLog", serviceLog);
        s.put("serviceLogMaxSize", ConfigJson.whole(serviceLogMaxSize));
        s.put("serviceLogKeep", ConfigJson.whole(serviceLogKeep));
        s.put("serviceAccount", serviceAccount);
        s.put("serviceInteractive", ConfigJson.flag(serviceInteractive));
        s.put("serviceStart", serviceStart);
        s.put("servicePreshutdownTimeout", ConfigJson.whole(servicePreshutdownTimeout));
        s.put("serviceEnvironment", serviceEnvironment == null ? null : new TreeMap<String, Object>(serviceEnvironment));
        if (settings != null) {
            Map<String, Object> named = new LinkedHashMap<>();
            for (Map.Entry<String, String> e : settings.entrySet()) {
                if (s.get(e.getKey()) != null) {
                    throw new MojoFailureException(e.getKey() + " is given twice: as <" + e.getKey()
                            + "> and inside <settings>");
                }
                named.put(e.getKey(), ConfigJson.settingValue(e.getKey(), e.getValue()));
            }
            // Paths in <settings> are text to Maven; like the File parameters they are relative to
            // the project, not to the directory the config is handed over in.
            ConfigJson.absolutizePaths(named, project.getBasedir().toPath());
            s.putAll(named);
        }
        s.values().removeIf(v -> v == null);
        return s;
    }

    private Map<String, Object> signingJson() throws MojoFailureException {
        String password = SigningPassword.resolve(signing, mavenSettings, settingsDecrypter, System.getenv());
        return ConfigJson.object("keystore", ConfigJson.path(signing.keystore), "keystoreType", signing.keystoreType,
                "alias", signing.alias, "password", password, "timestampUrl", signing.timestampUrl);
    }

    /**
     * The POM's password (from the settings or the environment) wins over a "passwordEnv" of the
     * config file; the packer takes only one of the two.
     */
    @SuppressWarnings("unchecked")
    private void dropFilePasswordVariable(Map<String, Object> config) {
        Object merged = config.get("signing");
        if (signing != null && merged instanceof Map) {
            Map<String, Object> copy = new LinkedHashMap<>((Map<String, Object>) merged);
            copy.remove("passwordEnv");
            config.put("signing", copy);
        }
    }

    /** The configured main class, else the Main-Class of the project's jar; null when neither names one. */
    private String mainClass(Map<String, Object> config) throws MojoFailureException {
        Object given = config.get("mainClass");
        Object rawKeys = config.get("keys");
        if (given instanceof String || (rawKeys instanceof Map && ((Map<?, ?>) rawKeys).get("122") != null)) {
            return given instanceof String ? (String) given : null;
        }
        File jar = project.getArtifact().getFile();
        String fromManifest = null;
        if (jar != null && jar.isFile()) {
            try (JarFile jf = new JarFile(jar)) {
                java.util.jar.Manifest m = jf.getManifest();
                fromManifest = m == null ? null : m.getMainAttributes().getValue("Main-Class");
            } catch (IOException e) {
                throw new MojoFailureException("cannot read " + jar + ": " + e.getMessage(), e);
            }
        }
        if (fromManifest == null || fromManifest.trim().isEmpty()) {
            throw new MojoFailureException("no main class: set <mainClass> in the configuration of the pack goal, "
                    + "\"mainClass\" in the config file, or Main-Class in the jar's manifest");
        }
        config.put("mainClass", fromManifest.trim());
        return fromManifest.trim();
    }

    /** A jar the application needs, with the name it gets in the exe or the library directory. */
    private static final class Library {
        final String name;
        final File file;

        Library(String name, File file) {
            this.name = name;
            this.file = file;
        }
    }

    private List<Library> libraries() throws MojoFailureException {
        List<Library> libs = new ArrayList<>();
        if (libraries.equals("none")) {
            return libs;
        }
        File jar = project.getArtifact().getFile();
        if (jar == null || !jar.isFile()) {
            throw new MojoFailureException("the project's jar is not built yet: the pack goal runs in the package "
                    + "phase, after the jar (packaging \"" + project.getPackaging() + "\")");
        }
        if (!jar.getName().endsWith(".jar")) {
            throw new MojoFailureException("the project's artifact " + jar.getName() + " is not a jar; pack a project "
                    + "with packaging \"jar\", or set <libraries>none</libraries> and name the files yourself");
        }
        List<Artifact> artifacts = new ArrayList<>();
        boolean hasRuntime = false;
        for (Artifact a : project.getArtifacts()) {
            if (a.getFile() != null && a.getArtifactHandler().isAddedToClasspath()) {
                artifacts.add(a);
                hasRuntime |= (a.getGroupId() + ":" + a.getArtifactId()).equals(RUNTIME_LIBRARY);
            }
        }
        if (includeRuntimeLibrary && !hasRuntime) {
            Artifact own = pluginDescriptor.getArtifactMap().get(RUNTIME_LIBRARY);
            if (own == null || own.getFile() == null) {
                throw new MojoFailureException("the plugin cannot find its own " + RUNTIME_LIBRARY);
            }
            artifacts.add(own);
        }
        Set<String> taken = new HashSet<>();
        libs.add(new Library(jar.getName(), jar));
        taken.add(jar.getName().toLowerCase(Locale.ROOT));
        for (Artifact a : artifacts) {
            String name = a.getFile().getName();
            // Two artifacts of the same name from different groups: the launcher extracts into one directory.
            if (!taken.add(name.toLowerCase(Locale.ROOT))) {
                name = a.getGroupId() + "-" + name;
                taken.add(name.toLowerCase(Locale.ROOT));
            }
            libs.add(new Library(name, a.getFile()));
        }
        return libs;
    }

    @SuppressWarnings("unchecked")
    private void checkMainClass(String main, List<Library> libs, Map<String, Object> config)
            throws MojoFailureException {
        String entry = main.replace('.', '/') + ".class";
        if (new File(project.getBuild().getOutputDirectory(), entry).isFile()) {
            return;
        }
        List<File> jars = new ArrayList<>();
        for (Library l : libs) {
            jars.add(l.file);
        }
        Object given = config.get("includedFiles");
        if (given instanceof List) {
            for (Object f : (List<Object>) given) {
                Object source = f instanceof Map ? ((Map<String, Object>) f).get("source") : null;
                if (source instanceof String && ((String) source).endsWith(".jar")) {
                    jars.add(new File((String) source));
                }
            }
        }
        for (File jar : jars) {
            if (!jar.isFile()) {
                continue;
            }
            try (JarFile jf = new JarFile(jar)) {
                if (jf.getEntry(entry) != null) {
                    return;
                }
            } catch (IOException e) {
                getLog().warn("cannot read " + jar + ": " + e.getMessage());
            }
        }
        throw new MojoFailureException("main class " + main + " is neither in the project's classes nor in its "
                + "runtime dependencies");
    }

    @SuppressWarnings("unchecked")
    private void addLibraries(Map<String, Object> config, List<Library> libs) throws MojoFailureException {
        if (libs.isEmpty()) {
            return;
        }
        if (libraries.equals("included")) {
            List<Object> files = new ArrayList<>();
            for (Library l : libs) {
                files.add(ConfigJson.object("name", l.name, "source", l.file.getAbsolutePath()));
            }
            Object given = config.get("includedFiles");
            if (given instanceof List) {
                files.addAll((List<Object>) given);
            }
            config.put("includedFiles", files);
            return;
        }
        String dir = libraryDirectory.replace('/', '\\');
        Path target = outputFile.getAbsoluteFile().getParentFile().toPath().resolve(libraryDirectory);
        List<Object> entries = new ArrayList<>();
        try {
            Files.createDirectories(target);
            for (Library l : libs) {
                Files.copy(l.file.toPath(), target.resolve(l.name), StandardCopyOption.REPLACE_EXISTING);
                entries.add(ConfigJson.object("type", "A", "required", true, "value", dir + "\\" + l.name));
            }
        } catch (IOException e) {
            throw new MojoFailureException("cannot copy the libraries to " + target + ": " + e.getMessage(), e);
        }
        Object given = config.get("classPath");
        if (given instanceof List) {
            entries.addAll((List<Object>) given);
        }
        config.put("classPath", entries);
    }

    /** Version information from the POM, under what the POM or the config file give. */
    @SuppressWarnings("unchecked")
    private void addVersionInfo(Map<String, Object> config, Path work) {
        Object given = config.get("versionInfo");
        if (given == null && !PackerCall.knowsSetting("versionInfo", work)) {
            getLog().info("This packer writes no version information; the exe goes without it");
            return;
        }
        String numeric = ConfigJson.numericVersion(project.getVersion());
        String org = project.getOrganization() == null ? null : project.getOrganization().getName();
        String name = (String) config.get("applicationName");
        Map<String, Object> defaults = ConfigJson.object(
                "fileVersion", numeric,
                "productVersion", numeric,
                "productName", name,
                "companyName", org,
                "fileDescription", project.getDescription() != null ? project.getDescription().trim() : name,
                "copyright", org == null ? null : "Copyright (C) " + org,
                "originalFilename", outputFile.getName(),
                "internalName", project.getArtifactId());
        config.put("versionInfo", given instanceof Map
                ? ConfigJson.merge(defaults, (Map<String, Object>) given) : defaults);
    }

    @SuppressWarnings("unchecked")
    private void pack(Map<String, Object> config, Path stub, Path work) throws MojoFailureException {
        String base = outputFile.getName().replaceFirst("\\.exe$", "");
        Path kept = work.resolve(base + ".json");
        Object signingValue = config.get("signing");
        boolean secret = signingValue instanceof Map && ((Map<String, Object>) signingValue).get("password") != null;
        Path handed = kept;
        try {
            Files.createDirectories(work);
            Map<String, Object> shown = config;
            if (secret) {
                shown = new LinkedHashMap<>(config);
                Map<String, Object> masked = new LinkedHashMap<>((Map<String, Object>) signingValue);
                masked.put("password", "********");
                shown.put("signing", masked);
                handed = Files.createTempFile(work, base + "-", ".json");
                try {
                    Files.setPosixFilePermissions(handed, PosixFilePermissions.fromString("rw-------"));
                } catch (UnsupportedOperationException e) {
                    // Not a POSIX file system; the file lives only for the packer's run.
                }
                write(handed, config);
            }
            write(kept, shown);
            File parent = outputFile.getAbsoluteFile().getParentFile();
            Files.createDirectories(parent.toPath());
            PackerCall.Output output = PackerCall.run("pack", "--stub", stub.toString(), "--config",
                    handed.toString(), "--out", outputFile.getAbsolutePath());
            for (String warning : output.warnings) {
                getLog().warn("packer: " + warning);
            }
            for (String line : output.out) {
                getLog().info(line);
            }
        } catch (IOException e) {
            throw new MojoFailureException("cannot write the packer config " + handed + ": " + e.getMessage(), e);
        } finally {
            if (secret && !handed.equals(kept)) {
                try {
                    Files.deleteIfExists(handed);
                } catch (IOException e) {
                    getLog().warn("cannot delete " + handed + ", which holds the signing password");
                }
            }
        }
    }

    private static void write(Path file, Map<String, Object> config) throws IOException {
        Files.write(file, (Json.write(config) + "\n").getBytes(StandardCharsets.UTF_8));
    }
}
