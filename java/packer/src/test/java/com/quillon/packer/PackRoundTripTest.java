package com.quillon.packer;

import static com.quillon.packer.TestFiles.config;
import static com.quillon.packer.TestFiles.file;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.io.RandomAccessFile;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.stream.Collectors;
import java.util.zip.CRC32;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * Packs fixture stubs and checks the bytes: once by walking the layout by hand, once through the
 * packer's own reader.
 */
class PackRoundTripTest {

    private static final byte[] JAR = {1, 2, 3, 4, 5};
    private static final byte[] DLL = {(byte) 0xA7, 0x00, (byte) 0xFF};
    private static final byte[] DATA = "unextracted tail".getBytes(StandardCharsets.US_ASCII);

    @TempDir
    Path dir;
    Path stub;
    Path config;

    @BeforeEach
    void setUp() throws IOException {
        stub = PeFixture.stub().section(0x200, 0x200).section(0x400, 0x200).write(dir.resolve("stub.exe"));
        file(dir, "in/app.jar", JAR);
        file(dir, "in/empty.txt", new byte[0]);
        file(dir, "in/x.dll", DLL);
        file(dir, "in/data.bin", DATA);
        config = config(dir, "{"
                + "'applicationName': 'D\u00e9mo',"
                + "'applicationType': 'gui',"
                + "'mainClass': 'com.example.Main',"
                + "'integrityCheck': true,"
                + "'keys': {'10123': '1', '-5': 'negative', '0': 'zero'},"
                + "'wideKeys': {'20100': '\u00dcnic\u00f6de \u20ac \ud83d\ude00'},"
                + "'languages': {'de': {'20012': 'Abbrechen'}, 'de_AT': {'20012': 'Abbruch', '20100': 'x'},"
                + "  '': {'20100': 'any'}},"
                + "'includedFiles': [{'name': 'app.jar', 'source': 'in/app.jar'},"
                + "  {'name': 'empty.txt', 'source': 'in/empty.txt'},"
                + "  {'name': 'lib\\\\x.dll', 'source': 'in/x.dll'}],"
                + "'unextractedData': 'in/data.bin'}");
    }

    private Path pack(Path from, Path to) throws PackerException {
        PayloadWriter.pack(from, PackerConfig.load(config).content(), to);
        return to;
    }

    @Test
    void writesTheLayoutByteForByte() throws Exception {
        Path out = pack(stub, dir.resolve("out.exe"));
        byte[] bytes = Files.readAllBytes(out);
        byte[] stubBytes = Files.readAllBytes(stub);
        int start = 0x600;
        int checksum = PeFixture.PE_OFFSET + 24 + 64;
        byte[] stubPart = Arrays.copyOf(bytes, start);
        Arrays.fill(stubPart, checksum, checksum + 4, (byte) 0);
        assertArrayEquals(stubBytes, stubPart, "the stub part is copied unchanged but for the CheckSum field");
        assertEquals(0, bytes.length % 8, "the payload ends on an 8-byte boundary, where a signature goes");

        ByteBuffer b = ByteBuffer.wrap(bytes).order(ByteOrder.LITTLE_ENDIAN);
        b.position(start);
        assertEquals(0xE8E413D5, b.getInt());
        assertEquals(1, b.getInt(), "check flag");
        int storedCrc = b.getInt();
        long covered = b.getLong();
        assertEquals(bytes.length - start - 20, covered, "covered length runs to the end of the payload");
        CRC32 crc = new CRC32();
        crc.update(bytes, start + 20, bytes.length - start - 20);
        assertEquals((int) crc.getValue(), storedCrc);

        Map<Integer, byte[]> narrow = readMap(b, false);
        assertEquals(Arrays.asList(-5, 0, 101, 107, 122, 1000, 1005, 1006, 1008, 1009, 1010, 1011, 1015, 1016, 1018,
                1020, 2001, 2002, 2003, 10123), new ArrayList<>(narrow.keySet()), "narrow keys ascending");
        assertArrayEquals(new byte[] {'D', (byte) 0xE9, 'm', 'o'}, narrow.get(101), "one byte per character");
        assertEquals("1", ascii(narrow.get(107)));
        assertEquals("com.example.Main", ascii(narrow.get(122)));
        assertEquals("q", ascii(narrow.get(2001)));
        assertEquals("3", ascii(narrow.get(2002)));
        assertEquals("app.jar;empty.txt;lib\\x.dll", ascii(narrow.get(2003)));

        Map<Integer, byte[]> wide = readMap(b, true);
        List<Integer> wideKeys = new ArrayList<>(wide.keySet());
        assertEquals(20001, wideKeys.get(0));
        assertEquals(20100, wideKeys.get(wideKeys.size() - 1));
        assertEquals(wideKeys.stream().sorted().collect(Collectors.toList()), wideKeys, "wide keys ascending");
        assertArrayEquals("\u00dcnic\u00f6de \u20ac \ud83d\ude00".getBytes(StandardCharsets.UTF_16LE), wide.get(20100));

        assertEquals(3, b.getInt(), "language blocks");
        assertEquals("de", ascii(readBytes(b)));
        assertEquals(Arrays.asList(20012), new ArrayList<>(readMap(b, true).keySet()));
        assertEquals("de_AT", ascii(readBytes(b)));
        assertEquals(Arrays.asList(20012, 20100), new ArrayList<>(readMap(b, true).keySet()));
        assertEquals("", ascii(readBytes(b)));
        assertEquals("any", new String(readMap(b, true).get(20100), StandardCharsets.UTF_16LE));

        for (byte[] content : new byte[][] {JAR, new byte[0], DLL}) {
            assertEquals(content.length, b.getLong());
            byte[] stored = new byte[content.length];
            b.get(stored);
            for (int i = 0; i < stored.length; i++) {
                assertEquals((byte) (content[i] ^ 0xA7), stored[i], "scrambled byte " + i);
            }
        }
        byte[] tail = new byte[b.remaining()];
        b.get(tail);
        assertArrayEquals(DATA, tail, "unextracted data ends the file, unscrambled");
    }

    @Test
    void readerGivesBackWhatWasPacked() throws Exception {
        Path out = pack(stub, dir.resolve("out.exe"));
        PayloadReader.Contents c = PayloadReader.read(out);

        assertEquals(0x600, c.payloadOffset);
        assertEquals(1, c.checkFlag);
        assertTrue(c.crcMatches());
        assertEquals(Files.size(out) - 0x600 - 20, c.coveredLength);
        assertEquals("D\u00e9mo", c.narrow.get(101));
        assertEquals("negative", c.narrow.get(-5));
        assertEquals("\u00dcnic\u00f6de \u20ac \ud83d\ude00", c.wide.get(20100));
        assertEquals(Arrays.asList("de", "de_AT", ""),
                c.languages.stream().map(l -> l.prefix).collect(Collectors.toList()));
        assertEquals("Abbruch", c.languages.get(1).entries.get(20012));
        assertEquals(Arrays.asList("app.jar=5", "empty.txt=0", "lib\\x.dll=3"),
                c.includedFiles.stream().map(f -> f.name + "=" + f.size).collect(Collectors.toList()));
        assertEquals(DATA.length, c.unextractedLength);
        assertEquals(Files.size(out) - DATA.length, c.unextractedOffset);
    }

    @Test
    void repackingReplacesThePayloadInsteadOfStackingIt() throws Exception {
        byte[] fromClean = Files.readAllBytes(pack(stub, dir.resolve("clean.exe")));

        byte[] twice = Files.readAllBytes(pack(dir.resolve("clean.exe"), dir.resolve("twice.exe")));
        assertArrayEquals(fromClean, twice);

        Files.copy(dir.resolve("clean.exe"), dir.resolve("inplace.exe"));
        byte[] inPlace = Files.readAllBytes(pack(dir.resolve("inplace.exe"), dir.resolve("inplace.exe")));
        assertArrayEquals(fromClean, inPlace);

        byte[] junk = new byte[777];
        Arrays.fill(junk, (byte) 0x5A);
        Path dirty = PeFixture.stub().section(0x200, 0x200).section(0x400, 0x200).trailer(junk)
                .write(dir.resolve("dirty.exe"));
        assertArrayEquals(fromClean, Files.readAllBytes(pack(dirty, dir.resolve("fromdirty.exe"))));
    }

    @Test
    void checksumIsWrittenEvenWhenTheCheckIsOff() throws Exception {
        Files.write(config, new String(Files.readAllBytes(config), StandardCharsets.UTF_8)
                .replace("\"integrityCheck\": true", "\"integrityCheck\": false").getBytes(StandardCharsets.UTF_8));
        PayloadReader.Contents c = PayloadReader.read(pack(stub, dir.resolve("out.exe")));
        assertEquals(0, c.checkFlag);
        assertTrue(c.crcMatches());
        assertTrue(c.crcStored != 0);
    }

    @Test
    void readerNoticesADamagedPayload() throws Exception {
        Path out = pack(stub, dir.resolve("out.exe"));
        try (RandomAccessFile raf = new RandomAccessFile(out.toFile(), "rw")) {
            raf.seek(raf.length() - 1);
            raf.write('!');
        }
        PayloadReader.Contents c = PayloadReader.read(out);
        assertFalse(c.crcMatches());

        try (RandomAccessFile raf = new RandomAccessFile(out.toFile(), "rw")) {
            raf.setLength(0x600 + 30);
        }
        PackerException e = assertThrows(PackerException.class, () -> PayloadReader.read(out));
        assertTrue(e.getMessage().contains("cut short"), e.getMessage());
    }

    @Test
    void readerRefusesAStubWithoutPayload() {
        PackerException e = assertThrows(PackerException.class, () -> PayloadReader.read(stub));
        assertTrue(e.getMessage().contains("no payload"), e.getMessage());
    }

    @Test
    void failedWriteLeavesNoTempFileBehind() throws Exception {
        // the final rename fails: the target is a directory that is not empty
        Path out = dir.resolve("out.exe");
        file(out, "keep", new byte[0]);
        PackerException e = assertThrows(PackerException.class, () -> pack(stub, out));
        assertTrue(e.getMessage().startsWith("cannot write"), e.getMessage());
        try (java.util.stream.Stream<Path> files = Files.list(dir)) {
            assertEquals(Arrays.asList("config.json", "in", "out.exe", "stub.exe"),
                    files.map(p -> p.getFileName().toString()).sorted().collect(Collectors.toList()));
        }
    }

    /** A map section as written: i32 count, then key and length-prefixed value. */
    private static Map<Integer, byte[]> readMap(ByteBuffer b, boolean wide) {
        int count = b.getInt();
        Map<Integer, byte[]> map = new LinkedHashMap<>();
        for (int i = 0; i < count; i++) {
            int key = b.getInt();
            byte[] value = readBytes(b);
            if (wide) {
                assertEquals(0, value.length % 2, "UTF-16 byte length of key " + key);
            }
            map.put(key, value);
        }
        return map;
    }

    private static byte[] readBytes(ByteBuffer b) {
        byte[] value = new byte[b.getInt()];
        b.get(value);
        return value;
    }

    private static String ascii(byte[] bytes) {
        return new String(bytes, StandardCharsets.ISO_8859_1);
    }
}
