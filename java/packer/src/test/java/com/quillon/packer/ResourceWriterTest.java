package com.quillon.packer;

import static com.quillon.packer.TestFiles.config;
import static com.quillon.packer.TestFiles.file;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.awt.image.BufferedImage;
import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import javax.imageio.ImageIO;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** Resources written into fixture stubs, read back with the writer's own reader and by hand. */
class ResourceWriterTest {

    private static final int SECTION_ALIGNMENT = 0x1000;
    private static final int FILE_ALIGNMENT = 0x200;
    private static final PeResources.Id BITMAP = PeResources.Id.of(PeResources.RT_BITMAP);
    private static final PeResources.Id RCDATA = PeResources.Id.of(PeResources.RT_RCDATA);
    private static final PeResources.Id ICON = PeResources.Id.of(PeResources.RT_ICON);
    private static final PeResources.Id GROUP_ICON = PeResources.Id.of(PeResources.RT_GROUP_ICON);
    private static final PeResources.Id SPLASH = PeResources.Id.of(10000);

    @TempDir
    Path dir;

    /** The facts of a section-table entry that the tests check. */
    private static final class Section {
        final String name;
        final long virtualSize;
        final long rva;
        final long rawSize;
        final long rawPointer;

        Section(String name, long virtualSize, long rva, long rawSize, long rawPointer) {
            this.name = name;
            this.virtualSize = virtualSize;
            this.rva = rva;
            this.rawSize = rawSize;
            this.rawPointer = rawPointer;
        }
    }

    /**
     * A fixture stub that also has what a loader needs: alignments, SizeOfHeaders and an RVA for
     * each section, as the mingw stubs have them.
     */
    private static byte[] stub(int... rawSizes) {
        return stub(PeFixture.stub(), rawSizes);
    }

    private static byte[] stub(PeFixture fixture, int... rawSizes) {
        long pointer = FILE_ALIGNMENT;
        for (int size : rawSizes) {
            fixture.section(pointer, size);
            pointer += size;
        }
        byte[] image = fixture.build();
        ByteBuffer b = ByteBuffer.wrap(image).order(ByteOrder.LITTLE_ENDIAN);
        int optional = PeFixture.PE_OFFSET + 24;
        b.putInt(optional + 32, SECTION_ALIGNMENT);
        b.putInt(optional + 36, FILE_ALIGNMENT);
        b.putInt(optional + 60, FILE_ALIGNMENT);
        b.putInt(optional + 56, SECTION_ALIGNMENT * (rawSizes.length + 1));
        int table = optional + fixture.optionalHeaderSize();
        for (int i = 0; i < rawSizes.length; i++) {
            b.putInt(table + 40 * i + 8, rawSizes[i]);
            b.putInt(table + 40 * i + 12, SECTION_ALIGNMENT * (i + 1));
        }
        return image;
    }

    private static List<Section> sections(byte[] image) {
        ByteBuffer b = ByteBuffer.wrap(image).order(ByteOrder.LITTLE_ENDIAN);
        int pe = b.getInt(0x3C);
        int count = b.getShort(pe + 6);
        int table = pe + 24 + b.getShort(pe + 20);
        List<Section> list = new ArrayList<>();
        for (int i = 0; i < count; i++) {
            int at = table + 40 * i;
            String name = new String(image, at, 8, java.nio.charset.StandardCharsets.ISO_8859_1).replace("\0", "");
            list.add(new Section(name, b.getInt(at + 8), b.getInt(at + 12), b.getInt(at + 16), b.getInt(at + 20)));
        }
        return list;
    }

    private static long optionalField(byte[] image, int offset) {
        ByteBuffer b = ByteBuffer.wrap(image).order(ByteOrder.LITTLE_ENDIAN);
        return b.getInt(b.getInt(0x3C) + 24 + offset) & 0xFFFFFFFFL;
    }

    private static final int SIZE_OF_IMAGE = 56;
    private static final int RESOURCE_DIRECTORY = 112 + 16;

    private static ResourceWriter.Resource resource(ResourceWriter.Kind kind, PeResources.Id id, byte[] data) {
        return new ResourceWriter.Resource(kind, id, data);
    }

    private PeResources readBack(byte[] image) throws Exception {
        return ResourceWriter.read(Files.write(dir.resolve("read.exe"), image));
    }

    @Test
    void appendsOneResourceSectionLastAndPointsTheDirectoryAtIt() throws Exception {
        byte[] original = stub(0x400, 0x200);
        byte[] image = ResourceWriter.rewrite(original, Arrays.asList(
                resource(ResourceWriter.Kind.RCDATA, SPLASH, new byte[] {1, 2, 3}),
                resource(ResourceWriter.Kind.BITMAP, PeResources.Id.of("Logo"), new byte[] {4, 5})));

        List<Section> sections = sections(image);
        assertEquals(3, sections.size());
        Section rsrc = sections.get(2);
        assertEquals(".rsrc", rsrc.name);
        assertEquals(0x800, rsrc.rawPointer, "right behind the stub's last raw data");
        assertEquals(3L * SECTION_ALIGNMENT, rsrc.rva);
        assertEquals(0, rsrc.rawSize % FILE_ALIGNMENT);
        assertEquals(rsrc.rawPointer + rsrc.rawSize, image.length, "nothing behind the new section");
        assertEquals(rsrc.rva, optionalField(image, RESOURCE_DIRECTORY));
        assertEquals(rsrc.virtualSize, optionalField(image, RESOURCE_DIRECTORY + 4));
        assertEquals(4L * SECTION_ALIGNMENT, optionalField(image, SIZE_OF_IMAGE));
        assertArrayEquals(Arrays.copyOfRange(original, 0x200, 0x800), Arrays.copyOfRange(image, 0x200, 0x800),
                "the sections' raw data stays");
        assertEquals(image.length, PeImage.read(Files.write(dir.resolve("x.exe"), image)).payloadOffset());

        PeResources read = readBack(image);
        assertArrayEquals(new byte[] {1, 2, 3}, read.get(RCDATA, SPLASH, PeResources.LANGUAGE_NEUTRAL));
        assertArrayEquals(new byte[] {4, 5}, read.get(BITMAP, PeResources.Id.of("LOGO"), PeResources.LANGUAGE_NEUTRAL),
                "names are stored in upper case");
    }

    @Test
    void theX86LayoutHasItsResourceDirectoryElsewhere() throws Exception {
        byte[] image = ResourceWriter.rewrite(stub(PeFixture.stub().pe32(), 0x200),
                Collections.singletonList(resource(ResourceWriter.Kind.RCDATA, SPLASH, new byte[] {3})));

        Section rsrc = sections(image).get(1);
        assertEquals(".rsrc", rsrc.name);
        assertEquals(rsrc.rva, optionalField(image, 96 + 16), "the PE32 directory entry");
        assertEquals(rsrc.virtualSize, optionalField(image, 96 + 16 + 4));
        assertArrayEquals(new byte[] {3}, readBack(image).get(RCDATA, SPLASH, 0));
    }

    @Test
    void repackingReplacesTheAppendedSectionAndKeepsWhatItHeld() throws Exception {
        byte[] once = ResourceWriter.rewrite(stub(0x200), Arrays.asList(
                resource(ResourceWriter.Kind.RCDATA, SPLASH, new byte[] {1}),
                resource(ResourceWriter.Kind.RCDATA, PeResources.Id.of(7), new byte[] {7})));
        byte[] withPayload = Arrays.copyOf(once, once.length + 100);
        byte[] twice = ResourceWriter.rewrite(withPayload, Collections.singletonList(
                resource(ResourceWriter.Kind.RCDATA, SPLASH, new byte[] {2, 2})));

        List<Section> sections = sections(twice);
        assertEquals(2, sections.size(), "still one resource section");
        assertEquals(".rsrc", sections.get(1).name);
        assertEquals(sections.get(1).rawPointer + sections.get(1).rawSize, twice.length, "the old payload is gone");
        PeResources read = readBack(twice);
        assertArrayEquals(new byte[] {2, 2}, read.get(RCDATA, SPLASH, 0));
        assertArrayEquals(new byte[] {7}, read.get(RCDATA, PeResources.Id.of(7), 0));
    }

    @Test
    void mergesResourcesTheStubAlreadyHas() throws Exception {
        byte[] image = stub(0x400, 0x200);
        PeResources own = new PeResources();
        own.put(RCDATA, PeResources.Id.of(1), 0x409, new byte[] {9, 9});
        own.put(RCDATA, SPLASH, 0x409, new byte[] {8});
        own.put(ICON, PeResources.Id.of(4), 0x409, new byte[] {4});
        byte[] tree = own.build(SECTION_ALIGNMENT);
        System.arraycopy(tree, 0, image, FILE_ALIGNMENT, tree.length);
        ByteBuffer.wrap(image).order(ByteOrder.LITTLE_ENDIAN)
                .putInt(PeFixture.PE_OFFSET + 24 + RESOURCE_DIRECTORY, SECTION_ALIGNMENT)
                .putInt(PeFixture.PE_OFFSET + 24 + RESOURCE_DIRECTORY + 4, tree.length);

        byte[] result = ResourceWriter.rewrite(image, Collections.singletonList(
                resource(ResourceWriter.Kind.RCDATA, SPLASH, new byte[] {1})));

        assertEquals(3, sections(result).size(), "the stub's own resource section is not the last one: it stays");
        PeResources read = readBack(result);
        assertArrayEquals(new byte[] {9, 9}, read.get(RCDATA, PeResources.Id.of(1), 0x409));
        assertNull(read.get(RCDATA, SPLASH, 0x409), "a resource given again replaces every language of it");
        assertArrayEquals(new byte[] {1}, read.get(RCDATA, SPLASH, 0));
        assertArrayEquals(new byte[] {4}, read.get(ICON, PeResources.Id.of(4), 0x409));
    }

    @Test
    void anIconFileBecomesIconsAndAGroupThatListsThem() throws Exception {
        byte[] small = {1, 1, 1};
        byte[] large = {2, 2, 2, 2, 2};
        byte[] image = ResourceWriter.rewrite(stub(0x200), Arrays.asList(
                resource(ResourceWriter.Kind.ICON, PeResources.Id.of("first"), ico(new byte[] {9})),
                resource(ResourceWriter.Kind.ICON, PeResources.Id.of("ID_SPLASH_ICON"), ico(small, large))));

        PeResources read = readBack(image);
        assertArrayEquals(new byte[] {9}, read.get(ICON, PeResources.Id.of(1), 0));
        assertArrayEquals(small, read.get(ICON, PeResources.Id.of(2), 0), "numbered after the icons already there");
        assertArrayEquals(large, read.get(ICON, PeResources.Id.of(3), 0));
        ByteBuffer group = ByteBuffer.wrap(read.get(GROUP_ICON, PeResources.Id.of("ID_SPLASH_ICON"), 0))
                .order(ByteOrder.LITTLE_ENDIAN);
        assertEquals(6 + 2 * 14, group.capacity());
        assertEquals(1, group.getShort(2), "an icon group");
        assertEquals(2, group.getShort(4));
        assertEquals(16, group.get(6), "width of the first entry");
        assertEquals(small.length, group.getInt(6 + 8));
        assertEquals(2, group.getShort(6 + 12), "the first entry names icon 2");
        assertEquals(32, group.get(20), "width of the second entry");
        assertEquals(large.length, group.getInt(20 + 8));
        assertEquals(3, group.getShort(20 + 12));
    }

    /** An .ico file with one entry per image: 16, 32, ... pixels wide. */
    private static byte[] ico(byte[]... images) {
        int header = 6 + 16 * images.length;
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        ByteBuffer b = ByteBuffer.allocate(header).order(ByteOrder.LITTLE_ENDIAN);
        b.putShort((short) 0).putShort((short) 1).putShort((short) images.length);
        int offset = header;
        for (int i = 0; i < images.length; i++) {
            b.put((byte) (16 << i)).put((byte) (16 << i)).put((byte) 0).put((byte) 0).putShort((short) 1)
                    .putShort((short) 32).putInt(images[i].length).putInt(offset);
            offset += images[i].length;
        }
        out.write(b.array(), 0, header);
        for (byte[] image : images) {
            out.write(image, 0, image.length);
        }
        return out.toByteArray();
    }

    @Test
    void refusesWhatItCannotWrite() throws Exception {
        byte[] full = stub(0x200, 0x200, 0x200);
        ByteBuffer.wrap(full).order(ByteOrder.LITTLE_ENDIAN).putInt(PeFixture.PE_OFFSET + 24 + 60, 0x1C0);
        PackerException noRoom = assertThrows(PackerException.class, () -> ResourceWriter.rewrite(full,
                Collections.singletonList(resource(ResourceWriter.Kind.RCDATA, SPLASH, new byte[1]))));
        assertTrue(noRoom.getMessage().contains("no room for one more section header"), noRoom.getMessage());

        PackerException notIco = assertThrows(PackerException.class, () -> ResourceWriter.rewrite(stub(0x200),
                Collections.singletonList(resource(ResourceWriter.Kind.ICON, SPLASH, new byte[] {'B', 'M', 0, 0}))));
        assertTrue(notIco.getMessage().contains("not an .ico file"), notIco.getMessage());

        Path stub = Files.write(dir.resolve("stub.exe"), stub(0x200));
        PackerException noDirectory = assertThrows(PackerException.class, () -> ResourceWriter.pack(stub,
                Collections.singletonList(resource(ResourceWriter.Kind.RCDATA, SPLASH, new byte[1])),
                new PayloadContent(), dir.resolve("no/such/dir/out.exe")));
        assertTrue(noDirectory.getMessage().contains("does not exist"), noDirectory.getMessage());
    }

    @Test
    void theSplashSettingWritesTheBitmapAndItsKeys() throws Exception {
        Path stub = Files.write(dir.resolve("stub.exe"), stub(0x200));
        file(dir, "splash.bmp", bmp(3, 2));
        file(dir, "other.bin", new byte[] {5, 6});
        Path config = config(dir, "{'splashScreen': {'image': 'splash.bmp', 'autoOff': true, 'alwaysOnTop': true,"
                + "  'statusText': {'text': 'Loading', 'x': 10, 'y': 20, 'font': 'Tahoma', 'size': 9,"
                + "                 'color': [255, 0, 16], 'weight': 700},"
                + "  'secondText': {'text': 'Version 1', 'x': 1, 'y': 2}},"
                + " 'resources': [{'type': 'RCDATA', 'id': 'extra', 'source': 'other.bin'}],"
                + " 'keys': {'147': null}}");
        Path out = dir.resolve("out.exe");

        PackerConfig parsed = PackerConfig.load(config);
        ResourceWriter.pack(stub, parsed.resources(), parsed.content(), out);

        PayloadReader.Contents payload = PayloadReader.read(out);
        String[][] expected = {{"108", "1"}, {"141", "3"}, {"142", "2"}, {"145", "1"}, {"10109", "10"},
            {"10110", "20"}, {"10111", "Loading"}, {"10112", "Tahoma"}, {"10113", "9"}, {"10114", "255,0,16"},
            {"10115", "700"}, {"10116", "1"}, {"10117", "2"}, {"10118", "Version 1"}};
        for (String[] key : expected) {
            assertEquals(key[1], payload.narrow.get(Integer.parseInt(key[0])), "key " + key[0]);
        }
        assertNull(payload.narrow.get(147), "a raw null still removes a key the splash setting set");
        assertNull(payload.narrow.get(10123));
        PeResources read = ResourceWriter.read(out);
        assertArrayEquals(Arrays.copyOfRange(bmp(3, 2), 14, bmp(3, 2).length), read.get(BITMAP, SPLASH, 0),
                "a BMP file without its file header");
        assertArrayEquals(new byte[] {5, 6}, read.get(RCDATA, PeResources.Id.of("EXTRA"), 0));
    }

    @Test
    void theRuntimeLibraryGetsPngGifOrJpegAsRcdata() throws Exception {
        Path stub = Files.write(dir.resolve("stub.exe"), stub(0x200));
        byte[] png = png(4, 3);
        file(dir, "splash.png", png);
        file(dir, "splash.bmp", bmp(2, 5));
        for (String[] c : new String[][] {{"splash.png", "4", "3"}, {"splash.bmp", "2", "5"}}) {
            Path config = config(dir, "{'splashScreen': {'image': '" + c[0] + "', 'runtimeLibrary': true}}");
            Path out = dir.resolve("out.exe");
            PackerConfig parsed = PackerConfig.load(config);
            ResourceWriter.pack(stub, parsed.resources(), parsed.content(), out);

            PayloadReader.Contents payload = PayloadReader.read(out);
            assertEquals("1", payload.narrow.get(10123), c[0]);
            assertEquals(c[1], payload.narrow.get(141), c[0]);
            assertEquals(c[2], payload.narrow.get(142), c[0]);
            PeResources read = ResourceWriter.read(out);
            assertNull(read.get(BITMAP, SPLASH, 0), c[0]);
            byte[] data = read.get(RCDATA, SPLASH, 0);
            if (c[0].endsWith(".png")) {
                assertArrayEquals(png, data, "a PNG goes in as it is");
            }
            BufferedImage decoded = ImageIO.read(new ByteArrayInputStream(data));
            assertEquals(Integer.parseInt(c[1]), decoded.getWidth(), "a BMP is converted to PNG");
            assertEquals(0xFF0000, decoded.getRGB(0, 0) & 0xFFFFFF, c[0]);
        }
    }

    @Test
    void inspectListsTheResources() throws Exception {
        Files.write(dir.resolve("stub.exe"), stub(0x200));
        file(dir, "splash.bmp", bmp(3, 2));
        file(dir, "icon.ico", ico(new byte[] {1, 2}));
        config(dir, "{'splashScreen': {'image': 'splash.bmp'}, 'manifest': false,"
                + " 'resources': [{'type': 'ICON', 'id': 'ID_SPLASH_ICON', 'source': 'icon.ico'}]}");
        String out = dir.resolve("out.exe").toString();
        ByteArrayOutputStream stdout = new ByteArrayOutputStream();
        java.io.PrintStream print = new java.io.PrintStream(stdout, true, "UTF-8");
        assertEquals(Main.EXIT_OK, Main.run(new String[] {"pack", "--stub", dir.resolve("stub.exe").toString(),
            "--config", dir.resolve("config.json").toString(), "--out", out}, print, print));
        stdout.reset();

        assertEquals(Main.EXIT_OK, Main.run(new String[] {"inspect", "--json", out}, print, print));
        Object resources = ((java.util.Map<?, ?>) Json.parse(stdout.toString("UTF-8"))).get("resources");
        assertEquals(Json.parse(TestFiles.json("["
                + "{'type': 2, 'id': 10000, 'language': 0, 'size': " + (bmp(3, 2).length - 14) + "},"
                + "{'type': 3, 'id': 1, 'language': 0, 'size': 2},"
                + "{'type': 14, 'id': 'ID_SPLASH_ICON', 'language': 0, 'size': 20}]")), resources);

        stdout.reset();
        assertEquals(Main.EXIT_OK, Main.run(new String[] {"inspect", out}, print, print));
        assertTrue(stdout.toString("UTF-8").contains("type 14, id \"ID_SPLASH_ICON\", language 0: 20 bytes"),
                stdout.toString("UTF-8"));
    }

    @Test
    void aBmpWithAGapBeforeItsPixelsLosesTheGap() throws Exception {
        byte[] plain = bmp(2, 2);
        byte[] gap = new byte[plain.length + 6];
        System.arraycopy(plain, 0, gap, 0, 54);
        System.arraycopy(plain, 54, gap, 60, plain.length - 54);
        ByteBuffer.wrap(gap).order(ByteOrder.LITTLE_ENDIAN).putInt(10, 60);
        assertArrayEquals(Arrays.copyOfRange(plain, 14, plain.length), ResourceSettings.Images.toDib(gap, "test"));
    }

    @Test
    void aPngForTheOwnWindowBecomesABottomUpDib() throws Exception {
        byte[] dib = ResourceSettings.Images.toDib(png(2, 2), "test");
        ByteBuffer b = ByteBuffer.wrap(dib).order(ByteOrder.LITTLE_ENDIAN);
        assertEquals(40, b.getInt(0));
        assertEquals(2, b.getInt(4));
        assertEquals(2, b.getInt(8), "positive height: bottom-up rows");
        assertEquals(24, b.getShort(14));
        assertEquals(40 + 2 * 8, dib.length, "rows padded to four bytes");
        // The top row of png() is red and comes last; the bottom row is blue and comes first.
        assertArrayEquals(new byte[] {(byte) 255, 0, 0}, Arrays.copyOfRange(dib, 40, 43));
        assertArrayEquals(new byte[] {0, 0, (byte) 255}, Arrays.copyOfRange(dib, 48, 51));
    }

    @Test
    void refusesBadResourceSettings() throws Exception {
        file(dir, "splash.bmp", bmp(2, 2));
        file(dir, "text.txt", "not an image".getBytes(java.nio.charset.StandardCharsets.US_ASCII));
        String[][] cases = {
            {"{'resources': {}}", "\"resources\" must be an array"},
            {"{'resources': [{'type': 'ICONS', 'id': 1, 'source': 'splash.bmp'}]}", ".type must be"},
            {"{'resources': [{'type': 'RCDATA', 'id': 0, 'source': 'splash.bmp'}]}", "between 1 and 65535"},
            {"{'resources': [{'type': 'RCDATA', 'id': 1.5, 'source': 'splash.bmp'}]}", "resources[0].id"},
            {"{'resources': [{'type': 'RCDATA', 'id': 1, 'source': 'missing.bin'}]}", "does not exist"},
            {"{'resources': [{'type': 'RCDATA', 'id': 1, 'source': 'splash.bmp', 'lang': 7}]}", "unknown field"},
            {"{'resources': [{'type': 'BITMAP', 'id': 1, 'source': 'text.txt'}]}", "not an image format"},
            {"{'splashScreen': {}}", "splashScreen.image must be a string"},
            {"{'splashScreen': {'image': 'splash.bmp', 'autoOff': 1}}", "autoOff must be true or false"},
            {"{'splashScreen': {'image': 'splash.bmp', 'statusText': {'color': [1, 2]}}}", "three numbers"},
            {"{'splashScreen': {'image': 'splash.bmp', 'statusText': {'color': [1, 2, 256]}}}", "three numbers"},
            {"{'splashScreen': {'image': 'splash.bmp', 'statusText': {'x': '3'}}}", "statusText.x must be a whole"},
            {"{'splashScreen': {'image': 'splash.bmp', 'secondText': {'font': 'abcdefghijklmnopqrstuvwxyz012345'}}}",
                "at most 31 characters"},
        };
        for (String[] c : cases) {
            Path config = config(dir, c[0]);
            PackerException e = assertThrows(PackerException.class, () -> PackerConfig.load(config), c[0]);
            assertTrue(e.getMessage().contains(c[1]), c[0] + ": " + e.getMessage());
        }
    }

    /** A top-down 24-bit BMP file, all red. */
    private static byte[] bmp(int width, int height) {
        int stride = (width * 3 + 3) & ~3;
        ByteBuffer b = ByteBuffer.allocate(54 + stride * height).order(ByteOrder.LITTLE_ENDIAN);
        b.put((byte) 'B').put((byte) 'M').putInt(b.capacity()).putInt(0).putInt(54);
        b.putInt(40).putInt(width).putInt(-height).putShort((short) 1).putShort((short) 24).putInt(0)
                .putInt(stride * height).putInt(0).putInt(0).putInt(0).putInt(0);
        for (int y = 0; y < height; y++) {
            for (int x = 0; x < width; x++) {
                b.put(54 + y * stride + 3 * x + 2, (byte) 255);
            }
        }
        return b.array();
    }

    /** A PNG whose top row is red and whose other rows are blue. */
    private static byte[] png(int width, int height) throws IOException {
        BufferedImage image = new BufferedImage(width, height, BufferedImage.TYPE_INT_RGB);
        for (int y = 0; y < height; y++) {
            for (int x = 0; x < width; x++) {
                image.setRGB(x, y, y == 0 ? 0xFF0000 : 0x0000FF);
            }
        }
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        ImageIO.write(image, "png", out);
        return out.toByteArray();
    }
}
