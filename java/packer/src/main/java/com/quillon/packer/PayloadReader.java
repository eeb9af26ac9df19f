package com.quillon.packer;

import java.io.BufferedInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.ByteBuffer;
import java.nio.channels.Channels;
import java.nio.channels.FileChannel;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.CodingErrorAction;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.SortedMap;
import java.util.TreeMap;
import java.util.zip.CRC32;

/**
 * Reads the payload of a launcher executable the way the launcher does: located behind the last
 * section-table entry, maps with later duplicates winning, included files walked by the count of
 * key 2002 and the names of key 2003.
 */
public final class PayloadReader {

    /** One included file as found in the payload. */
    public static final class IncludedFile {
        public final String name;
        public final long size;
        /** Absolute file offset of the size field. */
        public final long offset;

        IncludedFile(String name, long size, long offset) {
            this.name = name;
            this.size = size;
            this.offset = offset;
        }
    }

    /** What a payload holds. */
    public static final class Contents {
        public long payloadOffset;
        public long checkFlag;
        public long crcStored;
        public long crcComputed;
        public long coveredLength;
        public final SortedMap<Integer, String> narrow = new TreeMap<>();
        public final SortedMap<Integer, String> wide = new TreeMap<>();
        public final List<PayloadContent.LanguageBlock> languages = new ArrayList<>();
        public final List<IncludedFile> includedFiles = new ArrayList<>();
        public long unextractedOffset;
        public long unextractedLength;
        /** The Authenticode certificate table; offset 0 and size 0 when the file is unsigned. */
        public long certificateOffset;
        public long certificateSize;

        public boolean crcMatches() {
            return crcStored == crcComputed;
        }
    }

    private PayloadReader() {
    }

    public static Contents read(Path file) throws PackerException {
        PeImage image = PeImage.read(file);
        Contents c = new Contents();
        c.payloadOffset = image.payloadOffset();
        long length = image.fileLength();
        if (length - c.payloadOffset < PayloadWriter.HEADER_SIZE) {
            throw new PackerException(file + " has no payload: nothing follows its last section");
        }
        try (FileChannel channel = FileChannel.open(file, StandardOpenOption.READ)) {
            channel.position(c.payloadOffset);
            Input in = new Input(Channels.newInputStream(channel), c.payloadOffset, length, file);
            long magic = in.u32("the magic number");
            if (magic != (PayloadWriter.MAGIC & 0xFFFFFFFFL)) {
                throw new PackerException(file + " has no payload: expected the magic number 0xE8E413D5 at offset "
                        + c.payloadOffset + ", found 0x" + String.format("%08X", magic));
            }
            c.checkFlag = in.u32("the check flag");
            c.crcStored = in.u32("the checksum");
            c.coveredLength = in.i64("the covered length");

            int narrowCount = in.i32("the narrow key count");
            for (int i = 0; i < narrowCount; i++) {
                int key = in.i32("a narrow key");
                c.narrow.put(key, decodeNarrow(in.string("the value of narrow key " + key)));
            }
            int wideCount = in.i32("the wide key count");
            for (int i = 0; i < wideCount; i++) {
                int key = in.i32("a wide key");
                c.wide.put(key, decodeWide(in.string("the value of wide key " + key)));
            }
            int blockCount = in.i32("the language block count");
            for (int i = 0; i < blockCount; i++) {
                String prefix = decodeNarrow(in.string("a language prefix"));
                int entryCount = in.i32("the entry count of language \"" + prefix + "\"");
                Map<Integer, String> entries = new LinkedHashMap<>();
                for (int j = 0; j < entryCount; j++) {
                    int key = in.i32("a key of language \"" + prefix + "\"");
                    entries.put(key, decodeWide(in.string("the value of key " + key + " in language \"" + prefix
                            + "\"")));
                }
                if (!isPadding(prefix, entries)) {
                    c.languages.add(new PayloadContent.LanguageBlock(prefix, entries));
                }
            }

            List<String> names = splitList(c.narrow.get(2003));
            int count = Math.min(parseLeadingInt(c.narrow.get(2002)), names.size());
            for (int i = 0; i < count; i++) {
                long offset = in.position();
                long size = in.i64("the size of included file \"" + names.get(i) + "\"");
                if (size > 0) {
                    in.skip(size, "the content of included file \"" + names.get(i) + "\"");
                }
                c.includedFiles.add(new IncludedFile(names.get(i), size, offset));
            }
            c.unextractedOffset = in.position();
            // A signature appended behind the payload is not part of the data.
            long dataEnd = image.certificateSize() != 0 && image.certificateOffset() >= c.unextractedOffset
                    && image.certificateOffset() <= length ? image.certificateOffset() : length;
            c.unextractedLength = dataEnd - c.unextractedOffset;
            c.certificateOffset = image.certificateOffset();
            c.certificateSize = image.certificateSize();

            c.crcComputed = crc(channel, c.payloadOffset + PayloadWriter.HEADER_SIZE,
                    Math.max(0, Math.min(c.coveredLength, length - c.payloadOffset - PayloadWriter.HEADER_SIZE)));
        } catch (IOException e) {
            throw new PackerException("cannot read " + file + ": " + e.getMessage(), e);
        }
        return c;
    }

    private static long crc(FileChannel channel, long start, long length) throws IOException {
        CRC32 crc = new CRC32();
        ByteBuffer buf = ByteBuffer.allocate(64 * 1024);
        long pos = start;
        long left = length;
        while (left > 0) {
            buf.clear();
            if (left < buf.capacity()) {
                buf.limit((int) left);
            }
            int n = channel.read(buf, pos);
            if (n <= 0) {
                break;
            }
            crc.update(buf.array(), 0, n);
            pos += n;
            left -= n;
        }
        return crc.getValue();
    }

    /** The empty block the writer adds to reach an 8-byte payload end when there is no narrow key. */
    static boolean isPadding(String prefix, Map<Integer, String> entries) {
        if (!entries.isEmpty() || prefix.length() < 8) {
            return false;
        }
        for (char c : prefix.toCharArray()) {
            if (c != PayloadWriter.PADDING_PREFIX_CHAR) {
                return false;
            }
        }
        return true;
    }

    /** Narrow text is shown as UTF-8 when it is valid UTF-8, else byte for byte (ISO-8859-1). */
    static String decodeNarrow(byte[] bytes) {
        try {
            return StandardCharsets.UTF_8.newDecoder()
                    .onMalformedInput(CodingErrorAction.REPORT)
                    .onUnmappableCharacter(CodingErrorAction.REPORT)
                    .decode(ByteBuffer.wrap(bytes))
                    .toString();
        } catch (CharacterCodingException e) {
            return new String(bytes, StandardCharsets.ISO_8859_1);
        }
    }

    /** UTF-16LE code units; a stray odd byte at the end is dropped, as the launcher drops it. */
    static String decodeWide(byte[] bytes) {
        char[] chars = new char[bytes.length / 2];
        for (int i = 0; i < chars.length; i++) {
            chars[i] = (char) ((bytes[2 * i] & 0xFF) | (bytes[2 * i + 1] & 0xFF) << 8);
        }
        return new String(chars);
    }

    /** Items of a ";" list; empty items are skipped, as the launcher skips them. */
    static List<String> splitList(String value) {
        List<String> items = new ArrayList<>();
        if (value != null) {
            for (String item : value.split(";")) {
                if (!item.isEmpty()) {
                    items.add(item);
                }
            }
        }
        return items;
    }

    /** The launcher's integer reading: leading white space, optional sign, digits; 0 without digits. */
    static int parseLeadingInt(String value) {
        if (value == null) {
            return 0;
        }
        int i = 0;
        while (i < value.length() && Character.isWhitespace(value.charAt(i))) {
            i++;
        }
        boolean negative = false;
        if (i < value.length() && (value.charAt(i) == '+' || value.charAt(i) == '-')) {
            negative = value.charAt(i) == '-';
            i++;
        }
        long n = 0;
        while (i < value.length() && value.charAt(i) >= '0' && value.charAt(i) <= '9') {
            n = Math.min(n * 10 + (value.charAt(i) - '0'), Integer.MAX_VALUE + 1L);
            i++;
        }
        n = negative ? -n : n;
        return (int) Math.max(Integer.MIN_VALUE, Math.min(Integer.MAX_VALUE, n));
    }

    /** Little-endian reads that know their absolute file position and say what was cut short. */
    private static final class Input {
        private final InputStream in;
        private final Path file;
        private final long length;
        private long position;

        Input(InputStream raw, long position, long length, Path file) {
            this.in = new BufferedInputStream(raw, 64 * 1024);
            this.position = position;
            this.length = length;
            this.file = file;
        }

        long position() {
            return position;
        }

        byte[] bytes(int n, String what) throws IOException, PackerException {
            byte[] b = new byte[n];
            int done = 0;
            while (done < n) {
                int r = in.read(b, done, n - done);
                if (r < 0) {
                    throw cutShort(what);
                }
                done += r;
            }
            position += n;
            return b;
        }

        void skip(long n, String what) throws IOException, PackerException {
            if (n > length - position) {
                throw cutShort(what);
            }
            long left = n;
            while (left > 0) {
                long s = in.skip(left);
                if (s <= 0) {
                    if (in.read() < 0) {
                        throw cutShort(what);
                    }
                    s = 1;
                }
                left -= s;
                position += s;
            }
        }

        int i32(String what) throws IOException, PackerException {
            byte[] b = bytes(4, what);
            return (b[0] & 0xFF) | (b[1] & 0xFF) << 8 | (b[2] & 0xFF) << 16 | (b[3] & 0xFF) << 24;
        }

        long u32(String what) throws IOException, PackerException {
            return i32(what) & 0xFFFFFFFFL;
        }

        long i64(String what) throws IOException, PackerException {
            byte[] b = bytes(8, what);
            long v = 0;
            for (int i = 7; i >= 0; i--) {
                v = (v << 8) | (b[i] & 0xFF);
            }
            return v;
        }

        byte[] string(String what) throws IOException, PackerException {
            long at = position;
            int length = i32("the length of " + what);
            if (length < 0) {
                throw new PackerException(file + ": negative length " + length + " of " + what + " at offset " + at);
            }
            if (length > this.length - position) {
                throw cutShort(what);
            }
            return bytes(length, what);
        }

        private PackerException cutShort(String what) {
            return new PackerException(file + ": the payload is cut short at offset " + position + " while reading "
                    + what);
        }
    }
}
