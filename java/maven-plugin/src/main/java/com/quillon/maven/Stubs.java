package com.quillon.maven;

import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.LinkedHashMap;
import java.util.Map;
import org.apache.maven.plugin.MojoFailureException;

/** The launcher stubs this plugin's jar carries, one per {@code <launcher>} value. */
final class Stubs {

    static final Map<String, String> RESOURCES = new LinkedHashMap<>();

    static {
        RESOURCES.put("app", "stubs/win64/app-launcher.exe");
        RESOURCES.put("installer", "stubs/win64/setup-launcher.exe");
        RESOURCES.put("installer-x86", "stubs/win32/setup-launcher.exe");
        RESOURCES.put("service", "stubs/win64/service-launcher.exe");
    }

    private Stubs() {
    }

    /** Copies the stub for {@code launcher} out of {@code loader} into {@code directory}. */
    static Path extract(String launcher, ClassLoader loader, Path directory) throws MojoFailureException {
        String resource = RESOURCES.get(launcher);
        if (resource == null) {
            throw new MojoFailureException("launcher \"" + launcher + "\" is not one of "
                    + String.join(", ", RESOURCES.keySet()));
        }
        try (InputStream in = loader.getResourceAsStream(resource)) {
            if (in == null) {
                throw new MojoFailureException("this build of the plugin carries no " + resource
                        + " (the launcher stub for \"" + launcher + "\"); build the stubs first (make native) "
                        + "and then the plugin");
            }
            Files.createDirectories(directory);
            Path stub = directory.resolve(launcher + "-" + resource.substring(resource.lastIndexOf('/') + 1));
            Files.copy(in, stub, StandardCopyOption.REPLACE_EXISTING);
            return stub;
        } catch (IOException e) {
            throw new MojoFailureException("cannot copy the launcher stub " + resource + ": " + e.getMessage(), e);
        }
    }
}
