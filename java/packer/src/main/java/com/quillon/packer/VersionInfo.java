package com.quillon.packer;

import java.io.ByteArrayOutputStream;
import java.util.LinkedHashMap;
import java.util.Map;

/**
 * The VS_VERSIONINFO resource that Explorer's Details tab and GetFileVersionInfo read: the
 * numeric file and product versions and one string table in US English, Unicode.
 */
final class VersionInfo {

    static final int RT_VERSION = 16;
    /** US English, code page 1200 (UTF-16): the string table's name and the translation. */
    private static final int LANGUAGE = 0x0409;
    private static final int CODE_PAGE = 1200;

    /** Config field → string name in the table, in the order they are written. */
    static final Map<String, String> FIELDS = new LinkedHashMap<>();

    static {
        FIELDS.put("companyName", "CompanyName");
        FIELDS.put("fileDescription", "FileDescription");
        FIELDS.put("fileVersion", "FileVersion");
        FIELDS.put("internalName", "InternalName");
        FIELDS.put("copyright", "LegalCopyright");
        FIELDS.put("originalFilename", "OriginalFilename");
        FIELDS.put("productName", "ProductName");
        FIELDS.put("productVersion", "ProductVersion");
    }

    private VersionInfo() {
    }

    /** The {@code "versionInfo"} setting as resource bytes; null when it is absent. */
    static byte[] read(Object value, ProductSettings s) throws PackerException {
        if (value == null) {
            return null;
        }
        Map<String, Object> o = s.object(value, "versionInfo");
        s.allowOnly(o, "versionInfo", FIELDS.keySet().toArray(new String[0]));
        Map<String, String> strings = new LinkedHashMap<>();
        for (Map.Entry<String, String> f : FIELDS.entrySet()) {
            String text = s.optionalString(o.get(f.getKey()), "versionInfo." + f.getKey());
            if (text != null) {
                strings.put(f.getValue(), text);
            }
        }
        String fileVersion = strings.get("FileVersion");
        if (fileVersion == null) {
            throw s.fail("versionInfo needs \"fileVersion\"");
        }
        String productVersion = strings.get("ProductVersion");
        if (productVersion == null) {
            productVersion = fileVersion;
            strings.put("ProductVersion", productVersion);
        }
        long[] file = numeric(fileVersion, "versionInfo.fileVersion", s);
        long[] product = numeric(productVersion, "versionInfo.productVersion", s);
        return build(file, product, strings);
    }

    /** "1.2.3.4" or a shorter "1.2": up to four numbers from 0 to 65535; missing ones are 0. */
    static long[] numeric(String version, String where, ProductSettings s) throws PackerException {
        String[] parts = version.split("\\.", -1);
        if (parts.length > 4) {
            throw s.fail(where + ": \"" + version + "\" has more than four numbers");
        }
        long[] v = new long[4];
        for (int i = 0; i < parts.length; i++) {
            if (!parts[i].matches("[0-9]{1,5}") || Integer.parseInt(parts[i]) > 0xFFFF) {
                throw s.fail(where + ": \"" + version + "\" is not up to four numbers from 0 to 65535 joined by dots");
            }
            v[i] = Integer.parseInt(parts[i]);
        }
        return v;
    }

    static byte[] build(long[] file, long[] product, Map<String, String> strings) {
        Block root = new Block("VS_VERSION_INFO", 0);
        Out fixed = new Out();
        fixed.u32(0xFEEF04BDL).u32(0x00010000L);
        fixed.u32(file[0] << 16 | file[1]).u32(file[2] << 16 | file[3]);
        fixed.u32(product[0] << 16 | product[1]).u32(product[2] << 16 | product[3]);
        fixed.u32(0x3F).u32(0); // flags mask, flags
        fixed.u32(0x00040004L); // VOS_NT_WINDOWS32
        fixed.u32(1).u32(0); // VFT_APP, no subtype
        fixed.u32(0).u32(0); // no file date: the output stays reproducible
        root.value = fixed.bytes();
        root.valueLength = root.value.length;

        Block table = new Block(String.format("%04X%04X", LANGUAGE, CODE_PAGE), 1);
        for (Map.Entry<String, String> e : strings.entrySet()) {
            Block string = new Block(e.getKey(), 1);
            string.value = utf16z(e.getValue());
            string.valueLength = e.getValue().length() + 1; // in characters, with the terminator
            table.children.add(string);
        }
        Block stringInfo = new Block("StringFileInfo", 1);
        stringInfo.children.add(table);
        Block translation = new Block("Translation", 0);
        translation.value = new Out().u16(LANGUAGE).u16(CODE_PAGE).bytes();
        translation.valueLength = 4;
        Block varInfo = new Block("VarFileInfo", 1);
        varInfo.children.add(translation);
        root.children.add(stringInfo);
        root.children.add(varInfo);
        return root.bytes();
    }

    private static byte[] utf16z(String s) {
        return PayloadWriter.wideBytes(s + '\0');
    }

    /** One node of the version tree: length, value length, type, key, value, children. */
    private static final class Block {
        final String key;
        final int type;
        byte[] value = new byte[0];
        int valueLength;
        final java.util.List<Block> children = new java.util.ArrayList<>();

        Block(String key, int type) {
            this.key = key;
            this.type = type;
        }

        /** Each value and child starts on a 32-bit boundary; wLength leaves out trailing padding. */
        byte[] bytes() {
            Out out = new Out();
            out.u16(0).u16(valueLength).u16(type);
            out.raw(utf16z(key)).pad();
            out.raw(value);
            for (Block child : children) {
                out.pad().raw(child.bytes());
            }
            byte[] b = out.bytes();
            b[0] = (byte) b.length;
            b[1] = (byte) (b.length >>> 8);
            return b;
        }
    }

    private static final class Out {
        private final ByteArrayOutputStream b = new ByteArrayOutputStream();

        Out u16(int v) {
            b.write(v);
            b.write(v >>> 8);
            return this;
        }

        Out u32(long v) {
            u16((int) (v & 0xFFFF));
            return u16((int) (v >>> 16 & 0xFFFF));
        }

        Out raw(byte[] bytes) {
            b.write(bytes, 0, bytes.length);
            return this;
        }

        Out pad() {
            while (b.size() % 4 != 0) {
                b.write(0);
            }
            return this;
        }

        byte[] bytes() {
            return b.toByteArray();
        }
    }

    /**
     * What {@code inspect} shows of a VS_VERSIONINFO: the numeric versions and the strings of
     * every string table. Null when the bytes do not hold one.
     */
    static Map<String, String> parse(byte[] data) {
        try {
            Map<String, String> out = new LinkedHashMap<>();
            java.nio.ByteBuffer b = java.nio.ByteBuffer.wrap(data).order(java.nio.ByteOrder.LITTLE_ENDIAN);
            int length = Math.min(b.getShort(0) & 0xFFFF, data.length);
            int valueLength = b.getShort(2) & 0xFFFF;
            int value = align4(6 + keyBytes(b, 6, length));
            if (valueLength >= 52 && b.getInt(value) == 0xFEEF04BD) {
                out.put("fixedFileVersion", version(b.getInt(value + 8), b.getInt(value + 12)));
                out.put("fixedProductVersion", version(b.getInt(value + 16), b.getInt(value + 20)));
            }
            walkStrings(b, align4(value + valueLength), length, 0, out);
            return out;
        } catch (IndexOutOfBoundsException | IllegalArgumentException e) {
            return null;
        }
    }

    private static String version(int ms, int ls) {
        return (ms >>> 16) + "." + (ms & 0xFFFF) + "." + (ls >>> 16) + "." + (ls & 0xFFFF);
    }

    /** Children from {@code at} to {@code end}; strings are the leaves two levels below StringFileInfo. */
    private static void walkStrings(java.nio.ByteBuffer b, int at, int end, int depth, Map<String, String> out) {
        while (at + 6 <= end && depth < 3) {
            int length = b.getShort(at) & 0xFFFF;
            if (length < 6 || at + length > end) {
                return;
            }
            int keyLength = keyBytes(b, at + 6, at + length);
            String key = new String(java.util.Arrays.copyOfRange(b.array(), at + 6, at + 6 + keyLength - 2),
                    java.nio.charset.StandardCharsets.UTF_16LE);
            int value = align4(at + 6 + keyLength);
            if (depth == 2) {
                int chars = b.getShort(at + 2) & 0xFFFF;
                int bytes = Math.min(2 * chars, Math.max(0, at + length - value));
                String text = new String(java.util.Arrays.copyOfRange(b.array(), value, value + bytes),
                        java.nio.charset.StandardCharsets.UTF_16LE);
                int nul = text.indexOf('\0');
                out.put(key, nul >= 0 ? text.substring(0, nul) : text);
            } else if (depth == 1 || key.equals("StringFileInfo")) {
                walkStrings(b, value, at + length, depth + 1, out);
            }
            at = align4(at + length);
        }
    }

    /** Bytes of the NUL-terminated UTF-16 key at {@code at}, the terminator included. */
    private static int keyBytes(java.nio.ByteBuffer b, int at, int end) {
        int i = at;
        while (i + 1 < end && b.getShort(i) != 0) {
            i += 2;
        }
        if (i + 1 >= end) {
            throw new IllegalArgumentException("unterminated key");
        }
        return i + 2 - at;
    }

    private static int align4(int v) {
        return (v + 3) & ~3;
    }
}
