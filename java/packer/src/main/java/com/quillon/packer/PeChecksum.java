package com.quillon.packer;

import java.io.IOException;
import java.io.RandomAccessFile;

/**
 * The optional header's CheckSum: the file summed as 16-bit words with the carries folded back,
 * the CheckSum field itself counted as zero, plus the file length. Drivers and some scanners
 * check it; Windows itself ignores it for programs.
 */
final class PeChecksum {

    private PeChecksum() {
    }

    static long compute(RandomAccessFile file, long checksumOffset) throws IOException {
        long length = file.length();
        long sum = 0;
        byte[] buf = new byte[1 << 16];
        long pos = 0;
        file.seek(0);
        while (pos < length) {
            int n = (int) Math.min(buf.length, length - pos);
            file.readFully(buf, 0, n);
            for (int i = 0; i < n; i += 2) {
                long at = pos + i;
                if (at >= checksumOffset && at < checksumOffset + 4) {
                    continue;
                }
                int word = buf[i] & 0xFF;
                if (i + 1 < n) {
                    word |= (buf[i + 1] & 0xFF) << 8;
                }
                sum += word;
                sum = (sum & 0xFFFF) + (sum >>> 16);
            }
            pos += n;
        }
        sum = (sum & 0xFFFF) + (sum >>> 16);
        return (sum + length) & 0xFFFFFFFFL;
    }

    /** Computes the sum and writes it into the header. */
    static void update(RandomAccessFile file, long checksumOffset) throws IOException {
        long sum = compute(file, checksumOffset);
        file.seek(checksumOffset);
        file.write(PayloadWriter.le32((int) sum));
    }
}
