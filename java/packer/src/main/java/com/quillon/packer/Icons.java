package com.quillon.packer;

import java.awt.Graphics2D;
import java.awt.RenderingHints;
import java.awt.image.BufferedImage;
import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.Iterator;
import javax.imageio.ImageIO;
import javax.imageio.ImageReader;
import javax.imageio.stream.ImageInputStream;

/**
 * The program icon: an .ico file as it is, or a PNG turned into an .ico with the sizes Explorer
 * and the taskbar ask for. The small sizes are 32-bit bitmaps with an AND mask, which every
 * Windows version draws; 256 is stored as PNG, as Windows Vista and later expect.
 */
final class Icons {

    static final int[] SIZES = {16, 24, 32, 48, 256};

    private Icons() {
    }

    static boolean isIco(byte[] b) {
        return b.length >= 6 && b[0] == 0 && b[1] == 0 && b[2] == 1 && b[3] == 0;
    }

    static boolean isPng(byte[] b) {
        return b.length >= 8 && (b[0] & 0xFF) == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G';
    }

    /** An .ico file made from a PNG image. */
    static byte[] fromPng(byte[] png, String what) throws PackerException {
        BufferedImage source = decode(png, what);
        byte[][] images = new byte[SIZES.length][];
        for (int i = 0; i < SIZES.length; i++) {
            BufferedImage scaled = scale(source, SIZES[i]);
            images[i] = SIZES[i] == 256 ? encodePng(scaled, what) : dib32(scaled);
        }
        int header = 6 + 16 * SIZES.length;
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        ByteBuffer dir = ByteBuffer.allocate(header).order(ByteOrder.LITTLE_ENDIAN);
        dir.putShort((short) 0).putShort((short) 1).putShort((short) SIZES.length);
        int offset = header;
        for (int i = 0; i < SIZES.length; i++) {
            int side = SIZES[i] == 256 ? 0 : SIZES[i]; // 0 stands for 256
            dir.put((byte) side).put((byte) side).put((byte) 0).put((byte) 0).putShort((short) 1)
                    .putShort((short) 32).putInt(images[i].length).putInt(offset);
            offset += images[i].length;
        }
        out.write(dir.array(), 0, header);
        for (byte[] image : images) {
            out.write(image, 0, image.length);
        }
        return out.toByteArray();
    }

    private static BufferedImage decode(byte[] bytes, String what) throws PackerException {
        try (ImageInputStream in = ImageIO.createImageInputStream(new ByteArrayInputStream(bytes))) {
            Iterator<ImageReader> readers = ImageIO.getImageReaders(in);
            if (!readers.hasNext()) {
                throw new PackerException(what + ": not a PNG image");
            }
            ImageReader reader = readers.next();
            try {
                reader.setInput(in, true, true);
                int w = reader.getWidth(0);
                int h = reader.getHeight(0);
                int max = ResourceSettings.Images.MAX_SIDE;
                if (w <= 0 || h <= 0 || w > max || h > max) {
                    throw new PackerException(what + ": the image is " + w + " x " + h
                            + " pixels; the packer takes 1 to " + max + " pixels a side");
                }
                return reader.read(0);
            } finally {
                reader.dispose();
            }
        } catch (IOException | RuntimeException e) {
            throw new PackerException(what + ": cannot read the image: " + e, e);
        }
    }

    /** Fits the image into a transparent square of {@code side} pixels, halving first for quality. */
    static BufferedImage scale(BufferedImage source, int side) {
        BufferedImage current = toArgb(source);
        while (Math.max(current.getWidth(), current.getHeight()) >= side * 2) {
            current = draw(current, Math.max(1, current.getWidth() / 2), Math.max(1, current.getHeight() / 2),
                    Math.max(1, current.getWidth() / 2), Math.max(1, current.getHeight() / 2), 0, 0);
        }
        double factor = (double) side / Math.max(current.getWidth(), current.getHeight());
        int w = Math.max(1, (int) Math.round(current.getWidth() * factor));
        int h = Math.max(1, (int) Math.round(current.getHeight() * factor));
        return draw(current, side, side, w, h, (side - w) / 2, (side - h) / 2);
    }

    private static BufferedImage toArgb(BufferedImage source) {
        return draw(source, source.getWidth(), source.getHeight(), source.getWidth(), source.getHeight(), 0, 0);
    }

    private static BufferedImage draw(BufferedImage source, int width, int height, int w, int h, int x, int y) {
        BufferedImage target = new BufferedImage(width, height, BufferedImage.TYPE_INT_ARGB);
        Graphics2D g = target.createGraphics();
        try {
            g.setRenderingHint(RenderingHints.KEY_INTERPOLATION, RenderingHints.VALUE_INTERPOLATION_BICUBIC);
            g.setRenderingHint(RenderingHints.KEY_RENDERING, RenderingHints.VALUE_RENDER_QUALITY);
            g.drawImage(source, x, y, w, h, null);
        } finally {
            g.dispose();
        }
        return target;
    }

    /** A bottom-up 32-bit BGRA bitmap of double height, followed by its 1-bit AND mask. */
    static byte[] dib32(BufferedImage image) {
        int side = image.getWidth();
        int maskStride = ((side + 31) / 32) * 4;
        ByteBuffer b = ByteBuffer.allocate(40 + side * side * 4 + maskStride * side).order(ByteOrder.LITTLE_ENDIAN);
        b.putInt(40).putInt(side).putInt(side * 2).putShort((short) 1).putShort((short) 32).putInt(0)
                .putInt(side * side * 4 + maskStride * side).putInt(0).putInt(0).putInt(0).putInt(0);
        for (int y = side - 1; y >= 0; y--) {
            for (int x = 0; x < side; x++) {
                b.putInt(image.getRGB(x, y)); // ARGB as a little-endian int is B, G, R, A
            }
        }
        for (int y = side - 1; y >= 0; y--) {
            int row = b.position();
            for (int x = 0; x < side; x++) {
                if ((image.getRGB(x, y) >>> 24) == 0) {
                    int at = row + x / 8;
                    b.put(at, (byte) (b.get(at) | (0x80 >>> (x % 8))));
                }
            }
            b.position(row + maskStride);
        }
        return b.array();
    }

    private static byte[] encodePng(BufferedImage image, String what) throws PackerException {
        ByteArrayOutputStream png = new ByteArrayOutputStream();
        try {
            ImageIO.write(image, "png", png);
        } catch (IOException e) {
            throw new PackerException(what + ": cannot write the 256-pixel image: " + e.getMessage(), e);
        }
        return png.toByteArray();
    }
}
