package com.quillon.packer;

import static com.quillon.packer.TestFiles.config;
import static com.quillon.packer.TestFiles.file;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.zip.GZIPInputStream;
import org.apache.commons.compress.archivers.tar.TarArchiveEntry;
import org.apache.commons.compress.archivers.tar.TarArchiveInputStream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class RuntimeArchiveTest {

    private static final String LONG_NAME = "lib/" + String.join("", java.util.Collections.nCopies(30, "long"))
            + ".jar";

    @TempDir
    Path dir;

    private Path runtime() throws Exception {
        Path jre = dir.resolve("jre");
        file(jre, "bin/java.exe", new byte[] {'M', 'Z', 1});
        file(jre, "lib/modules", new byte[1000]);
        file(jre, LONG_NAME, new byte[] {5});
        file(jre, "bin/server/jvm.dll", new byte[] {'M', 'Z', 2});
        file(jre, "release", "JAVA_VERSION=\"17\"".getBytes(StandardCharsets.US_ASCII));
        return jre;
    }

    @Test
    void theArchiveIsSortedGnuTarWithFixedTimesAndOwners() throws Exception {
        Path jre = runtime();
        Path first = dir.resolve("a.tar.gz");
        Path second = dir.resolve("b.tar.gz");
        long size = RuntimeArchive.write(jre, first);
        Files.setLastModifiedTime(jre.resolve("release"), java.nio.file.attribute.FileTime.fromMillis(1));
        assertEquals(size, RuntimeArchive.write(jre, second));
        assertArrayEquals(Files.readAllBytes(first), Files.readAllBytes(second), "same directory, same bytes");

        byte[] tar;
        try (InputStream in = new GZIPInputStream(Files.newInputStream(first))) {
            ByteArrayOutputStream b = new ByteArrayOutputStream();
            byte[] buf = new byte[4096];
            int n;
            while ((n = in.read(buf)) > 0) {
                b.write(buf, 0, n);
            }
            tar = b.toByteArray();
        }
        assertEquals(size, tar.length, "key 151 counts the uncompressed tar stream");
        List<String> names = new ArrayList<>();
        try (TarArchiveInputStream in = new TarArchiveInputStream(new java.io.ByteArrayInputStream(tar))) {
            TarArchiveEntry e;
            while ((e = in.getNextEntry()) != null) {
                names.add(e.getName());
                assertEquals(RuntimeArchive.ENTRY_TIME_MILLIS, e.getModTime().getTime());
                assertEquals(0, e.getLongUserId());
                assertEquals("", e.getUserName());
            }
        }
        assertEquals(Arrays.asList("bin/", "bin/java.exe", "bin/server/", "bin/server/jvm.dll", "lib/",
                LONG_NAME, "lib/modules", "release"), names);
        // What the installer's reader knows: "ustar" headers, long names as GNU "L" entries
        // (never in the prefix field, which it does not read)
        assertEquals("ustar", new String(tar, 257, 5, StandardCharsets.US_ASCII));
        int longLink = new String(tar, StandardCharsets.ISO_8859_1).indexOf("././@LongLink");
        assertTrue(longLink > 0 && longLink % 512 == 0);
        assertEquals('L', tar[longLink + 156]);
        for (int header = 0; header + 512 <= tar.length; header += 512) {
            if (new String(tar, header + 257, 5, StandardCharsets.US_ASCII).equals("ustar")) {
                assertEquals(0, tar[header + 345], "empty prefix field at " + header);
            }
        }
    }

    @Test
    void packIncludesItAsJreTarGzAndSetsKey151() throws Exception {
        runtime();
        Path stub = Files.write(dir.resolve("stub.exe"), BadInputTest.stub());
        file(dir, "app.jar", new byte[] {1});
        Path config = config(dir, "{'manifest': false, 'bundledRuntime': 'jre',"
                + " 'includedFiles': [{'name': 'app.jar', 'source': 'app.jar'}]}");
        Path out = dir.resolve("setup.exe");
        Packer.pack(config, stub, out);
        PayloadReader.Contents c = PayloadReader.read(out);
        assertEquals("2", c.narrow.get(2002));
        assertEquals("app.jar;jre.tar.gz", c.narrow.get(2003));
        assertEquals(RuntimeArchive.NAME, c.includedFiles.get(1).name);
        long tarSize = RuntimeArchive.write(dir.resolve("jre"), dir.resolve("again.tar.gz"));
        assertEquals(Long.toString(tarSize), c.narrow.get(151));
        assertEquals(Files.size(dir.resolve("again.tar.gz")), c.includedFiles.get(1).size);
        try (java.util.stream.Stream<Path> left = Files.list(dir)) {
            assertEquals(0, left.filter(p -> p.getFileName().toString().startsWith(".jre.")).count(),
                    "the temporary archive is gone");
        }
    }

    @Test
    void refusesWhatIsNoRuntime() throws Exception {
        file(dir, "notjre/bin/javaw.exe", new byte[1]);
        file(dir, "jre/bin/java.exe", new byte[1]);
        String[][] cases = {
            {"{'bundledRuntime': 'notjre'}", "has no bin\\java.exe"},
            {"{'bundledRuntime': 'missing'}", "does not exist or is not a directory"},
            {"{'bundledRuntime': 'jre', 'keys': {'151': '5'}}", "sets key 151 itself"},
        };
        for (String[] c : cases) {
            PackerException e = assertThrows(PackerException.class, () -> PackerConfig.load(config(dir, c[0])));
            assertTrue(e.getMessage().contains(c[1]), e.getMessage());
        }
        Path stub = Files.write(dir.resolve("stub.exe"), BadInputTest.stub());
        file(dir, "x", new byte[1]);
        PackerException e = assertThrows(PackerException.class, () -> Packer.pack(config(dir,
                "{'bundledRuntime': 'jre', 'includedFiles': [{'name': 'JRE.tar.gz', 'source': 'x'}]}"), stub,
                dir.resolve("out.exe")));
        assertTrue(e.getMessage().contains("is the name bundledRuntime writes"), e.getMessage());
        assertTrue(!Files.exists(dir.resolve("out.exe")));
    }

    @Test
    void refusesWhatTheInstallerCannotUnpack() throws Exception {
        Path jre = runtime();
        // A file of 2 GiB, sparse: refused from its size, before a byte is read.
        Path big = jre.resolve("lib/big.bin");
        try (java.io.RandomAccessFile f = new java.io.RandomAccessFile(big.toFile(), "rw")) {
            f.setLength(RuntimeArchive.MAX_ENTRY_SIZE + 1);
        }
        assertRefused(jre, "lib/big.bin is 2 GB or larger");
        Files.delete(big);
        // Neither file nor directory: a named pipe, a link to a directory.
        Path fifo = jre.resolve("lib/pipe");
        assertEquals(0, new ProcessBuilder("mkfifo", fifo.toString()).inheritIO().start().waitFor());
        assertRefused(jre, "pipe is neither a file nor a directory");
        Files.delete(fifo);
        Path link = Files.createSymbolicLink(jre.resolve("lib/elsewhere"), dir);
        assertRefused(jre, "elsewhere is neither a file nor a directory");
        Files.delete(link);
        RuntimeArchive.write(jre, dir.resolve("fine.tar.gz"));
    }

    private void assertRefused(Path jre, String message) {
        PackerException e = assertThrows(PackerException.class,
                () -> RuntimeArchive.write(jre, dir.resolve("refused.tar.gz")));
        assertTrue(e.getMessage().contains(message), e.getMessage());
    }

    @Test
    void namesLongerThanTheInstallerReadsAreRefused() throws Exception {
        // No file system here holds such paths, so the rule is asked directly: 5998 bytes and
        // a terminator fit the reader's 6000, and a directory's name carries its "/".
        String longest = String.join("", java.util.Collections.nCopies(RuntimeArchive.MAX_NAME, "x"));
        RuntimeArchive.checkEntryName(longest);
        RuntimeArchive.checkEntryName(longest.substring(1) + "/");
        for (String name : new String[] {longest + "x", longest + "/", "\u00e9" + longest.substring(1)}) {
            PackerException e = assertThrows(PackerException.class, () -> RuntimeArchive.checkEntryName(name));
            assertTrue(e.getMessage().contains("longer than the 5998 bytes"), e.getMessage());
        }
    }
}
