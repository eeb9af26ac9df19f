package com.quillon.packer;

import java.io.EOFException;
import java.io.IOException;
import java.io.RandomAccessFile;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

/**
 * The few facts about a Windows executable that the packer needs: where the raw data of the
 * last section-table entry ends (the payload starts there, which is where the launcher looks
 * for it) and whether anything else in the file would be broken by cutting it off there.
 */
public final class PeImage {

    /** One entry of the section table. */
    public static final class Section {
        public final String name;
        public final long rawPointer;
        public final long rawSize;

        Section(String name, long rawPointer, long rawSize) {
            this.name = name;
            this.rawPointer = rawPointer;
            this.rawSize = rawSize;
        }

        public long rawEnd() {
            return rawPointer + rawSize;
        }
    }

    private static final int OPTIONAL_MAGIC_PE32 = 0x10B;
    private static final int OPTIONAL_MAGIC_PE32_PLUS = 0x20B;
    private static final int CERTIFICATE_DIRECTORY = 4;

    private final Path path;
    private final long fileLength;
    private final long sectionTableEnd;
    private final long symbolTablePointer;
    private final long symbolCount;
    private final long certificateSize;
    private final List<Section> sections;

    private PeImage(Path path, long fileLength, long sectionTableEnd, long symbolTablePointer,
            long symbolCount, long certificateSize, List<Section> sections) {
        this.path = path;
        this.fileLength = fileLength;
        this.sectionTableEnd = sectionTableEnd;
        this.symbolTablePointer = symbolTablePointer;
        this.symbolCount = symbolCount;
        this.certificateSize = certificateSize;
        this.sections = Collections.unmodifiableList(sections);
    }

    /** Reads and checks the headers; refuses files that are not PE images or are cut short. */
    public static PeImage read(Path file) throws PackerException {
        try (RandomAccessFile in = new RandomAccessFile(file.toFile(), "r")) {
            long length = in.length();
            if (length < 64 || readU16(in, 0) != 0x5A4D) {
                throw notPe(file, "no MZ signature");
            }
            long peOffset = readU32(in, 0x3C);
            if (peOffset + 24 > length) {
                throw notPe(file, "the PE header offset " + peOffset + " lies outside the file");
            }
            if (readU32(in, peOffset) != 0x00004550L) {
                throw notPe(file, "no PE signature at offset " + peOffset);
            }
            int sectionCount = readU16(in, peOffset + 6);
            long symbolTablePointer = readU32(in, peOffset + 12);
            long symbolCount = readU32(in, peOffset + 16);
            int optionalSize = readU16(in, peOffset + 20);
            if (sectionCount == 0) {
                throw notPe(file, "it has no sections");
            }
            long optionalStart = peOffset + 24;
            long tableStart = optionalStart + optionalSize;
            long tableEnd = tableStart + 40L * sectionCount;
            if (tableEnd > length) {
                throw notPe(file, "its section table runs past the end of the file");
            }
            List<Section> sections = new ArrayList<>(sectionCount);
            for (int i = 0; i < sectionCount; i++) {
                long entry = tableStart + 40L * i;
                byte[] nameBytes = new byte[8];
                in.seek(entry);
                in.readFully(nameBytes);
                int nameLength = 0;
                while (nameLength < 8 && nameBytes[nameLength] != 0) {
                    nameLength++;
                }
                String name = new String(nameBytes, 0, nameLength, StandardCharsets.ISO_8859_1);
                sections.add(new Section(name, readU32(in, entry + 20), readU32(in, entry + 16)));
            }
            long certificateSize = readCertificateSize(in, optionalStart, optionalSize);
            Section last = sections.get(sections.size() - 1);
            if (last.rawEnd() > length) {
                throw new PackerException(file + " is truncated: the raw data of its last section ends at "
                        + last.rawEnd() + " but the file has only " + length + " bytes");
            }
            return new PeImage(file, length, tableEnd, symbolTablePointer, symbolCount, certificateSize,
                    sections);
        } catch (EOFException e) {
            throw notPe(file, "its headers are cut short");
        } catch (IOException e) {
            throw new PackerException("cannot read " + file + ": " + e.getMessage(), e);
        }
    }

    /** Size of the certificate table (Authenticode signature), 0 when there is none. */
    private static long readCertificateSize(RandomAccessFile in, long optionalStart, int optionalSize)
            throws IOException {
        if (optionalSize < 2) {
            return 0;
        }
        int magic = readU16(in, optionalStart);
        int countOffset;
        if (magic == OPTIONAL_MAGIC_PE32) {
            countOffset = 92;
        } else if (magic == OPTIONAL_MAGIC_PE32_PLUS) {
            countOffset = 108;
        } else {
            return 0;
        }
        if (optionalSize < countOffset + 4) {
            return 0;
        }
        long directoryCount = readU32(in, optionalStart + countOffset);
        long sizeField = countOffset + 4 + 8L * CERTIFICATE_DIRECTORY + 4;
        if (directoryCount <= CERTIFICATE_DIRECTORY || optionalSize < sizeField + 4) {
            return 0;
        }
        return readU32(in, optionalStart + sizeField);
    }

    /**
     * Refuses stubs whose contents would be damaged by writing a payload behind the last
     * section-table entry.
     */
    public void checkPackable() throws PackerException {
        if (symbolTablePointer != 0 || symbolCount != 0) {
            throw new PackerException(path + " still has a COFF symbol table (PointerToSymbolTable "
                    + symbolTablePointer + ", NumberOfSymbols " + symbolCount
                    + "); link the stub with -s or strip it before packing");
        }
        if (certificateSize != 0) {
            throw new PackerException(path + " carries a signature (certificate table of " + certificateSize
                    + " bytes) that packing would cut off; pack the unsigned stub and sign the result");
        }
        Section last = sections.get(sections.size() - 1);
        for (Section s : sections) {
            if (s.rawEnd() > last.rawEnd()) {
                throw new PackerException(path + ": section '" + s.name + "' ends at " + s.rawEnd()
                        + ", behind the last section-table entry '" + last.name + "' (ends at " + last.rawEnd()
                        + "); the payload would overwrite it");
            }
        }
        if (last.rawEnd() < sectionTableEnd) {
            throw new PackerException(path + ": the last section-table entry '" + last.name
                    + "' has no raw data behind the headers; the payload would overwrite them");
        }
    }

    /** Absolute file offset where the payload starts. */
    public long payloadOffset() {
        return sections.get(sections.size() - 1).rawEnd();
    }

    public long fileLength() {
        return fileLength;
    }

    private static PackerException notPe(Path file, String why) {
        return new PackerException(file + " is not a Windows executable: " + why);
    }

    private static int readU16(RandomAccessFile in, long offset) throws IOException {
        in.seek(offset);
        int b0 = in.readUnsignedByte();
        int b1 = in.readUnsignedByte();
        return b0 | (b1 << 8);
    }

    private static long readU32(RandomAccessFile in, long offset) throws IOException {
        in.seek(offset);
        byte[] b = new byte[4];
        in.readFully(b);
        return (b[0] & 0xFFL) | (b[1] & 0xFFL) << 8 | (b[2] & 0xFFL) << 16 | (b[3] & 0xFFL) << 24;
    }
}
