package com.quillon.runtime.launcher;

import java.io.IOException;
import java.io.InputStream;
import java.nio.channels.Channels;
import java.nio.channels.FileChannel;
import java.nio.file.Paths;
import java.nio.file.StandardOpenOption;

/**
 * The data a packer appended behind the included files of a launcher. The launcher does not
 * read it; it tells the Java side where it begins. Its layout is the application's own.
 */
public final class UnextractedData {

    private UnextractedData() {
    }

    /**
     * Opens the launcher executable at the start of the unextracted data.
     *
     * @return the stream, positioned; null when there is no launcher or no position (a
     *         language-restart run)
     */
    public static InputStream open() throws IOException {
        String module = LauncherProperties.getModuleName();
        long position = LauncherProperties.getUnextractedPosition();
        if (module == null || position < 0) {
            return null;
        }
        FileChannel channel = FileChannel.open(Paths.get(module), StandardOpenOption.READ);
        channel.position(position);
        return Channels.newInputStream(channel);
    }
}
