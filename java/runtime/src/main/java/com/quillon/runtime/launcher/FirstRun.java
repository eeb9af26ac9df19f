package com.quillon.runtime.launcher;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.ServiceLoader;

/**
 * The first-run check. A launcher of the quillon flavor calls {@link #firstRun()} before the
 * application's {@code main} when the installation directory holds the marker
 * {@code .quillon\firstrun}; an installer leaves that marker behind. The handlers run in the
 * order the service loader finds them; when all of them agree the marker is removed, so the
 * check runs once.
 */
public final class FirstRun {

    static final String MARKER = ".quillon" + java.io.File.separator + "firstrun";

    private FirstRun() {
    }

    /** Called by the launcher: true lets the application start, false ends the start. */
    public static boolean firstRun() throws Exception {
        List<FirstRunHandler> handlers = new ArrayList<>();
        for (FirstRunHandler handler : ServiceLoader.load(FirstRunHandler.class)) {
            handlers.add(handler);
        }
        String module = LauncherProperties.getModuleName();
        Path launcherDirectory = module == null ? null : Paths.get(module).toAbsolutePath().getParent();
        return run(handlers, findMarker(launcherDirectory));
    }

    static boolean run(List<FirstRunHandler> handlers, Path marker) throws Exception {
        for (FirstRunHandler handler : handlers) {
            if (!handler.firstRun()) {
                return false;
            }
        }
        if (marker != null) {
            try {
                Files.deleteIfExists(marker);
            } catch (IOException e) {
                // The next start runs the handlers again; that is all a stuck marker costs.
                System.err.println("could not remove " + marker + ": " + e);
            }
        }
        return true;
    }

    /**
     * The launcher knows the installation directory from its configuration; the Java side
     * looks for the marker in the launcher's directory and then in each directory above it.
     */
    static Path findMarker(Path launcherDirectory) {
        for (Path dir = launcherDirectory; dir != null; dir = dir.getParent()) {
            Path marker = dir.resolve(MARKER);
            if (Files.exists(marker)) {
                return marker;
            }
        }
        return null;
    }
}
