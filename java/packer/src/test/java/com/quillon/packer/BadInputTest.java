package com.quillon.packer;

import static com.quillon.packer.TestFiles.config;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import java.io.ByteArrayOutputStream;
import java.io.PrintStream;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.Random;
import java.util.function.Consumer;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * Crafted and mutated stubs: every one is refused with a one-line error, exit code 1 and no
 * output file, never with a stack trace, an OutOfMemoryError or a silently broken launcher.
 */
class BadInputTest {

    private static final int OPTIONAL = PeFixture.PE_OFFSET + 24;

    @TempDir
    Path dir;

    /** A loadable-looking stub of two sections, as the mingw stubs are laid out. */
    static byte[] stub() {
        byte[] image = PeFixture.stub().section(0x200, 0x400).section(0x600, 0x200).build();
        ByteBuffer b = ByteBuffer.wrap(image).order(ByteOrder.LITTLE_ENDIAN);
        b.putInt(OPTIONAL + 56, 0x3000);
        int table = OPTIONAL + 240;
        b.putInt(table + 8, 0x400).putInt(table + 12, 0x1000);
        b.putInt(table + 40 + 8, 0x200).putInt(table + 40 + 12, 0x2000);
        return image;
    }

    /**
     * A stub whose resource directory holds {@code fanOut} entries per level, all pointing at the
     * same subdirectory: a tiny section that would expand to fanOut^3 resources.
     */
    static byte[] resourceBomb(int fanOut) {
        int tree = 16 + 8 * fanOut;
        int size = (tree + 16 + 0x1FF) & ~0x1FF;
        byte[] base = stub();
        byte[] image = Arrays.copyOf(base, base.length + size);
        ByteBuffer b = ByteBuffer.wrap(image).order(ByteOrder.LITTLE_ENDIAN);
        int raw = base.length;
        int table = OPTIONAL + 240;
        int entry = table + 80;
        b.put(entry, (byte) '.').put(entry + 1, (byte) 'r');
        b.putInt(entry + 8, size).putInt(entry + 12, 0x3000).putInt(entry + 16, size).putInt(entry + 20, raw);
        b.putShort(PeFixture.PE_OFFSET + 6, (short) 3);
        b.putInt(OPTIONAL + 56, 0x3000 + ((size + 0xFFF) & ~0xFFF));
        b.putInt(OPTIONAL + 112 + 16, 0x3000).putInt(OPTIONAL + 112 + 20, size);
        // One directory that lists itself fanOut times; the language level points at one data entry.
        b.putShort(raw + 14, (short) fanOut);
        for (int i = 0; i < fanOut; i++) {
            b.putInt(raw + 16 + 8 * i, i + 1).putInt(raw + 16 + 8 * i + 4, 0x80000000);
        }
        b.putInt(raw + tree, 0x3000).putInt(raw + tree + 4, 16);
        return image;
    }

    private static Consumer<ByteBuffer> optional(int offset, int value) {
        return b -> b.putInt(OPTIONAL + offset, value);
    }

    static Stream<Arguments> craftedStubs() {
        return Stream.of(
                Arguments.of("FileAlignment 0x40000000", optional(36, 0x40000000), "FileAlignment 0x40000000"),
                Arguments.of("FileAlignment 0x20000000", optional(36, 0x20000000), "FileAlignment 0x20000000"),
                Arguments.of("FileAlignment 0", optional(36, 0), "FileAlignment 0x0"),
                Arguments.of("FileAlignment not a power of two", optional(36, 0x300), "not a power of two"),
                Arguments.of("SectionAlignment 0x80000000", optional(32, 0x80000000), "SectionAlignment 0x80000000"),
                Arguments.of("SectionAlignment below FileAlignment", optional(32, 0x100), "smaller than FileAlignment"),
                Arguments.of("SizeOfHeaders beyond the file", optional(60, 0x7FFFFF00), "SizeOfHeaders"),
                Arguments.of("SizeOfImage beyond 1 GB", optional(56, 0x7FFFF000), "SizeOfImage"),
                Arguments.of("data directories beyond the header", optional(108, 0x1000), "data directories"),
                Arguments.of("section far in the image",
                        (Consumer<ByteBuffer>) b -> b.putInt(OPTIONAL + 240 + 12, 0xFFFFF000), "beyond 1 GB"),
                Arguments.of("raw data of the first section past the end",
                        (Consumer<ByteBuffer>) b -> b.putInt(OPTIONAL + 240 + 16, 0x7FFFFFFF), "is truncated"),
                Arguments.of("unknown optional header", (Consumer<ByteBuffer>) b -> b.putShort(OPTIONAL, (short) 0x107),
                        "unknown optional header"));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("craftedStubs")
    void craftedHeadersAreRefusedByPackAndInspect(String name, Consumer<ByteBuffer> damage, String message)
            throws Exception {
        byte[] image = stub();
        damage.accept(ByteBuffer.wrap(image).order(ByteOrder.LITTLE_ENDIAN));
        Path stub = Files.write(dir.resolve("stub.exe"), image);
        Files.write(dir.resolve("icon.bmp"), bmp());
        // With a splash screen the resource writer reads every header it patches.
        Path config = config(dir, "{'splashScreen': {'image': 'icon.bmp'}}");
        expectOneLineError(message, "pack", "--stub", stub.toString(), "--config", config.toString(), "--out",
                dir.resolve("out.exe").toString());
        expectOneLineError(message, "pack", "--stub", stub.toString(), "--config", config(dir, "{}").toString(),
                "--out", dir.resolve("out.exe").toString());
        expectOneLineError(message, "inspect", stub.toString());
    }

    @Test
    void aResourceTreeThatRevisitsItsDirectoriesIsRefused() throws Exception {
        Path stub = Files.write(dir.resolve("stub.exe"), resourceBomb(2000));
        Files.write(dir.resolve("splash.bmp"), bmp());
        Path config = config(dir, "{'splashScreen': {'image': 'splash.bmp'}}");
        expectOneLineError("twice", "pack", "--stub", stub.toString(), "--config", config.toString(), "--out",
                dir.resolve("out.exe").toString());
        // inspect reads the payload first; give the bomb one, which writing it does not need resources for
        Path packed = dir.resolve("packed.exe");
        PayloadWriter.pack(stub, new PayloadContent(), packed);
        expectOneLineError("twice", "inspect", packed.toString());
    }

    static Stream<Arguments> badImages() {
        byte[] nineteen = Arrays.copyOf(bmp(), 19);
        byte[] hugeBmp = bmp();
        ByteBuffer.wrap(hugeBmp).order(ByteOrder.LITTLE_ENDIAN).putInt(18, 1 << 20);
        byte[] oddHeader = bmp();
        ByteBuffer.wrap(oddHeader).order(ByteOrder.LITTLE_ENDIAN).putInt(14, 0x7FFFFFFF);
        byte[] pngHeaderOnly = Arrays.copyOf(new byte[] {(byte) 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, 33);
        ByteBuffer png = ByteBuffer.wrap(pngHeaderOnly);
        png.putInt(8, 13).put(12, (byte) 'I').put(13, (byte) 'H').put(14, (byte) 'D').put(15, (byte) 'R')
                .putInt(16, 100000).putInt(20, 100000).put(24, (byte) 8).put(25, (byte) 2);
        return Stream.of(
                Arguments.of("a 19-byte BMP", nineteen, "cut short"),
                Arguments.of("a BMP a million pixels wide", hugeBmp, "pixels a side"),
                Arguments.of("a BMP with an unknown header size", oddHeader, "unknown info header size"),
                Arguments.of("a PNG claiming 100000 x 100000 pixels", pngHeaderOnly, "pixels a side"),
                Arguments.of("no image at all", "hello".getBytes(StandardCharsets.US_ASCII), "not an image"));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("badImages")
    void badSplashImagesAreRefused(String name, byte[] image, String message) throws Exception {
        Path stub = Files.write(dir.resolve("stub.exe"), stub());
        Files.write(dir.resolve("splash.img"), image);
        for (String runtimeLibrary : new String[] {"false", "true"}) {
            Path config = config(dir, "{'splashScreen': {'image': 'splash.img', 'runtimeLibrary': " + runtimeLibrary
                    + "}}");
            expectOneLineError(message, "pack", "--stub", stub.toString(), "--config", config.toString(), "--out",
                    dir.resolve("out.exe").toString());
        }
    }

    private void expectOneLineError(String message, String... args) {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        ByteArrayOutputStream err = new ByteArrayOutputStream();
        int code = Main.run(args, new PrintStream(out), new PrintStream(err));
        String stderr = new String(err.toByteArray(), StandardCharsets.UTF_8);
        assertEquals(Main.EXIT_FAILED, code, stderr);
        assertTrue(stderr.startsWith("packer: error: "), stderr);
        assertFalse(stderr.contains("internal error"), stderr);
        assertTrue(stderr.contains(message), stderr);
        assertEquals(1, stderr.split("\r?\n").length, "one line: " + stderr);
        assertFalse(Files.exists(dir.resolve("out.exe")));
    }

    /** A 2 x 2 24-bit BMP. */
    static byte[] bmp() {
        ByteBuffer b = ByteBuffer.allocate(14 + 40 + 16).order(ByteOrder.LITTLE_ENDIAN);
        b.put((byte) 'B').put((byte) 'M').putInt(70).putInt(0).putInt(54);
        b.putInt(40).putInt(2).putInt(2).putShort((short) 1).putShort((short) 24).putInt(0).putInt(16);
        return b.array();
    }

    // ------------------------------------------------------------------ mutation fuzzing

    /** Packed launchers to mutate: the fixture and, once built, the real stubs. */
    private List<byte[]> seeds() throws Exception {
        List<byte[]> stubs = new ArrayList<>();
        stubs.add(stub());
        Path dist = Paths.get(System.getProperty("user.dir")).resolve("../../build/win64/launcher").normalize();
        for (String name : new String[] {"app-launcher.exe", "setup-launcher.exe", "service-launcher.exe"}) {
            Path exe = dist.resolve(name);
            if (Files.isRegularFile(exe)) {
                stubs.add(Files.readAllBytes(exe));
            }
        }
        List<byte[]> seeds = new ArrayList<>();
        List<ResourceWriter.Resource> resources = Arrays.asList(
                new ResourceWriter.Resource(ResourceWriter.Kind.BITMAP, PeResources.Id.of(10000), bmp()),
                new ResourceWriter.Resource(ResourceWriter.Kind.RCDATA, PeResources.Id.of("NAMED"), new byte[40]),
                ResourceWriter.Resource.typed(VersionInfo.RT_VERSION, 1, VersionInfo.build(new long[] {1, 2, 3, 4},
                        new long[] {1, 2, 0, 0}, java.util.Collections.singletonMap("ProductName", "Fuzz"))),
                ResourceWriter.Resource.typed(Manifests.RT_MANIFEST, 1, Manifests.standard("asInvoker")));
        PayloadContent content = new PayloadContent();
        content.narrow.put(101, "Fuzz");
        content.wide.put(20012, "Cancel");
        for (byte[] s : stubs) {
            Path in = Files.write(dir.resolve("seed-stub.exe"), ResourceWriter.rewrite(s, resources));
            Path out = dir.resolve("seed.exe");
            PayloadWriter.pack(in, content, out);
            seeds.add(Files.readAllBytes(out));
        }
        return seeds;
    }

    private static final int[] INTERESTING = {0, 1, -1, 0x7FFFFFFF, 0x80000000, 0x40000000, 0x20000000, 0x10000,
        0x1000, 0x200, 0xFFFF, 0x8000};

    @Test
    void mutatedLaunchersFailOnlyWithPackerExceptions() throws Exception {
        Random random = new Random(0x5EED);
        List<byte[]> seeds = seeds();
        int mutants = 3000;
        Path file = dir.resolve("mutant.exe");
        for (int m = 0; m < mutants; m++) {
            byte[] seed = seeds.get(m % seeds.size());
            byte[] mutant = mutate(seed, random);
            Files.write(file, mutant);
            try {
                probe(file, mutant);
            } catch (PackerException expected) {
                // a refusal is what the mutant deserves
            } catch (Throwable t) {
                fail("mutant " + m + " of seed " + (m % seeds.size()) + " threw " + t, t);
            }
        }
    }

    /** Everything the packer does with a stub or a launcher it did not write itself. */
    private static void probe(Path file, byte[] bytes) throws Exception {
        ByteArrayOutputStream err = new ByteArrayOutputStream();
        int code = Main.run(new String[] {"inspect", file.toString()}, new PrintStream(new ByteArrayOutputStream()),
                new PrintStream(err));
        String stderr = new String(err.toByteArray(), StandardCharsets.UTF_8);
        if (code != Main.EXIT_OK && (code != Main.EXIT_FAILED || stderr.contains("internal error"))) {
            throw new AssertionError("inspect: exit " + code + ": " + stderr);
        }
        try {
            PayloadReader.read(file);
        } catch (PackerException refused) {
            // go on with the resource side
        }
        try {
            ResourceWriter.read(file);
        } catch (PackerException refused) {
            // go on with packing
        }
        PeImage.read(file).checkPackable();
        ResourceWriter.rewrite(bytes, Collections.singletonList(
                new ResourceWriter.Resource(ResourceWriter.Kind.RCDATA, PeResources.Id.of(7), new byte[8])));
    }

    /** Mostly header and resource-tree bytes: that is where the packer reads offsets and sizes. */
    private static byte[] mutate(byte[] seed, Random random) {
        byte[] mutant = seed.clone();
        ByteBuffer b = ByteBuffer.wrap(mutant).order(ByteOrder.LITTLE_ENDIAN);
        int pe = Math.max(0, Math.min(b.getInt(0x3C), mutant.length - 512));
        int resources = findResourceSection(seed);
        int changes = 1 + random.nextInt(4);
        for (int i = 0; i < changes; i++) {
            int region = random.nextInt(10);
            int at;
            if (region < 5) {
                at = pe + random.nextInt(Math.min(512, mutant.length - pe));
            } else if (region < 8 && resources >= 0) {
                at = resources + random.nextInt(Math.min(256, mutant.length - resources));
            } else {
                at = random.nextInt(mutant.length);
            }
            if (random.nextBoolean() && at + 4 <= mutant.length) {
                b.putInt(at, INTERESTING[random.nextInt(INTERESTING.length)] + (random.nextBoolean() ? 0 : i));
            } else {
                mutant[at] = (byte) random.nextInt(256);
            }
        }
        return mutant;
    }

    /** The raw data of the last section, which is the resource section in the seeds. */
    private static int findResourceSection(byte[] image) {
        ByteBuffer b = ByteBuffer.wrap(image).order(ByteOrder.LITTLE_ENDIAN);
        int pe = b.getInt(0x3C);
        int count = b.getShort(pe + 6) & 0xFFFF;
        int table = pe + 24 + (b.getShort(pe + 20) & 0xFFFF);
        return b.getInt(table + 40 * (count - 1) + 20);
    }
}
