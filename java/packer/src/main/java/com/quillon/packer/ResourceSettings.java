package com.quillon.packer;

import java.awt.image.BufferedImage;
import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.math.BigDecimal;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Iterator;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import javax.imageio.ImageIO;
import javax.imageio.ImageReader;
import javax.imageio.stream.ImageInputStream;

/**
 * The config's resources: the raw {@code "resources"} list, written as given, and the named
 * {@code "splashScreen"} setting, which turns an image into bitmap 10000 (the launcher's own
 * splash window) or RCDATA 10000 (the Java runtime's splash library) and sets the splash keys.
 */
final class ResourceSettings {

    static final int SPLASH_RESOURCE = 10000;

    static final int KEY_SPLASH = 108;
    static final int KEY_WIDTH = 141;
    static final int KEY_HEIGHT = 142;
    static final int KEY_AUTO_OFF = 145;
    static final int KEY_ON_TOP = 147;
    static final int KEY_RUNTIME_LIBRARY = 10123;
    /** The first of the seven keys of the status line: x, y, text, font, size, colour, weight. */
    static final int FIRST_STATUS_KEY = 10109;
    static final int FIRST_SECOND_KEY = 10116;
    private static final int FACE_NAME_LIMIT = 31;

    private final String source;
    private final Path baseDir;
    private final List<ResourceWriter.Resource> resources = new ArrayList<>();
    private final Map<Integer, String> keys = new LinkedHashMap<>();

    private ResourceSettings(String source, Path baseDir) {
        this.source = source;
        this.baseDir = baseDir;
    }

    /** Reads both settings; the raw list comes last so that it wins for a type and name it repeats. */
    static ResourceSettings read(Object splash, Object raw, Path baseDir, String source) throws PackerException {
        ResourceSettings settings = new ResourceSettings(source, baseDir);
        settings.splash(splash);
        settings.raw(raw);
        return settings;
    }

    List<ResourceWriter.Resource> resources() {
        return resources;
    }

    /** Keys the splash setting derives; the raw key layer may still override them. */
    Map<Integer, String> keys() {
        return keys;
    }

    private void raw(Object value) throws PackerException {
        if (value == null) {
            return;
        }
        if (!(value instanceof List)) {
            throw fail("\"resources\" must be an array");
        }
        List<?> items = (List<?>) value;
        for (int i = 0; i < items.size(); i++) {
            String where = "resources[" + i + "]";
            Map<String, Object> entry = object(items.get(i), where);
            allowOnly(entry, where, "type", "id", "source");
            Object type = entry.get("type");
            ResourceWriter.Kind kind = null;
            for (ResourceWriter.Kind k : ResourceWriter.Kind.values()) {
                if (k.name().equals(type) && k != ResourceWriter.Kind.TYPED) {
                    kind = k;
                }
            }
            if (kind == null) {
                throw fail(where + ".type must be \"BITMAP\", \"RCDATA\" or \"ICON\"");
            }
            PeResources.Id id = id(entry.get("id"), where + ".id");
            String file = string(entry.get("source"), where + ".source");
            byte[] bytes = readFile(file, where);
            byte[] data = kind == ResourceWriter.Kind.BITMAP ? Images.toDib(bytes, where + ": " + file) : bytes;
            resources.add(new ResourceWriter.Resource(kind, id, data));
        }
    }

    private void splash(Object value) throws PackerException {
        if (value == null) {
            return;
        }
        String where = "splashScreen";
        Map<String, Object> splash = object(value, "\"" + where + "\"");
        allowOnly(splash, where, "image", "runtimeLibrary", "autoOff", "alwaysOnTop", "statusText", "secondText");
        String file = string(splash.get("image"), where + ".image");
        byte[] bytes = readFile(file, where + ".image");
        boolean runtimeLibrary = flag(splash.get("runtimeLibrary"), where + ".runtimeLibrary");
        int[] size = Images.size(bytes, where + ".image: " + file);
        PeResources.Id id = PeResources.Id.of(SPLASH_RESOURCE);
        if (runtimeLibrary) {
            resources.add(new ResourceWriter.Resource(ResourceWriter.Kind.RCDATA, id,
                    Images.forRuntimeLibrary(bytes, where + ".image: " + file)));
        } else {
            resources.add(new ResourceWriter.Resource(ResourceWriter.Kind.BITMAP, id,
                    Images.toDib(bytes, where + ".image: " + file)));
        }
        keys.put(KEY_SPLASH, "1");
        keys.put(KEY_WIDTH, Integer.toString(size[0]));
        keys.put(KEY_HEIGHT, Integer.toString(size[1]));
        if (runtimeLibrary) {
            keys.put(KEY_RUNTIME_LIBRARY, "1");
        }
        if (flag(splash.get("autoOff"), where + ".autoOff")) {
            keys.put(KEY_AUTO_OFF, "1");
        }
        if (flag(splash.get("alwaysOnTop"), where + ".alwaysOnTop")) {
            keys.put(KEY_ON_TOP, "1");
        }
        textLine(splash.get("statusText"), where + ".statusText", FIRST_STATUS_KEY);
        textLine(splash.get("secondText"), where + ".secondText", FIRST_SECOND_KEY);
    }

    /** x, y, text, font, size, colour, weight: the order of the keys. */
    private void textLine(Object value, String where, int firstKey) throws PackerException {
        if (value == null) {
            return;
        }
        Map<String, Object> line = object(value, where);
        allowOnly(line, where, "text", "x", "y", "font", "size", "color", "weight");
        putInteger(line.get("x"), where + ".x", firstKey);
        putInteger(line.get("y"), where + ".y", firstKey + 1);
        if (line.get("text") != null) {
            keys.put(firstKey + 2, string(line.get("text"), where + ".text"));
        }
        if (line.get("font") != null) {
            String face = string(line.get("font"), where + ".font");
            if (face.length() > FACE_NAME_LIMIT) {
                throw fail(where + ".font: a font name has at most " + FACE_NAME_LIMIT + " characters");
            }
            keys.put(firstKey + 3, face);
        }
        putInteger(line.get("size"), where + ".size", firstKey + 4);
        if (line.get("color") != null) {
            keys.put(firstKey + 5, color(line.get("color"), where + ".color"));
        }
        putInteger(line.get("weight"), where + ".weight", firstKey + 6);
    }

    private String color(Object value, String where) throws PackerException {
        String message = where + " must be an array of three numbers from 0 to 255 (red, green, blue)";
        if (!(value instanceof List) || ((List<?>) value).size() != 3) {
            throw fail(message);
        }
        List<String> parts = new ArrayList<>();
        for (Object component : (List<?>) value) {
            int c = integer(component, message);
            if (c < 0 || c > 255) {
                throw fail(message);
            }
            parts.add(Integer.toString(c));
        }
        return String.join(",", parts);
    }

    private void putInteger(Object value, String where, int key) throws PackerException {
        if (value != null) {
            keys.put(key, Integer.toString(integer(value, where + " must be a whole number")));
        }
    }

    private int integer(Object value, String message) throws PackerException {
        if (!(value instanceof BigDecimal)) {
            throw fail(message);
        }
        try {
            return ((BigDecimal) value).intValueExact();
        } catch (ArithmeticException e) {
            throw fail(message);
        }
    }

    private PeResources.Id id(Object value, String where) throws PackerException {
        try {
            if (value instanceof BigDecimal) {
                return PeResources.Id.of(((BigDecimal) value).intValueExact());
            }
            if (value instanceof String) {
                return PeResources.Id.of((String) value);
            }
        } catch (ArithmeticException | IllegalArgumentException e) {
            throw fail(where + ": " + (e.getMessage() == null ? "not a whole number" : e.getMessage()));
        }
        throw fail(where + " must be a number from 1 to 65535 or a name");
    }

    private boolean flag(Object value, String where) throws PackerException {
        if (value != null && !(value instanceof Boolean)) {
            throw fail(where + " must be true or false");
        }
        return Boolean.TRUE.equals(value);
    }

    private byte[] readFile(String name, String where) throws PackerException {
        Path file = baseDir.resolve(name).normalize();
        if (!Files.isRegularFile(file)) {
            throw fail(where + ": " + file + " does not exist or is not a file");
        }
        try {
            return Files.readAllBytes(file);
        } catch (IOException e) {
            throw fail(where + ": cannot read " + file + ": " + e.getMessage());
        }
    }

    private String string(Object value, String where) throws PackerException {
        if (!(value instanceof String)) {
            throw fail(where + " must be a string");
        }
        return (String) value;
    }

    @SuppressWarnings("unchecked")
    private Map<String, Object> object(Object value, String where) throws PackerException {
        if (!(value instanceof Map)) {
            throw fail(where + " must be an object");
        }
        return (Map<String, Object>) value;
    }

    private void allowOnly(Map<String, Object> object, String where, String... names) throws PackerException {
        List<String> allowed = Arrays.asList(names);
        for (String name : object.keySet()) {
            if (!allowed.contains(name)) {
                throw fail(Suggestions.unknownField(where, name, allowed));
            }
        }
    }

    private PackerException fail(String message) {
        return new PackerException(source + ": " + message);
    }

    /** Image formats: what a bitmap resource holds and what the runtime's splash library reads. */
    static final class Images {

        private static final int FILE_HEADER_SIZE = 14;
        private static final int INFO_HEADER_SIZE = 40;

        private Images() {
        }

        static boolean isBmp(byte[] b) {
            return b.length > FILE_HEADER_SIZE + 4 && b[0] == 'B' && b[1] == 'M';
        }

        /** PNG, GIF and JPEG: what the Java runtime's splash library decodes. */
        static boolean isRuntimeSplashFormat(byte[] b) {
            return startsWith(b, 0x89, 'P', 'N', 'G') || startsWith(b, 'G', 'I', 'F', '8')
                    || startsWith(b, 0xFF, 0xD8, 0xFF);
        }

        private static boolean startsWith(byte[] b, int... prefix) {
            if (b.length < prefix.length) {
                return false;
            }
            for (int i = 0; i < prefix.length; i++) {
                if ((b[i] & 0xFF) != prefix[i]) {
                    return false;
                }
            }
            return true;
        }

        /** The largest image side the packer takes; far beyond any splash screen or icon. */
        static final int MAX_SIDE = 16384;

        /** Width and height in pixels. */
        static int[] size(byte[] bytes, String what) throws PackerException {
            if (isBmp(bytes)) {
                checkBmp(bytes, what);
                ByteBuffer b = ByteBuffer.wrap(bytes).order(ByteOrder.LITTLE_ENDIAN);
                int header = b.getInt(FILE_HEADER_SIZE);
                if (header == 12) {
                    return new int[] {b.getShort(18) & 0xFFFF, b.getShort(20) & 0xFFFF};
                }
                return new int[] {b.getInt(18), Math.abs(b.getInt(22))};
            }
            BufferedImage image = decode(bytes, what);
            return new int[] {image.getWidth(), image.getHeight()};
        }

        /**
         * Refuses a BMP whose headers do not fit the file: an unknown info header size, one that
         * runs past the end, a size of zero or beyond {@link #MAX_SIDE}, or pixels outside the file.
         */
        static void checkBmp(byte[] bytes, String what) throws PackerException {
            ByteBuffer b = ByteBuffer.wrap(bytes).order(ByteOrder.LITTLE_ENDIAN);
            long header = b.getInt(FILE_HEADER_SIZE) & 0xFFFFFFFFL;
            if (header != 12 && header != 40 && header != 52 && header != 56 && header != 64 && header != 108
                    && header != 124) {
                throw new PackerException(what + ": the BMP has an unknown info header size " + header);
            }
            if (bytes.length < FILE_HEADER_SIZE + header) {
                throw new PackerException(what + ": the BMP is cut short inside its headers (" + bytes.length
                        + " bytes)");
            }
            long width;
            long height;
            int bits;
            if (header == 12) {
                width = b.getShort(18) & 0xFFFF;
                height = b.getShort(20) & 0xFFFF;
                bits = b.getShort(24) & 0xFFFF;
            } else {
                width = b.getInt(18);
                height = Math.abs((long) b.getInt(22));
                bits = b.getShort(28) & 0xFFFF;
            }
            if (width <= 0 || height <= 0 || width > MAX_SIDE || height > MAX_SIDE) {
                throw new PackerException(what + ": the BMP is " + width + " x " + height
                        + " pixels; the packer takes 1 to " + MAX_SIDE + " pixels a side");
            }
            if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
                throw new PackerException(what + ": the BMP has " + bits + " bits per pixel");
            }
            long pixels = b.getInt(10) & 0xFFFFFFFFL;
            if (pixels >= bytes.length) {
                throw new PackerException(what + ": the BMP's pixel data lies outside the file");
            }
        }

        /**
         * A bitmap resource is a BMP file without its 14-byte file header, the pixels right behind
         * the colour table; other images are converted.
         */
        static byte[] toDib(byte[] bytes, String what) throws PackerException {
            if (!isBmp(bytes)) {
                return dib24(decode(bytes, what));
            }
            checkBmp(bytes, what);
            ByteBuffer b = ByteBuffer.wrap(bytes).order(ByteOrder.LITTLE_ENDIAN);
            long pixels = b.getInt(10) & 0xFFFFFFFFL;
            long tableEnd = FILE_HEADER_SIZE + colorTableEnd(b);
            if (pixels > tableEnd && pixels <= bytes.length) {
                byte[] dib = new byte[(int) (tableEnd - FILE_HEADER_SIZE + bytes.length - pixels)];
                System.arraycopy(bytes, FILE_HEADER_SIZE, dib, 0, (int) (tableEnd - FILE_HEADER_SIZE));
                System.arraycopy(bytes, (int) pixels, dib, (int) (tableEnd - FILE_HEADER_SIZE),
                        (int) (bytes.length - pixels));
                return dib;
            }
            return Arrays.copyOfRange(bytes, FILE_HEADER_SIZE, bytes.length);
        }

        /** Size of the info header, the colour masks and the colour table. */
        private static long colorTableEnd(ByteBuffer b) {
            int header = b.getInt(FILE_HEADER_SIZE);
            if (header == 12) {
                int bits = b.getShort(FILE_HEADER_SIZE + 10);
                return 12 + (bits <= 8 ? 3L << bits : 0);
            }
            if (b.capacity() < FILE_HEADER_SIZE + INFO_HEADER_SIZE) {
                return header;
            }
            int bits = b.getShort(FILE_HEADER_SIZE + 14);
            int compression = b.getInt(FILE_HEADER_SIZE + 16);
            long used = b.getInt(FILE_HEADER_SIZE + 32) & 0xFFFFFFFFL;
            long colors = used != 0 ? used : bits <= 8 ? 1L << bits : 0;
            // BI_BITFIELDS and BI_ALPHABITFIELDS put their masks behind a 40-byte header.
            int masks = header == INFO_HEADER_SIZE ? compression == 3 ? 12 : compression == 6 ? 16 : 0 : 0;
            return (header & 0xFFFFFFFFL) + masks + 4 * colors;
        }

        /** The runtime's library reads PNG, GIF and JPEG; a BMP is handed to it as PNG. */
        static byte[] forRuntimeLibrary(byte[] bytes, String what) throws PackerException {
            if (isRuntimeSplashFormat(bytes)) {
                return bytes;
            }
            ByteArrayOutputStream png = new ByteArrayOutputStream();
            try {
                ImageIO.write(decode(bytes, what), "png", png);
            } catch (IOException e) {
                throw new PackerException(what + ": cannot convert it to PNG: " + e.getMessage(), e);
            }
            return png.toByteArray();
        }

        private static BufferedImage decode(byte[] bytes, String what) throws PackerException {
            try (ImageInputStream in = ImageIO.createImageInputStream(new ByteArrayInputStream(bytes))) {
                Iterator<ImageReader> readers = ImageIO.getImageReaders(in);
                if (!readers.hasNext()) {
                    throw new PackerException(what + ": not an image format the packer reads (BMP, PNG, GIF, JPEG)");
                }
                ImageReader reader = readers.next();
                try {
                    reader.setInput(in, true, true);
                    // The sizes come from the headers; check them before any pixel memory is taken.
                    int width = reader.getWidth(0);
                    int height = reader.getHeight(0);
                    if (width <= 0 || height <= 0 || width > MAX_SIDE || height > MAX_SIDE) {
                        throw new PackerException(what + ": the image is " + width + " x " + height
                                + " pixels; the packer takes 1 to " + MAX_SIDE + " pixels a side");
                    }
                    return reader.read(0);
                } finally {
                    reader.dispose();
                }
            } catch (IOException | RuntimeException e) {
                // Image decoders report damaged files with assorted unchecked exceptions.
                throw new PackerException(what + ": cannot read the image: " + e, e);
            }
        }

        /** A bottom-up 24-bit DIB; transparent pixels come out over white. */
        static byte[] dib24(BufferedImage image) {
            int width = image.getWidth();
            int height = image.getHeight();
            int stride = (width * 3 + 3) & ~3;
            ByteBuffer b = ByteBuffer.allocate(INFO_HEADER_SIZE + stride * height).order(ByteOrder.LITTLE_ENDIAN);
            b.putInt(INFO_HEADER_SIZE).putInt(width).putInt(height).putShort((short) 1).putShort((short) 24)
                    .putInt(0).putInt(stride * height).putInt(2835).putInt(2835).putInt(0).putInt(0);
            for (int y = height - 1; y >= 0; y--) {
                int row = b.position();
                for (int x = 0; x < width; x++) {
                    int argb = image.getRGB(x, y);
                    int alpha = argb >>> 24;
                    int r = blend((argb >> 16) & 0xFF, alpha);
                    int g = blend((argb >> 8) & 0xFF, alpha);
                    int bl = blend(argb & 0xFF, alpha);
                    b.put((byte) bl).put((byte) g).put((byte) r);
                }
                b.position(row + stride);
            }
            return b.array();
        }

        private static int blend(int component, int alpha) {
            return (component * alpha + 255 * (255 - alpha) + 127) / 255;
        }
    }
}
