package com.quillon.packer;

import java.io.BufferedOutputStream;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.io.RandomAccessFile;
import java.nio.file.AtomicMoveNotSupportedException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.PosixFileAttributeView;
import java.util.Map;
import java.util.zip.CRC32;

/**
 * Writes a launcher executable: the stub up to the end of its last section's raw data, then the
 * payload (header, configuration record, included files, unextracted data). Whatever stood behind
 * the last section in the stub, such as an earlier payload, is left out.
 */
public final class PayloadWriter {

    public static final int MAGIC = 0xE8E413D5;
    public static final int HEADER_SIZE = 20;
    /** Included file contents are stored XOR-ed with this byte. */
    public static final int XOR_KEY = 0xA7;
    /** The launcher keeps payload positions as unsigned 32-bit file offsets. */
    public static final long MAX_FILE_END = 0xFFFFFFFFL;

    private static final int BUFFER_SIZE = 64 * 1024;

    private PayloadWriter() {
    }

    /** A last step on the written file before it replaces {@code out}, such as signing it. */
    public interface Finisher {
        void finish(Path written) throws PackerException;
    }

    /** Packs {@code content} behind {@code stub} into {@code out}; {@code out} may be the stub itself. */
    public static void pack(Path stub, PayloadContent content, Path out) throws PackerException {
        pack(stub, content, out, null);
    }

    /**
     * Packs like {@link #pack(Path, PayloadContent, Path)}, running {@code finisher} (may be null)
     * on the complete file before it is moved into place.
     */
    public static void pack(Path stub, PayloadContent content, Path out, Finisher finisher) throws PackerException {
        PeImage image = PeImage.read(stub);
        image.checkPackable();
        long stubLength = image.payloadOffset();
        int checksumOffset = image.headers().checksumOffset();

        long[] fileSizes = new long[content.includedFiles.size()];
        long filesEnd = 0;
        for (int i = 0; i < fileSizes.length; i++) {
            PayloadContent.IncludedFile f = content.includedFiles.get(i);
            fileSizes[i] = sizeOf(f.source, "included file \"" + f.name + "\"");
            filesEnd += 8 + fileSizes[i];
        }
        long dataSize = content.unextractedData == null ? 0 : sizeOf(content.unextractedData, "unextracted data");
        long unpadded = stubLength + HEADER_SIZE + encodeRecord(content, 0).length + filesEnd + dataSize;
        // A signature appended later starts on an 8-byte boundary; padding the record instead of the
        // end keeps the unextracted data exactly as given, with the certificate table right behind it.
        byte[] record = encodeRecord(content, (int) ((8 - unpadded % 8) % 8));
        long end = stubLength + HEADER_SIZE + record.length + filesEnd + dataSize;
        if (end > MAX_FILE_END) {
            throw new PackerException("the packed file would be " + end + " bytes long, beyond 4 GB; the launcher "
                    + "addresses its payload with 32-bit file offsets");
        }

        Path target = out.toAbsolutePath();
        if (!Files.isDirectory(target.getParent())) {
            throw new PackerException("cannot write " + out + ": the directory " + target.getParent()
                    + " does not exist");
        }
        Path temp = null;
        try {
            temp = Files.createTempFile(target.getParent(), "." + target.getFileName() + ".", ".tmp");
            CRC32 crc = new CRC32();
            try (OutputStream file = new BufferedOutputStream(Files.newOutputStream(temp), BUFFER_SIZE)) {
                copyPrefix(stub, stubLength, file);
                file.write(new byte[HEADER_SIZE]); // filled in below, once the CRC is known
                CrcOutput body = new CrcOutput(file, crc);
                body.write(record);
                for (int i = 0; i < fileSizes.length; i++) {
                    PayloadContent.IncludedFile f = content.includedFiles.get(i);
                    body.write(le64(fileSizes[i]));
                    copyFile(f.source, fileSizes[i], true, body, "included file \"" + f.name + "\"");
                }
                if (content.unextractedData != null) {
                    copyFile(content.unextractedData, dataSize, false, body, "unextracted data");
                }
            }
            long covered = end - stubLength - HEADER_SIZE;
            try (RandomAccessFile raf = new RandomAccessFile(temp.toFile(), "rw")) {
                raf.seek(stubLength);
                raf.write(header(content.integrityCheck, (int) crc.getValue(), covered));
                PeChecksum.update(raf, checksumOffset);
            }
            copyPermissions(stub, temp);
            if (finisher != null) {
                finisher.finish(temp);
            }
            moveIntoPlace(temp, target);
            temp = null;
        } catch (IOException e) {
            throw new PackerException("cannot write " + out + ": " + e.getMessage(), e);
        } finally {
            if (temp != null) {
                try {
                    Files.deleteIfExists(temp);
                } catch (IOException ignored) {
                    // the failure that got us here is the one to report
                }
            }
        }
    }

    /** The 20-byte payload header. */
    static byte[] header(boolean checkFlag, int crc, long coveredLength) {
        ByteArrayOutputStream b = new ByteArrayOutputStream(HEADER_SIZE);
        b.write(le32(MAGIC), 0, 4);
        b.write(le32(checkFlag ? 1 : 0), 0, 4);
        b.write(le32(crc), 0, 4);
        b.write(le64(coveredLength), 0, 8);
        return b.toByteArray();
    }

    /** The configuration record: narrow map, wide map and language blocks. */
    static byte[] encodeRecord(PayloadContent content) throws PackerException {
        return encodeRecord(content, 0);
    }

    /** Prefix of a language block that no locale code matches: locale codes are ASCII. */
    static final char PADDING_PREFIX_CHAR = '\u00FF';

    /**
     * The record, made {@code padding} (0 to 7) bytes longer without changing what it means: the
     * first narrow key is written once more ahead of itself with a filler value, which the later
     * entry replaces; without narrow keys an empty language block that no locale matches does it.
     */
    static byte[] encodeRecord(PayloadContent content, int padding) throws PackerException {
        ByteArrayOutputStream b = new ByteArrayOutputStream();
        boolean padWithKey = padding != 0 && !content.narrow.isEmpty();
        writeInt(b, content.narrow.size() + (padWithKey ? 1 : 0));
        if (padWithKey) {
            writeInt(b, content.narrow.firstKey());
            byte[] filler = new byte[padding];
            java.util.Arrays.fill(filler, (byte) ' ');
            writeBytes(b, filler);
        }
        for (Map.Entry<Integer, String> e : content.narrow.entrySet()) {
            writeInt(b, e.getKey());
            writeBytes(b, narrowBytes(e.getValue(), "key " + e.getKey()));
        }
        writeInt(b, content.wide.size());
        for (Map.Entry<Integer, String> e : content.wide.entrySet()) {
            writeInt(b, e.getKey());
            writeBytes(b, wideBytes(e.getValue()));
        }
        boolean padWithBlock = padding != 0 && !padWithKey;
        writeInt(b, content.languages.size() + (padWithBlock ? 1 : 0));
        for (PayloadContent.LanguageBlock block : content.languages) {
            writeBytes(b, narrowBytes(block.prefix, "language prefix \"" + block.prefix + "\""));
            writeInt(b, block.entries.size());
            for (Map.Entry<Integer, String> e : block.entries.entrySet()) {
                writeInt(b, e.getKey());
                writeBytes(b, wideBytes(e.getValue()));
            }
        }
        if (padWithBlock) {
            // 4 + prefix + 4 bytes; a prefix of 8 + padding characters is longer than any locale code
            byte[] prefix = new byte[8 + padding];
            java.util.Arrays.fill(prefix, (byte) PADDING_PREFIX_CHAR);
            writeBytes(b, prefix);
            writeInt(b, 0);
        }
        return b.toByteArray();
    }

    /** One byte per character; the launcher hands these bytes to the ANSI interfaces unchanged. */
    static byte[] narrowBytes(String value, String what) throws PackerException {
        byte[] bytes = new byte[value.length()];
        for (int i = 0; i < value.length(); i++) {
            char c = value.charAt(i);
            if (c > 0xFF) {
                throw new PackerException(what + ": character '" + c + "' (U+" + String.format("%04X", (int) c)
                        + ") cannot be stored as narrow text, which holds only U+0000 to U+00FF");
            }
            bytes[i] = (byte) c;
        }
        return bytes;
    }

    /** UTF-16LE code units as they are, lone surrogates included. */
    static byte[] wideBytes(String value) {
        byte[] bytes = new byte[value.length() * 2];
        for (int i = 0; i < value.length(); i++) {
            char c = value.charAt(i);
            bytes[2 * i] = (byte) c;
            bytes[2 * i + 1] = (byte) (c >>> 8);
        }
        return bytes;
    }

    private static void writeBytes(ByteArrayOutputStream b, byte[] bytes) {
        writeInt(b, bytes.length);
        b.write(bytes, 0, bytes.length);
    }

    private static void writeInt(ByteArrayOutputStream b, int v) {
        b.write(le32(v), 0, 4);
    }

    static byte[] le32(int v) {
        return new byte[] {(byte) v, (byte) (v >>> 8), (byte) (v >>> 16), (byte) (v >>> 24)};
    }

    static byte[] le64(long v) {
        byte[] b = new byte[8];
        for (int i = 0; i < 8; i++) {
            b[i] = (byte) (v >>> (8 * i));
        }
        return b;
    }

    private static long sizeOf(Path file, String what) throws PackerException {
        if (!Files.isRegularFile(file) || !Files.isReadable(file)) {
            throw new PackerException(what + ": " + file + " does not exist or is not a readable file");
        }
        try {
            return Files.size(file);
        } catch (IOException e) {
            throw new PackerException(what + ": cannot read " + file + ": " + e.getMessage(), e);
        }
    }

    private static void copyPrefix(Path stub, long length, OutputStream out) throws IOException {
        try (InputStream in = Files.newInputStream(stub)) {
            byte[] buf = new byte[BUFFER_SIZE];
            long left = length;
            while (left > 0) {
                int n = in.read(buf, 0, (int) Math.min(buf.length, left));
                if (n < 0) {
                    throw new IOException("the stub " + stub + " became shorter while it was read");
                }
                out.write(buf, 0, n);
                left -= n;
            }
        }
    }

    private static void copyFile(Path source, long size, boolean scramble, OutputStream out, String what)
            throws IOException {
        long copied = 0;
        try (InputStream in = Files.newInputStream(source)) {
            byte[] buf = new byte[BUFFER_SIZE];
            int n;
            while ((n = in.read(buf)) > 0) {
                copied += n;
                if (copied > size) {
                    break;
                }
                if (scramble) {
                    for (int i = 0; i < n; i++) {
                        buf[i] ^= (byte) XOR_KEY;
                    }
                }
                out.write(buf, 0, n);
            }
        }
        if (copied != size) {
            throw new IOException(what + " " + source + " changed its size while it was packed");
        }
    }

    private static void copyPermissions(Path from, Path to) {
        PosixFileAttributeView source = Files.getFileAttributeView(from, PosixFileAttributeView.class);
        PosixFileAttributeView target = Files.getFileAttributeView(to, PosixFileAttributeView.class);
        if (source == null || target == null) {
            return;
        }
        try {
            target.setPermissions(source.readAttributes().permissions());
        } catch (IOException ignored) {
            // the temp file's own permissions are still usable
        }
    }

    private static void moveIntoPlace(Path temp, Path target) throws IOException {
        try {
            Files.move(temp, target, StandardCopyOption.ATOMIC_MOVE, StandardCopyOption.REPLACE_EXISTING);
        } catch (AtomicMoveNotSupportedException e) {
            Files.move(temp, target, StandardCopyOption.REPLACE_EXISTING);
        }
    }

    /** Passes bytes through while adding them to the checksum. */
    private static final class CrcOutput extends OutputStream {
        private final OutputStream out;
        private final CRC32 crc;

        CrcOutput(OutputStream out, CRC32 crc) {
            this.out = out;
            this.crc = crc;
        }

        @Override
        public void write(int b) throws IOException {
            crc.update(b);
            out.write(b);
        }

        @Override
        public void write(byte[] b, int off, int len) throws IOException {
            crc.update(b, off, len);
            out.write(b, off, len);
        }
    }
}
