package com.quillon.packer;

import java.io.BufferedOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.stream.Stream;
import java.util.zip.Deflater;
import java.util.zip.GZIPOutputStream;
import org.apache.commons.compress.archivers.tar.TarArchiveEntry;
import org.apache.commons.compress.archivers.tar.TarArchiveOutputStream;
import org.apache.commons.compress.archivers.tar.TarConstants;

/**
 * A Java runtime directory (for example a jlink image) as the gzip-compressed GNU tar archive
 * the installer unpacks. The same directory always gives the same bytes: entries in path order,
 * one fixed time, no owner names, uid and gid 0.
 */
final class RuntimeArchive {

    /** The included file name the installer looks for. */
    static final String NAME = "jre.tar.gz";
    /** 2000-01-01T00:00:00Z: a fixed entry time, so that packing twice gives the same archive. */
    static final long ENTRY_TIME_MILLIS = 946684800000L;
    /**
     * The installer's tar reader keeps sizes in a signed 32-bit integer and a long name with its
     * terminator in fewer than 6000 bytes.
     */
    static final long MAX_ENTRY_SIZE = Integer.MAX_VALUE;
    static final int MAX_NAME = 5998;

    private RuntimeArchive() {
    }

    /** Refuses what is no runtime: a directory without {@code bin\java.exe}. */
    static void check(Path dir, String where) throws PackerException {
        if (!Files.isRegularFile(dir.resolve("bin").resolve("java.exe"))) {
            throw new PackerException(where + ": " + dir + " has no bin\\java.exe; name the directory of a Windows"
                    + " Java runtime (for example a jlink image)");
        }
    }

    /**
     * Writes the archive of {@code dir} to {@code target}.
     *
     * @return the length of the uncompressed tar stream, which the installer's progress counts
     */
    static long write(Path dir, Path target) throws PackerException {
        List<String> paths = list(dir);
        CountingOutput counted;
        try (OutputStream file = new BufferedOutputStream(Files.newOutputStream(target), 1 << 16);
                GZIPOutputStream gzip = new GZIPOutputStream(file, 1 << 16) {
                    {
                        def.setLevel(Deflater.BEST_COMPRESSION);
                    }
                };
                CountingOutput counting = new CountingOutput(gzip);
                TarArchiveOutputStream tar = new TarArchiveOutputStream(counting, StandardCharsets.UTF_8.name())) {
            counted = counting;
            tar.setLongFileMode(TarArchiveOutputStream.LONGFILE_GNU);
            for (String relative : paths) {
                Path p = dir.resolve(relative);
                boolean directory = Files.isDirectory(p, LinkOption.NOFOLLOW_LINKS);
                TarArchiveEntry entry = new TarArchiveEntry(directory ? relative + "/" : relative,
                        directory ? TarConstants.LF_DIR : TarConstants.LF_NORMAL);
                entry.setModTime(ENTRY_TIME_MILLIS);
                entry.setUserId(0);
                entry.setGroupId(0);
                entry.setUserName("");
                entry.setGroupName("");
                entry.setMode(directory ? 040755 : 0100644);
                if (!directory) {
                    entry.setSize(Files.size(p));
                }
                tar.putArchiveEntry(entry);
                if (!directory) {
                    try (InputStream in = Files.newInputStream(p)) {
                        byte[] buf = new byte[1 << 16];
                        int n;
                        while ((n = in.read(buf)) > 0) {
                            tar.write(buf, 0, n);
                        }
                    }
                }
                tar.closeArchiveEntry();
            }
            tar.finish();
        } catch (IOException | RuntimeException e) {
            throw new PackerException("bundledRuntime: cannot write the runtime archive: " + e.getMessage(), e);
        }
        return counted.count;
    }

    /** Every directory and file under {@code dir}, relative with "/", sorted. */
    private static List<String> list(Path dir) throws PackerException {
        List<String> paths = new ArrayList<>();
        try (Stream<Path> walk = Files.walk(dir)) {
            for (Path p : (Iterable<Path>) walk::iterator) {
                if (p.equals(dir)) {
                    continue;
                }
                String relative = dir.relativize(p).toString().replace('\\', '/').replace(p.getFileSystem()
                        .getSeparator(), "/");
                boolean directory = Files.isDirectory(p, LinkOption.NOFOLLOW_LINKS);
                checkEntryName(directory ? relative + "/" : relative);
                if (directory) {
                    paths.add(relative);
                } else if (Files.isRegularFile(p)) {
                    if (Files.size(p) > MAX_ENTRY_SIZE) {
                        throw new PackerException("bundledRuntime: " + relative + " is 2 GB or larger, more than the"
                                + " installer unpacks");
                    }
                    paths.add(relative);
                } else {
                    throw new PackerException("bundledRuntime: " + p + " is neither a file nor a directory");
                }
            }
        } catch (IOException | java.io.UncheckedIOException e) {
            throw new PackerException("bundledRuntime: cannot read " + dir + ": " + e.getMessage(), e);
        }
        Collections.sort(paths);
        return paths;
    }

    /** Refuses an entry name (a directory's with its "/") that the installer cannot read back. */
    static void checkEntryName(String name) throws PackerException {
        if (name.getBytes(StandardCharsets.UTF_8).length > MAX_NAME) {
            throw new PackerException("bundledRuntime: the path " + name + " is longer than the " + MAX_NAME
                    + " bytes the installer unpacks");
        }
    }

    /** Counts the bytes of the tar stream on their way into the compressor. */
    private static final class CountingOutput extends java.io.FilterOutputStream {
        long count;

        CountingOutput(OutputStream out) {
            super(out);
        }

        @Override
        public void write(int b) throws IOException {
            out.write(b);
            count++;
        }

        @Override
        public void write(byte[] b, int off, int len) throws IOException {
            out.write(b, off, len);
            count += len;
        }
    }
}
