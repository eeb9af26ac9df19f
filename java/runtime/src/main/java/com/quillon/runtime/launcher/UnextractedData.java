package com.quillon.runtime.launcher;

import java.io.FilterInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.channels.Channels;
import java.nio.channels.FileChannel;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardOpenOption;

/**
 * The data a packer appended behind the included files of a launcher. The launcher does not
 * read it; it tells the Java side where it begins. Its layout is the application's own. It runs
 * to the end of the file, or, in a signed launcher, to the start of the certificate table, so
 * that no signature byte reaches the application.
 */
public final class UnextractedData {

    private static final int CERTIFICATE_DIRECTORY = 4;

    private UnextractedData() {
    }

    /**
     * Opens the launcher executable at the start of the unextracted data.
     *
     * @return the stream, positioned; null when there is no launcher or no position (a
     *         language-restart run)
     */
    public static InputStream open() throws IOException {
        String module = LauncherProperties.getModuleName();
        long position = LauncherProperties.getUnextractedPosition();
        if (module == null || position < 0) {
            return null;
        }
        return open(Paths.get(module), position);
    }

    /** Opens {@code file} at {@code position}, the stream ending where the data ends. */
    static InputStream open(Path file, long position) throws IOException {
        FileChannel channel = FileChannel.open(file, StandardOpenOption.READ);
        try {
            long end = dataEnd(channel);
            channel.position(position);
            return new Limited(Channels.newInputStream(channel), Math.max(0, end - position));
        } catch (IOException | RuntimeException e) {
            channel.close();
            throw e;
        }
    }

    /**
     * The end of the data: where the security directory's certificate table starts when it lies
     * inside the file, else the file's end. Headers that do not parse mean an unsigned file.
     */
    static long dataEnd(FileChannel channel) throws IOException {
        long length = channel.size();
        ByteBuffer dos = read(channel, 0, 64);
        if (dos == null || dos.getShort(0) != 0x5A4D) {
            return length;
        }
        long pe = dos.getInt(0x3C) & 0xFFFFFFFFL;
        ByteBuffer head = read(channel, pe, 24 + 2);
        if (head == null || head.getInt(0) != 0x00004550) {
            return length;
        }
        int magic = head.getShort(24) & 0xFFFF;
        int countOffset = magic == 0x20B ? 108 : magic == 0x10B ? 92 : -1;
        int optionalSize = head.getShort(20) & 0xFFFF;
        int entry = countOffset + 4 + 8 * CERTIFICATE_DIRECTORY;
        if (countOffset < 0 || optionalSize < entry + 8) {
            return length;
        }
        ByteBuffer optional = read(channel, pe + 24, entry + 8);
        if (optional == null || (optional.getInt(countOffset) & 0xFFFFFFFFL) <= CERTIFICATE_DIRECTORY) {
            return length;
        }
        // The certificate table's "RVA" is a file offset.
        long tableStart = optional.getInt(entry) & 0xFFFFFFFFL;
        long tableSize = optional.getInt(entry + 4) & 0xFFFFFFFFL;
        if (tableSize == 0 || tableStart == 0 || tableStart > length) {
            return length;
        }
        return tableStart;
    }

    private static ByteBuffer read(FileChannel channel, long at, int size) throws IOException {
        if (at < 0 || at + size > channel.size()) {
            return null;
        }
        ByteBuffer b = ByteBuffer.allocate(size).order(ByteOrder.LITTLE_ENDIAN);
        while (b.hasRemaining()) {
            if (channel.read(b, at + b.position()) < 0) {
                return null;
            }
        }
        b.flip();
        return b;
    }

    /** Passes at most a given number of bytes. */
    private static final class Limited extends FilterInputStream {
        private long left;

        Limited(InputStream in, long left) {
            super(in);
            this.left = left;
        }

        @Override
        public int read() throws IOException {
            if (left <= 0) {
                return -1;
            }
            int b = super.read();
            if (b >= 0) {
                left--;
            }
            return b;
        }

        @Override
        public int read(byte[] b, int off, int len) throws IOException {
            if (left <= 0) {
                return len == 0 ? 0 : -1;
            }
            int n = super.read(b, off, (int) Math.min(len, left));
            if (n > 0) {
                left -= n;
            }
            return n;
        }

        @Override
        public long skip(long n) throws IOException {
            long s = super.skip(Math.min(n, left));
            left -= s;
            return s;
        }

        @Override
        public int available() throws IOException {
            return (int) Math.min(super.available(), left);
        }

        @Override
        public boolean markSupported() {
            return false;
        }
    }
}
