package com.quillon.packer;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;

import java.io.RandomAccessFile;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/** The payload ends on an 8-byte boundary whatever its size, without changing what it carries. */
class PayloadAlignmentTest {

    @TempDir
    Path dir;

    @ParameterizedTest(name = "{0} bytes of unextracted data")
    @ValueSource(ints = {0, 1, 2, 3, 4, 5, 6, 7, 8, 13})
    void everyPayloadSizeEndsAligned(int dataSize) throws Exception {
        Path stub = PeFixture.stub().write(dir.resolve("stub.exe"));
        byte[] data = new byte[dataSize];
        Arrays.fill(data, (byte) 0x5A);
        Path dataFile = Files.write(dir.resolve("data.bin"), data);
        for (boolean withKeys : new boolean[] {true, false}) {
            PayloadContent content = new PayloadContent();
            if (withKeys) {
                content.narrow.put(101, "Demo");
                content.narrow.put(2001, "q");
            }
            content.wide.put(20012, "Cancel");
            content.languages.add(new PayloadContent.LanguageBlock("de", java.util.Collections.singletonMap(20012,
                    "Abbrechen")));
            content.unextractedData = dataFile;
            Path out = dir.resolve("out.exe");
            PayloadWriter.pack(stub, content, out);

            byte[] bytes = Files.readAllBytes(out);
            assertEquals(0, bytes.length % 8, "file length " + bytes.length);
            PayloadReader.Contents c = PayloadReader.read(out);
            assertEquals(content.narrow, c.narrow, "the filler entry is replaced by the real one");
            assertEquals(1, c.languages.size(), "the filler block is not shown");
            assertEquals(dataSize, c.unextractedLength);
            assertArrayEquals(data, Arrays.copyOfRange(bytes, (int) c.unextractedOffset, bytes.length));
            assertEquals(true, c.crcMatches());
            try (RandomAccessFile f = new RandomAccessFile(out.toFile(), "r")) {
                int field = PeFixture.PE_OFFSET + 24 + 64;
                long stored = (bytes[field] & 0xFFL) | (bytes[field + 1] & 0xFFL) << 8
                        | (bytes[field + 2] & 0xFFL) << 16 | (bytes[field + 3] & 0xFFL) << 24;
                assertEquals(PeChecksum.compute(f, field), stored, "CheckSum field");
            }
        }
    }
}
