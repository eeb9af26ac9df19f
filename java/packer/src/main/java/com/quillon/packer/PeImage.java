package com.quillon.packer;

import java.nio.file.Path;

/**
 * The few facts about a Windows executable that the packer needs: where the raw data of the
 * last section-table entry ends (the payload starts there, which is where the launcher looks
 * for it) and whether anything else in the file would be broken by cutting it off there.
 */
public final class PeImage {

    private final Path path;
    private final PeHeaders headers;
    private final long certificateOffset;
    private final long certificateSize;

    private PeImage(Path path, PeHeaders headers, long certificateOffset, long certificateSize) {
        this.path = path;
        this.headers = headers;
        this.certificateOffset = certificateOffset;
        this.certificateSize = certificateSize;
    }

    /** Reads and checks the headers; refuses files that are not PE images or are cut short. */
    public static PeImage read(Path file) throws PackerException {
        PeHeaders h = PeHeaders.read(file);
        long[] certificate = h.directoryEntry(PeHeaders.DIRECTORY_CERTIFICATE);
        return new PeImage(file, h, certificate[0], certificate[1]);
    }

    /**
     * Refuses stubs whose contents would be damaged by writing a payload behind the last
     * section-table entry.
     */
    public void checkPackable() throws PackerException {
        if (headers.symbolTablePointer != 0 || headers.symbolCount != 0) {
            throw new PackerException(path + " still has a COFF symbol table (PointerToSymbolTable "
                    + headers.symbolTablePointer + ", NumberOfSymbols " + headers.symbolCount
                    + "); link the stub with -s or strip it before packing");
        }
        if (certificateSize != 0) {
            throw new PackerException(path + " carries a signature (certificate table of " + certificateSize
                    + " bytes) that packing would cut off; pack the unsigned stub and sign the result");
        }
        PeHeaders.Section last = last();
        for (PeHeaders.Section s : headers.sections) {
            if (s.rawEnd() > last.rawEnd()) {
                throw new PackerException(path + ": section '" + s.name + "' ends at " + s.rawEnd()
                        + ", behind the last section-table entry '" + last.name + "' (ends at " + last.rawEnd()
                        + "); the payload would overwrite it");
            }
        }
        long tableEnd = headers.sectionTable + (long) PeHeaders.SECTION_HEADER_SIZE * headers.sections.size();
        if (last.rawEnd() < tableEnd) {
            throw new PackerException(path + ": the last section-table entry '" + last.name
                    + "' has no raw data behind the headers; the payload would overwrite them");
        }
    }

    private PeHeaders.Section last() {
        return headers.sections.get(headers.sections.size() - 1);
    }

    /** Absolute file offset where the payload starts. */
    public long payloadOffset() {
        return last().rawEnd();
    }

    public long fileLength() {
        return headers.fileLength;
    }

    /** Where the certificate table (an Authenticode signature) starts; 0 when the file is unsigned. */
    public long certificateOffset() {
        return certificateSize == 0 ? 0 : certificateOffset;
    }

    public long certificateSize() {
        return certificateSize;
    }

    PeHeaders headers() {
        return headers;
    }
}
