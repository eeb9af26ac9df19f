package com.quillon.packer;

import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/**
 * Builds tiny Windows executables for tests: a DOS header, the PE signature, a COFF header, an
 * optional header (PE32+ by default) with 16 data directories and a section table. Section raw
 * data is filled with a recognisable byte per section. Nothing here is runnable; it only has to
 * look like an image to the packer.
 */
final class PeFixture {

    static final int PE_OFFSET = 0x80;
    static final int ALIGN = 0x200;

    private boolean pe32Plus = true;
    private long symbolPointer;
    private long symbolCount;
    private long certificateSize;
    private byte[] trailer = new byte[0];
    private final List<long[]> sections = new ArrayList<>();

    /** One section of {@code ALIGN} bytes unless sections are added. */
    static PeFixture stub() {
        return new PeFixture();
    }

    PeFixture pe32() {
        pe32Plus = false;
        return this;
    }

    /** Adds a section-table entry with the given raw pointer and size, in table order. */
    PeFixture section(long rawPointer, long rawSize) {
        sections.add(new long[] {rawPointer, rawSize});
        return this;
    }

    PeFixture symbols(long pointer, long count) {
        symbolPointer = pointer;
        symbolCount = count;
        return this;
    }

    PeFixture certificate(long size) {
        certificateSize = size;
        return this;
    }

    /** Bytes behind the last section's raw data (an old payload, a symbol table, ...). */
    PeFixture trailer(byte[] bytes) {
        trailer = bytes.clone();
        return this;
    }

    int optionalHeaderSize() {
        return pe32Plus ? 240 : 224;
    }

    byte[] build() {
        List<long[]> table = new ArrayList<>(sections);
        if (table.isEmpty()) {
            table.add(new long[] {ALIGN, ALIGN});
        }
        long end = ALIGN;
        for (long[] s : table) {
            end = Math.max(end, s[0] + s[1]);
        }
        ByteBuffer b = ByteBuffer.allocate((int) end + trailer.length).order(ByteOrder.LITTLE_ENDIAN);
        b.put(0, (byte) 'M').put(1, (byte) 'Z');
        b.putInt(0x3C, PE_OFFSET);
        b.putInt(PE_OFFSET, 0x00004550);
        int coff = PE_OFFSET + 4;
        b.putShort(coff, (short) (pe32Plus ? 0x8664 : 0x14C));
        b.putShort(coff + 2, (short) table.size());
        b.putInt(coff + 8, (int) symbolPointer);
        b.putInt(coff + 12, (int) symbolCount);
        b.putShort(coff + 16, (short) optionalHeaderSize());
        b.putShort(coff + 18, (short) 0x0022);
        int opt = coff + 20;
        b.putShort(opt, (short) (pe32Plus ? 0x20B : 0x10B));
        b.putInt(opt + 32, 0x1000);
        b.putInt(opt + 36, ALIGN);
        b.putInt(opt + 60, ALIGN);
        int directories = opt + (pe32Plus ? 112 : 96);
        b.putInt(directories - 4, 16);
        b.putInt(directories + 4 * 8, certificateSize == 0 ? 0 : (int) end);
        b.putInt(directories + 4 * 8 + 4, (int) certificateSize);
        int entry = opt + optionalHeaderSize();
        for (int i = 0; i < table.size(); i++) {
            long[] s = table.get(i);
            byte[] name = (".s" + i).getBytes(java.nio.charset.StandardCharsets.US_ASCII);
            for (int j = 0; j < name.length; j++) {
                b.put(entry + j, name[j]);
            }
            b.putInt(entry + 16, (int) s[1]);
            b.putInt(entry + 20, (int) s[0]);
            for (long k = s[0]; k < s[0] + s[1]; k++) {
                b.put((int) k, (byte) (0x10 + i));
            }
            entry += 40;
        }
        for (int i = 0; i < trailer.length; i++) {
            b.put((int) end + i, trailer[i]);
        }
        return b.array();
    }

    Path write(Path file) throws IOException {
        Files.write(file, build());
        return file;
    }
}
