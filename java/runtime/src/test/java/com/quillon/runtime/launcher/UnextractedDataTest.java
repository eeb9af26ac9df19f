package com.quillon.runtime.launcher;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;

import java.io.ByteArrayOutputStream;
import java.io.InputStream;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.stream.Stream;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/** The data ends at the certificate table of a signed launcher, at the file's end otherwise. */
class UnextractedDataTest {

    private static final int PE = 0x80;
    private static final byte[] DATA = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    private static final int DATA_START = 0x400;

    @TempDir
    Path dir;

    /** Headers, the data, then a certificate table of {@code certificate} bytes when not 0. */
    private static byte[] launcher(boolean plus, int certificate, int tableStartShift) {
        int end = DATA_START + DATA.length;
        ByteBuffer b = ByteBuffer.allocate(end + certificate).order(ByteOrder.LITTLE_ENDIAN);
        b.putShort(0, (short) 0x5A4D).putInt(0x3C, PE).putInt(PE, 0x00004550);
        b.putShort(PE + 20, (short) (plus ? 240 : 224));
        int optional = PE + 24;
        b.putShort(optional, (short) (plus ? 0x20B : 0x10B));
        int count = optional + (plus ? 108 : 92);
        b.putInt(count, 16);
        if (certificate != 0) {
            b.putInt(count + 4 + 32, end + tableStartShift).putInt(count + 4 + 36, certificate);
        }
        b.position(DATA_START);
        b.put(DATA);
        for (int i = 0; i < certificate; i++) {
            b.put((byte) 0xCE);
        }
        return b.array();
    }

    static Stream<Arguments> files() {
        byte[] notPe = new byte[DATA_START + DATA.length];
        System.arraycopy(DATA, 0, notPe, DATA_START, DATA.length);
        return Stream.of(
                Arguments.of("unsigned PE32+", launcher(true, 0, 0), DATA),
                Arguments.of("signed PE32+", launcher(true, 0x100, 0), DATA),
                Arguments.of("signed PE32", launcher(false, 0x100, 0), DATA),
                Arguments.of("table starting inside the data", launcher(true, 0x100, -4),
                        Arrays.copyOf(DATA, DATA.length - 4)),
                Arguments.of("table offset beyond the file", launcher(true, 0x10, 0x1000),
                        concat(DATA, filled(0x10))),
                Arguments.of("not an executable", notPe, DATA));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("files")
    void readsToTheCertificateTableOrTheEnd(String name, byte[] file, byte[] expected) throws Exception {
        Path exe = Files.write(dir.resolve("launcher.exe"), file);
        try (InputStream in = UnextractedData.open(exe, DATA_START)) {
            ByteArrayOutputStream out = new ByteArrayOutputStream();
            byte[] buf = new byte[5];
            int n;
            while ((n = in.read(buf)) > 0) {
                out.write(buf, 0, n);
            }
            assertArrayEquals(expected, out.toByteArray());
        }
    }

    private static byte[] filled(int n) {
        byte[] b = new byte[n];
        Arrays.fill(b, (byte) 0xCE);
        return b;
    }

    private static byte[] concat(byte[] a, byte[] b) {
        byte[] c = Arrays.copyOf(a, a.length + b.length);
        System.arraycopy(b, 0, c, a.length, b.length);
        return c;
    }
}
