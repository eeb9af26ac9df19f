package com.quillon.packer;

import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * Puts resources into a launcher stub. The stubs are linked without resources and with
 * {@code .reloc} last, so the merged resource tree (what the stub had plus the new
 * resources) goes into a section of its own, appended as the last section at the highest file
 * offset: the payload still starts behind the raw data of the last section-table entry.
 * Repacking a launcher replaces the resource section an earlier pack appended.
 */
public final class ResourceWriter {

    /** What the config names: the type, the name or number, and the bytes to store. */
    public enum Kind {
        BITMAP, RCDATA, ICON,
        /** Any type by number, for what the packer's own settings write (manifest, version). */
        TYPED
    }

    /** One resource to write; an ICON's data is a whole .ico file. */
    public static final class Resource {
        public final Kind kind;
        public final PeResources.Id id;
        public final byte[] data;

        /** For TYPED: the resource type. */
        public final PeResources.Id type;
        /** For ICON: further group names that list the same images. */
        public final List<PeResources.Id> aliases;

        public Resource(Kind kind, PeResources.Id id, byte[] data) {
            this(kind, null, id, data, new PeResources.Id[0]);
        }

        public Resource(Kind kind, PeResources.Id id, byte[] data, PeResources.Id... aliases) {
            this(kind, null, id, data, aliases);
        }

        private Resource(Kind kind, PeResources.Id type, PeResources.Id id, byte[] data, PeResources.Id[] aliases) {
            this.kind = kind;
            this.type = type;
            this.id = id;
            this.data = data.clone();
            this.aliases = Arrays.asList(aliases.clone());
        }

        /** A resource of any type, replacing every language of that type and id. */
        public static Resource typed(int type, int id, byte[] data) {
            return new Resource(Kind.TYPED, PeResources.Id.of(type), PeResources.Id.of(id), data,
                    new PeResources.Id[0]);
        }
    }

    private static final int RESOURCE_DIRECTORY = 2;
    private static final int SECTION_HEADER_SIZE = 40;
    // IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ
    private static final int RESOURCE_SECTION_FLAGS = 0x40000040;
    private static final byte[] RESOURCE_SECTION_NAME = {'.', 'r', 's', 'r', 'c', 0, 0, 0};

    private ResourceWriter() {
    }

    /**
     * Packs like {@link PayloadWriter#pack}, with the resources written into the stub first.
     * Without resources the stub is packed unchanged.
     */
    public static void pack(Path stub, List<Resource> resources, PayloadContent content, Path out)
            throws PackerException {
        pack(stub, resources, content, out, null);
    }

    /** Packs with a last step on the written file (such as signing) before it replaces {@code out}. */
    public static void pack(Path stub, List<Resource> resources, PayloadContent content, Path out,
            PayloadWriter.Finisher finisher) throws PackerException {
        pack(stub, resources, content, out, finisher, 0);
    }

    /**
     * Packs with resources, a last step on the written file and the subsystem field set to
     * {@code subsystem} (0 keeps the stub's).
     */
    public static void pack(Path stub, List<Resource> resources, PayloadContent content, Path out,
            PayloadWriter.Finisher finisher, int subsystem) throws PackerException {
        if (resources.isEmpty() && subsystem == 0) {
            PayloadWriter.pack(stub, content, out, finisher);
            return;
        }
        PeImage image = PeImage.read(stub);
        image.checkPackable();
        byte[] bytes = readPrefix(stub, image.payloadOffset());
        byte[] rewritten = resources.isEmpty() ? bytes : rewrite(bytes, resources);
        if (subsystem != 0) {
            setSubsystem(rewritten, subsystem);
        }
        Path dir = out.toAbsolutePath().getParent();
        Path temp = null;
        try {
            // Beside the output when its directory exists; PayloadWriter reports when it does not.
            temp = dir != null && Files.isDirectory(dir) ? Files.createTempFile(dir, ".stub.", ".tmp")
                    : Files.createTempFile(".stub.", ".tmp");
            Files.write(temp, rewritten);
            PayloadWriter.pack(temp, content, out, finisher);
        } catch (IOException e) {
            throw new PackerException("cannot write " + out + ": " + e.getMessage(), e);
        } finally {
            if (temp != null) {
                try {
                    Files.deleteIfExists(temp);
                } catch (IOException ignored) {
                    // a stray temp file is the lesser problem
                }
            }
        }
    }

    /** The image (everything up to its last section) with the resources merged in. */
    static byte[] rewrite(byte[] original, List<Resource> resources) throws PackerException {
        byte[] stub = original.clone();
        Headers h = new Headers(stub);
        PeResources tree = h.resourceRva == 0 ? new PeResources() : PeResources.read(stub, h.resourceRva,
                h::offsetOf, h.sectionBytesFrom(h.resourceRva));
        if (h.resourceRva != 0 && h.lastHoldsResources()) {
            h.dropLastSection();
            int slot = h.sectionTable + SECTION_HEADER_SIZE * h.sectionCount;
            Arrays.fill(stub, slot, slot + SECTION_HEADER_SIZE, (byte) 0);
        }
        for (Resource r : resources) {
            add(tree, r);
        }

        int count = h.sectionCount;
        long headerSlot = h.sectionTable + (long) SECTION_HEADER_SIZE * count;
        if (headerSlot + SECTION_HEADER_SIZE > h.headerLimit()) {
            throw new PackerException("the stub has no room for one more section header (its headers end at "
                    + h.headerLimit() + ")");
        }
        for (long i = headerSlot; i < headerSlot + SECTION_HEADER_SIZE; i++) {
            if (stub[(int) i] != 0) {
                throw new PackerException("the stub has no free space for one more section header");
            }
        }
        long rawEnd = h.rawEnd();
        long rawPointer = align(rawEnd, h.fileAlignment);
        long rva = align(h.virtualEnd(), h.sectionAlignment);
        byte[] section = tree.build(rva);
        long rawSize = align(section.length, h.fileAlignment);
        long total = rawPointer + rawSize;
        if (total > PayloadWriter.MAX_FILE_END || total > Integer.MAX_VALUE - 16) {
            throw new PackerException("the launcher with its resources would be larger than 4 GB");
        }

        byte[] out = Arrays.copyOf(stub, (int) total);
        Arrays.fill(out, (int) Math.min(rawEnd, stub.length), (int) rawPointer, (byte) 0);
        Arrays.fill(out, (int) rawPointer, (int) total, (byte) 0);
        System.arraycopy(section, 0, out, (int) rawPointer, section.length);
        ByteBuffer b = ByteBuffer.wrap(out).order(ByteOrder.LITTLE_ENDIAN);
        int slot = (int) headerSlot;
        b.position(slot);
        b.put(RESOURCE_SECTION_NAME);
        b.putInt(slot + 8, section.length);
        b.putInt(slot + 12, (int) rva);
        b.putInt(slot + 16, (int) rawSize);
        b.putInt(slot + 20, (int) rawPointer);
        b.putInt(slot + 36, RESOURCE_SECTION_FLAGS);
        b.putShort(h.peOffset + 6, (short) (count + 1));
        b.putInt(h.optional + 8, (int) (h.initializedDataSize + rawSize));
        b.putInt(h.optional + 56, (int) align(rva + section.length, h.sectionAlignment));
        b.putInt(h.directory(RESOURCE_DIRECTORY), (int) rva);
        b.putInt(h.directory(RESOURCE_DIRECTORY) + 4, section.length);
        return out;
    }

    /**
     * Sets the optional header's Subsystem. Only between GUI and console: the mingw start-up
     * code behind the launchers' entry points runs under either, which is not true of other
     * subsystems.
     */
    static void setSubsystem(byte[] image, int subsystem) throws PackerException {
        PeHeaders h = new PeHeaders(image, image.length, "the stub");
        if (h.subsystem != PeHeaders.SUBSYSTEM_GUI && h.subsystem != PeHeaders.SUBSYSTEM_CONSOLE) {
            throw new PackerException("the stub's subsystem is " + h.subsystem
                    + ", neither GUI (2) nor console (3); the packer changes only between these two");
        }
        long entry = ByteBuffer.wrap(image).order(ByteOrder.LITTLE_ENDIAN).getInt(h.optional + 16) & 0xFFFFFFFFL;
        if (entry == 0 || h.sectionOf(entry) == null) {
            throw new PackerException("the stub's entry point 0x" + Long.toHexString(entry)
                    + " lies in no section");
        }
        ByteBuffer.wrap(image).order(ByteOrder.LITTLE_ENDIAN).putShort(h.subsystemOffset(), (short) subsystem);
    }

    /** The resources an executable carries; empty when it has none. */
    public static PeResources read(Path exe) throws PackerException {
        PeHeaders h = PeHeaders.read(exe);
        if (h.directoryCount <= RESOURCE_DIRECTORY) {
            return new PeResources();
        }
        long rva = h.directoryEntry(RESOURCE_DIRECTORY)[0];
        PeHeaders.Section s = rva == 0 ? null : h.sectionOf(rva);
        if (rva == 0) {
            return new PeResources();
        }
        if (s == null) {
            throw new PackerException("the resource directory at RVA " + rva + " lies outside the sections");
        }
        if (s.rawSize > Integer.MAX_VALUE - 16) {
            throw new PackerException(exe + ": the resource section is larger than 2 GB");
        }
        // Only the resource section is read: the payload behind it may be large.
        byte[] section = new byte[(int) s.rawSize];
        try (java.io.RandomAccessFile in = new java.io.RandomAccessFile(exe.toFile(), "r")) {
            in.seek(s.rawPointer);
            in.readFully(section);
        } catch (IOException e) {
            throw new PackerException("cannot read " + exe + ": " + e.getMessage(), e);
        }
        return PeResources.read(section, rva,
                r -> r >= s.rva && r - s.rva < s.rawSize ? r - s.rva : -1, s.rawSize - (rva - s.rva));
    }

    /** The first {@code length} bytes of a file: the stub without an old payload behind it. */
    static byte[] readPrefix(Path file, long length) throws PackerException {
        if (length > Integer.MAX_VALUE - 16) {
            throw new PackerException(file + ": the image without its payload is larger than 2 GB");
        }
        byte[] bytes = new byte[(int) length];
        try (java.io.RandomAccessFile in = new java.io.RandomAccessFile(file.toFile(), "r")) {
            in.readFully(bytes);
        } catch (IOException e) {
            throw new PackerException("cannot read " + file + ": " + e.getMessage(), e);
        }
        return bytes;
    }

    /** What {@code inspect --json} shows of the resources: type, id, language and size of each. */
    public static List<Object> describe(PeResources resources) {
        List<Object> list = new ArrayList<>();
        for (PeResources.Entry e : resources.entries()) {
            Map<String, Object> o = new LinkedHashMap<>();
            o.put("type", e.type.isName() ? e.type.name() : (Object) e.type.number());
            o.put("id", e.name.isName() ? e.name.name() : (Object) e.name.number());
            o.put("language", e.language);
            o.put("size", e.data.length);
            list.add(o);
        }
        return list;
    }

    /** Names of the standard resource types that launchers carry. */
    static String typeName(PeResources.Id type) {
        if (type.isName()) {
            return "\"" + type.name() + "\"";
        }
        switch (type.number()) {
            case PeResources.RT_BITMAP:
                return "RT_BITMAP (2)";
            case PeResources.RT_ICON:
                return "RT_ICON (3)";
            case 5:
                return "RT_DIALOG (5)";
            case 6:
                return "RT_STRING (6)";
            case PeResources.RT_RCDATA:
                return "RT_RCDATA (10)";
            case PeResources.RT_GROUP_ICON:
                return "RT_GROUP_ICON (14)";
            case VersionInfo.RT_VERSION:
                return "RT_VERSION (16)";
            case Manifests.RT_MANIFEST:
                return "RT_MANIFEST (24)";
            default:
                return "type " + type.number();
        }
    }

    /** One line per type with the names under it, for {@code inspect}. */
    public static String describeTypes(PeResources resources) {
        Map<PeResources.Id, List<String>> byType = new LinkedHashMap<>();
        for (PeResources.Entry e : resources.entries()) {
            List<String> names = byType.computeIfAbsent(e.type, t -> new ArrayList<>());
            String name = e.name.toString();
            if (!names.contains(name)) {
                names.add(name);
            }
        }
        StringBuilder sb = new StringBuilder("resource types (").append(byType.size()).append("):");
        for (Map.Entry<PeResources.Id, List<String>> t : byType.entrySet()) {
            sb.append(System.lineSeparator()).append("  ").append(typeName(t.getKey())).append(": ")
                    .append(String.join(", ", t.getValue()));
        }
        return sb.toString();
    }

    /** The same as lines of text, for {@code inspect}. */
    public static String describeText(PeResources resources) {
        StringBuilder sb = new StringBuilder("resources (").append(resources.entries().size()).append("):");
        for (PeResources.Entry e : resources.entries()) {
            sb.append(System.lineSeparator()).append("  type ").append(e.type).append(", id ").append(e.name)
                    .append(", language ").append(e.language).append(": ").append(e.data.length).append(" bytes");
        }
        return sb.toString();
    }

    private static void add(PeResources tree, Resource r) throws PackerException {
        switch (r.kind) {
            case BITMAP:
                tree.remove(PeResources.Id.of(PeResources.RT_BITMAP), r.id);
                tree.put(PeResources.Id.of(PeResources.RT_BITMAP), r.id, PeResources.LANGUAGE_NEUTRAL, r.data);
                break;
            case RCDATA:
                tree.remove(PeResources.Id.of(PeResources.RT_RCDATA), r.id);
                tree.put(PeResources.Id.of(PeResources.RT_RCDATA), r.id, PeResources.LANGUAGE_NEUTRAL, r.data);
                break;
            case ICON:
                addIconGroup(tree, r.id, r.data, r.aliases);
                break;
            case TYPED:
                tree.remove(r.type, r.id);
                tree.put(r.type, r.id, PeResources.LANGUAGE_NEUTRAL, r.data);
                break;
            default:
                throw new IllegalStateException(r.kind.toString());
        }
    }

    /**
     * An .ico file becomes one RT_ICON per image, numbered after the stub's own, and an
     * RT_GROUP_ICON under the given name that lists them: the form LoadIcon looks for.
     */
    private static void addIconGroup(PeResources tree, PeResources.Id id, byte[] ico, List<PeResources.Id> aliases)
            throws PackerException {
        ByteBuffer in = ByteBuffer.wrap(ico).order(ByteOrder.LITTLE_ENDIAN);
        if (ico.length < 6 || in.getShort(0) != 0 || in.getShort(2) != 1) {
            throw new PackerException("icon " + id + ": the source is not an .ico file");
        }
        int images = in.getShort(4) & 0xFFFF;
        if (images == 0 || 6 + 16L * images > ico.length) {
            throw new PackerException("icon " + id + ": the .ico file has no images or is cut short");
        }
        PeResources.Id iconType = PeResources.Id.of(PeResources.RT_ICON);
        int next = tree.highestNumber(iconType) + 1;
        if (next + images - 1 > 0xFFFF) {
            throw new PackerException("icon " + id + ": no icon numbers left");
        }
        ByteBuffer group = ByteBuffer.allocate(6 + 14 * images).order(ByteOrder.LITTLE_ENDIAN);
        group.putShort((short) 0).putShort((short) 1).putShort((short) images);
        for (int i = 0; i < images; i++) {
            int entry = 6 + 16 * i;
            long size = in.getInt(entry + 8) & 0xFFFFFFFFL;
            long offset = in.getInt(entry + 12) & 0xFFFFFFFFL;
            if (offset + size > ico.length) {
                throw new PackerException("icon " + id + ": image " + (i + 1) + " of the .ico file lies outside it");
            }
            tree.put(iconType, PeResources.Id.of(next + i), PeResources.LANGUAGE_NEUTRAL,
                    Arrays.copyOfRange(ico, (int) offset, (int) (offset + size)));
            group.put(ico, entry, 12); // width, height, colours, reserved, planes, bit count, size
            group.putShort((short) (next + i));
        }
        PeResources.Id groupType = PeResources.Id.of(PeResources.RT_GROUP_ICON);
        tree.remove(groupType, id);
        tree.put(groupType, id, PeResources.LANGUAGE_NEUTRAL, group.array());
        for (PeResources.Id alias : aliases) {
            tree.remove(groupType, alias);
            tree.put(groupType, alias, PeResources.LANGUAGE_NEUTRAL, group.array());
        }
    }

    static long align(long value, long alignment) {
        return (value + alignment - 1) / alignment * alignment;
    }

    /** The header fields the writer reads and patches, on top of the validated headers. */
    private static final class Headers {
        final PeHeaders pe;
        final int peOffset;
        final int optional;
        final int sectionTable;
        int sectionCount;
        final long sectionAlignment;
        final long fileAlignment;
        long initializedDataSize;
        final long sizeOfHeaders;
        final long resourceRva;
        private final List<PeHeaders.Section> sections;

        Headers(byte[] image) throws PackerException {
            pe = new PeHeaders(image, image.length, "the stub");
            peOffset = pe.peOffset;
            optional = pe.optional;
            sectionTable = pe.sectionTable;
            sectionCount = pe.sections.size();
            sectionAlignment = pe.sectionAlignment;
            fileAlignment = pe.fileAlignment;
            initializedDataSize = pe.initializedDataSize;
            sizeOfHeaders = pe.sizeOfHeaders;
            sections = pe.sections;
            if (pe.directoryCount <= RESOURCE_DIRECTORY) {
                throw new PackerException("the stub's optional header has no resource directory entry");
            }
            resourceRva = pe.directoryEntry(RESOURCE_DIRECTORY)[0];
        }

        int directory(int index) {
            return pe.directory(index);
        }

        long offsetOf(long rva) {
            for (int i = 0; i < sectionCount; i++) {
                PeHeaders.Section s = sections.get(i);
                if (rva >= s.rva && rva < s.virtualEnd() && rva - s.rva < s.rawSize) {
                    return s.rawPointer + (rva - s.rva);
                }
            }
            return -1;
        }

        /** The raw size of the section whose data holds an RVA; bounds the resource walk. */
        long sectionBytesFrom(long rva) {
            for (int i = 0; i < sectionCount; i++) {
                PeHeaders.Section s = sections.get(i);
                if (rva >= s.rva && rva < s.virtualEnd() && rva - s.rva < s.rawSize) {
                    return s.rawSize - (rva - s.rva);
                }
            }
            return 0;
        }

        /** The last section-table entry holds the resource directory and ends the raw data. */
        boolean lastHoldsResources() {
            PeHeaders.Section last = sections.get(sectionCount - 1);
            return resourceRva >= last.rva && resourceRva < last.virtualEnd() && last.rawEnd() == rawEnd();
        }

        void dropLastSection() {
            sectionCount--;
            initializedDataSize = Math.max(0, initializedDataSize - sections.get(sectionCount).rawSize);
        }

        long rawEnd() {
            long end = 0;
            for (int i = 0; i < sectionCount; i++) {
                PeHeaders.Section s = sections.get(i);
                if (s.rawSize != 0) {
                    end = Math.max(end, s.rawEnd());
                }
            }
            return end;
        }

        long virtualEnd() {
            long end = 0;
            for (int i = 0; i < sectionCount; i++) {
                end = Math.max(end, sections.get(i).virtualEnd());
            }
            return end;
        }

        /** Section headers must end before the first section's raw data and within SizeOfHeaders. */
        long headerLimit() {
            long limit = sizeOfHeaders;
            for (int i = 0; i < sectionCount; i++) {
                PeHeaders.Section s = sections.get(i);
                if (s.rawSize != 0) {
                    limit = Math.min(limit, s.rawPointer);
                }
            }
            return limit;
        }
    }
}
