package com.quillon.packer;

import java.io.IOException;
import java.io.RandomAccessFile;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

/**
 * The validated headers of a Windows executable. Every field the packer later uses as an
 * offset, a size or an alignment is checked here against the file, so that a damaged or
 * crafted file is refused with a reason instead of making the packer allocate or seek wildly.
 */
final class PeHeaders {

    static final int MAGIC_PE32 = 0x10B;
    static final int MAGIC_PE32_PLUS = 0x20B;
    static final int SECTION_HEADER_SIZE = 40;
    static final int DIRECTORY_RESOURCE = 2;
    static final int DIRECTORY_CERTIFICATE = 4;
    static final int SUBSYSTEM_GUI = 2;
    static final int SUBSYSTEM_CONSOLE = 3;
    /** The loader refuses images with more sections than this. */
    static final int MAX_SECTIONS = 96;
    private static final int MAX_DIRECTORIES = 16;
    private static final long MAX_FILE_ALIGNMENT = 0x10000;
    private static final long PAGE_SIZE = 0x1000;
    /** Far above any launcher; keeps every RVA sum inside 32 bits. */
    private static final long MAX_IMAGE_SIZE = 0x40000000L;
    /** DOS header, PE header, the largest optional header and section table the fields allow. */
    private static final int HEAD_READ = 4096;
    /** Linkers put the PE header within the first few hundred bytes; this is generous. */
    static final long MAX_PE_OFFSET = 0x100000;

    /** One entry of the section table. */
    static final class Section {
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

        long rawEnd() {
            return rawPointer + rawSize;
        }

        long virtualEnd() {
            return rva + Math.max(virtualSize, rawSize);
        }
    }

    final String what;
    final long fileLength;
    final int peOffset;
    final int optional;
    final int optionalSize;
    final boolean plus;
    final int sectionTable;
    final long symbolTablePointer;
    final long symbolCount;
    final long sectionAlignment;
    final long fileAlignment;
    final long sizeOfHeaders;
    final long sizeOfImage;
    final long initializedDataSize;
    final int subsystem;
    final int directoryCount;
    final int directories;
    final List<Section> sections;
    private final byte[] head;

    /** Parses the headers from the start of a file ({@code head} may be shorter than the file). */
    PeHeaders(byte[] head, long fileLength, String what) throws PackerException {
        this.what = what;
        this.fileLength = fileLength;
        this.head = head;
        ByteBuffer b = ByteBuffer.wrap(head).order(ByteOrder.LITTLE_ENDIAN);
        if (fileLength < 64 || head.length < 64 || b.getShort(0) != 0x5A4D) {
            throw notPe("no MZ signature");
        }
        long pe = b.getInt(0x3C) & 0xFFFFFFFFL;
        if (pe > MAX_PE_OFFSET && pe + 24 <= fileLength) {
            throw notPe("the PE header offset " + pe + " lies beyond the first megabyte, where no linker puts it");
        }
        if (pe + 24 > fileLength || pe + 24 > head.length) {
            throw notPe("the PE header offset " + pe + " lies outside the file");
        }
        peOffset = (int) pe;
        if (b.getInt(peOffset) != 0x00004550) {
            throw notPe("no PE signature at offset " + peOffset);
        }
        int count = b.getShort(peOffset + 6) & 0xFFFF;
        symbolTablePointer = b.getInt(peOffset + 12) & 0xFFFFFFFFL;
        symbolCount = b.getInt(peOffset + 16) & 0xFFFFFFFFL;
        optionalSize = b.getShort(peOffset + 20) & 0xFFFF;
        if (count == 0) {
            throw notPe("it has no sections");
        }
        optional = peOffset + 24;
        long tableStart = (long) optional + optionalSize;
        long tableEnd = tableStart + (long) SECTION_HEADER_SIZE * count;
        if (tableEnd > fileLength) {
            throw notPe("its section table runs past the end of the file");
        }
        if (count > MAX_SECTIONS) {
            throw notPe("it claims " + count + " sections, more than the " + MAX_SECTIONS + " Windows loads");
        }
        if (tableEnd > head.length) {
            throw notPe("its headers are cut short");
        }
        sectionTable = (int) tableStart;
        if (optionalSize < 2) {
            throw notPe("its optional header is missing");
        }
        int magic = b.getShort(optional) & 0xFFFF;
        if (magic != MAGIC_PE32 && magic != MAGIC_PE32_PLUS) {
            throw notPe("unknown optional header magic 0x" + Integer.toHexString(magic));
        }
        plus = magic == MAGIC_PE32_PLUS;
        int fixedSize = plus ? 112 : 96;
        if (optionalSize < fixedSize) {
            throw notPe("its optional header has " + optionalSize + " bytes, fewer than the " + fixedSize
                    + " every image has");
        }
        sectionAlignment = b.getInt(optional + 32) & 0xFFFFFFFFL;
        fileAlignment = b.getInt(optional + 36) & 0xFFFFFFFFL;
        initializedDataSize = b.getInt(optional + 8) & 0xFFFFFFFFL;
        sizeOfImage = b.getInt(optional + 56) & 0xFFFFFFFFL;
        sizeOfHeaders = b.getInt(optional + 60) & 0xFFFFFFFFL;
        subsystem = b.getShort(optional + 68) & 0xFFFF;
        long dirCount = b.getInt(optional + fixedSize - 4) & 0xFFFFFFFFL;
        if (dirCount > MAX_DIRECTORIES || fixedSize + 8 * dirCount > optionalSize) {
            throw notPe("its optional header claims " + dirCount + " data directories, more than it holds");
        }
        directoryCount = (int) dirCount;
        directories = optional + fixedSize;
        checkAlignments();
        if (sizeOfHeaders > fileLength) {
            throw notPe("SizeOfHeaders " + sizeOfHeaders + " lies beyond the end of the file (" + fileLength + ")");
        }
        if (sizeOfImage > MAX_IMAGE_SIZE) {
            throw notPe("SizeOfImage " + sizeOfImage + " is beyond 1 GB");
        }
        List<Section> list = new ArrayList<>(count);
        for (int i = 0; i < count; i++) {
            int at = sectionTable + SECTION_HEADER_SIZE * i;
            int nameLength = 0;
            while (nameLength < 8 && head[at + nameLength] != 0) {
                nameLength++;
            }
            Section s = new Section(new String(head, at, nameLength, StandardCharsets.ISO_8859_1),
                    b.getInt(at + 8) & 0xFFFFFFFFL, b.getInt(at + 12) & 0xFFFFFFFFL,
                    b.getInt(at + 16) & 0xFFFFFFFFL, b.getInt(at + 20) & 0xFFFFFFFFL);
            if (s.rawSize != 0 && s.rawEnd() > fileLength) {
                throw new PackerException(what + " is truncated: the raw data of section '" + s.name + "' ends at "
                        + s.rawEnd() + " but the file has only " + fileLength + " bytes");
            }
            if (s.rawSize != 0 && s.rawPointer < tableEnd) {
                throw notPe("the raw data of section '" + s.name + "' overlaps the headers");
            }
            if (s.virtualEnd() > MAX_IMAGE_SIZE) {
                throw notPe("section '" + s.name + "' lies beyond 1 GB of the image");
            }
            list.add(s);
        }
        sections = Collections.unmodifiableList(list);
    }

    /** Both alignments are powers of two in the ranges the loader accepts. */
    private void checkAlignments() throws PackerException {
        if (!powerOfTwo(fileAlignment) || fileAlignment > MAX_FILE_ALIGNMENT) {
            throw notPe("FileAlignment 0x" + Long.toHexString(fileAlignment)
                    + " is not a power of two up to 0x10000");
        }
        if (!powerOfTwo(sectionAlignment) || sectionAlignment > MAX_IMAGE_SIZE) {
            throw notPe("SectionAlignment 0x" + Long.toHexString(sectionAlignment)
                    + " is not a power of two up to 1 GB");
        }
        if (sectionAlignment < fileAlignment) {
            throw notPe("SectionAlignment 0x" + Long.toHexString(sectionAlignment) + " is smaller than FileAlignment 0x"
                    + Long.toHexString(fileAlignment));
        }
        if (sectionAlignment >= PAGE_SIZE ? fileAlignment < 512 : fileAlignment != sectionAlignment) {
            throw notPe("FileAlignment 0x" + Long.toHexString(fileAlignment) + " does not suit SectionAlignment 0x"
                    + Long.toHexString(sectionAlignment));
        }
    }

    private static boolean powerOfTwo(long v) {
        return v > 0 && (v & (v - 1)) == 0;
    }

    /** Reads and checks the headers of a file without loading the rest of it. */
    static PeHeaders read(Path file) throws PackerException {
        try (RandomAccessFile in = new RandomAccessFile(file.toFile(), "r")) {
            long length = in.length();
            byte[] head = readHead(in, length, HEAD_READ);
            if (head.length >= 64) {
                ByteBuffer b = ByteBuffer.wrap(head).order(ByteOrder.LITTLE_ENDIAN);
                long pe = b.getInt(0x3C) & 0xFFFFFFFFL;
                if (head.length >= pe + 24 && pe + 24 <= length) {
                    long need = pe + 24 + (b.getShort((int) pe + 20) & 0xFFFF)
                            + (long) SECTION_HEADER_SIZE * (b.getShort((int) pe + 6) & 0xFFFF);
                    if (need > head.length && need <= length) {
                        head = readHead(in, length, (int) need);
                    }
                } else if (pe + 24 <= length && pe <= MAX_PE_OFFSET) {
                    // A PE header further into the file: read up to the largest table it can have.
                    head = readHead(in, length, (int) Math.min(length, pe + 24 + 0x10000 + 40L * MAX_SECTIONS));
                }
            }
            return new PeHeaders(head, length, file.toString());
        } catch (IOException e) {
            throw new PackerException("cannot read " + file + ": " + e.getMessage(), e);
        }
    }

    private static byte[] readHead(RandomAccessFile in, long length, int want) throws IOException {
        byte[] head = new byte[(int) Math.min(length, want)];
        in.seek(0);
        in.readFully(head);
        return head;
    }

    int directory(int index) {
        return directories + 8 * index;
    }

    /** The file offset of the optional header's CheckSum field. */
    int checksumOffset() {
        return optional + 64;
    }

    int subsystemOffset() {
        return optional + 68;
    }

    /** RVA and size of a data directory, or {0, 0} when the header has no such entry. */
    long[] directoryEntry(int index) {
        if (index >= directoryCount) {
            return new long[] {0, 0};
        }
        ByteBuffer b = ByteBuffer.wrap(head).order(ByteOrder.LITTLE_ENDIAN);
        return new long[] {b.getInt(directory(index)) & 0xFFFFFFFFL, b.getInt(directory(index) + 4) & 0xFFFFFFFFL};
    }

    /** Maps an RVA to a file offset; -1 when no section's raw data holds it. */
    long offsetOf(long rva) {
        for (Section s : sections) {
            if (rva >= s.rva && rva < s.virtualEnd() && rva - s.rva < s.rawSize) {
                return s.rawPointer + (rva - s.rva);
            }
        }
        return -1;
    }

    /** The section whose raw data holds an RVA, or null. */
    Section sectionOf(long rva) {
        for (Section s : sections) {
            if (rva >= s.rva && rva < s.virtualEnd() && rva - s.rva < s.rawSize) {
                return s;
            }
        }
        return null;
    }

    private PackerException notPe(String why) {
        return new PackerException(what + " is not a Windows executable: " + why);
    }
}
