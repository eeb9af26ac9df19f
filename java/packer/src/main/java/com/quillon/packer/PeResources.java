package com.quillon.packer;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashSet;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Set;
import java.util.TreeMap;

/**
 * The resource tree of a Windows executable (type, name, language, bytes): read from an
 * existing resource section and laid out as a new one.
 */
public final class PeResources {

    public static final int RT_ICON = 3;
    public static final int RT_BITMAP = 2;
    public static final int RT_RCDATA = 10;
    public static final int RT_GROUP_ICON = 14;
    /** Resources written by the packer carry no particular language. */
    public static final int LANGUAGE_NEUTRAL = 0;

    private static final int DIRECTORY_SIZE = 16;
    private static final int ENTRY_SIZE = 8;
    private static final int DATA_ENTRY_SIZE = 16;
    private static final int HIGH_BIT = 0x80000000;
    private static final int MAX_DEPTH = 3;

    /** A resource type or name: a number, or a name that the loader compares case-insensitively. */
    public static final class Id implements Comparable<Id> {
        private final int number;
        private final String name;

        private Id(int number, String name) {
            this.number = number;
            this.name = name;
        }

        public static Id of(int number) {
            if (number < 1 || number > 0xFFFF) {
                throw new IllegalArgumentException("a resource number lies between 1 and 65535, not " + number);
            }
            return new Id(number, null);
        }

        /** Names are stored in upper case, as resource compilers do, so that lookups find them. */
        public static Id of(String name) {
            if (name.isEmpty() || name.length() > 0xFFFF) {
                throw new IllegalArgumentException("a resource name must have 1 to 65535 characters");
            }
            return new Id(0, name.toUpperCase(Locale.ROOT));
        }

        public boolean isName() {
            return name != null;
        }

        public int number() {
            return number;
        }

        public String name() {
            return name;
        }

        /** Named entries come first, ordered by name, then numbered ones in ascending order. */
        @Override
        public int compareTo(Id other) {
            if (isName() != other.isName()) {
                return isName() ? -1 : 1;
            }
            return isName() ? name.compareTo(other.name) : Integer.compare(number, other.number);
        }

        @Override
        public boolean equals(Object o) {
            return o instanceof Id && compareTo((Id) o) == 0;
        }

        @Override
        public int hashCode() {
            return isName() ? name.hashCode() : number;
        }

        @Override
        public String toString() {
            return isName() ? "\"" + name + "\"" : Integer.toString(number);
        }
    }

    /** One resource as it lies in the tree. */
    public static final class Entry {
        public final Id type;
        public final Id name;
        public final int language;
        public final byte[] data;

        Entry(Id type, Id name, int language, byte[] data) {
            this.type = type;
            this.name = name;
            this.language = language;
            this.data = data;
        }
    }

    /** Maps an RVA of the image to a file offset; -1 when no section's raw data holds it. */
    public interface RvaMapper {
        long offsetOf(long rva);
    }

    private final TreeMap<Id, TreeMap<Id, TreeMap<Integer, byte[]>>> tree = new TreeMap<>();

    public PeResources() {
    }

    /**
     * Reads the tree whose root directory lies at {@code rootRva}. Offsets inside the tree are
     * relative to the root, data entries point at RVAs. The walk stays inside the
     * {@code treeBytes} that follow the root, visits no directory twice and reads no more
     * entries than those bytes can hold, so a crafted tree cannot make it loop or explode.
     */
    public static PeResources read(byte[] image, long rootRva, RvaMapper mapper, long treeBytes)
            throws PackerException {
        long root = mapper.offsetOf(rootRva);
        if (root < 0) {
            throw new PackerException("the resource directory at RVA " + rootRva + " lies outside the sections");
        }
        PeResources resources = new PeResources();
        Walk walk = new Walk(root, Math.min(treeBytes, image.length - root), image.length);
        try {
            ByteBuffer b = ByteBuffer.wrap(image).order(ByteOrder.LITTLE_ENDIAN);
            resources.readDirectory(b, walk, 0, new Id[MAX_DEPTH], mapper, 0);
        } catch (IndexOutOfBoundsException | IllegalArgumentException e) {
            throw new PackerException("the stub's resource section is damaged (" + e.getMessage() + ")");
        }
        return resources;
    }

    /** The bounds of one walk over a resource tree. */
    private static final class Walk {
        final long root;
        final long size;
        final Set<Long> visited = new HashSet<>();
        long entriesLeft;
        /** Resources share no bytes in a sound tree, so together they fit in the file. */
        long dataLeft;

        Walk(long root, long size, long fileLength) {
            this.dataLeft = fileLength;
            this.root = root;
            this.size = Math.max(0, size);
            this.entriesLeft = this.size / ENTRY_SIZE;
        }

        /** The absolute index of {@code length} bytes at {@code offset} into the tree, checked. */
        int at(long offset, long length) throws PackerException {
            if (offset < 0 || offset + length > size) {
                throw new PackerException("the stub's resource tree points outside its section (offset " + offset
                        + ")");
            }
            return (int) (root + offset);
        }
    }

    private void readDirectory(ByteBuffer b, Walk walk, long offset, Id[] path, RvaMapper mapper, int depth)
            throws PackerException {
        if (!walk.visited.add(offset)) {
            throw new PackerException("the stub's resource tree visits the directory at offset " + offset + " twice");
        }
        int at = walk.at(offset, DIRECTORY_SIZE);
        int count = (b.getShort(at + 12) & 0xFFFF) + (b.getShort(at + 14) & 0xFFFF);
        walk.at(offset + DIRECTORY_SIZE, (long) ENTRY_SIZE * count);
        walk.entriesLeft -= count;
        if (walk.entriesLeft < 0) {
            throw new PackerException("the stub's resource tree has more entries than its section can hold");
        }
        for (int i = 0; i < count; i++) {
            int entry = at + DIRECTORY_SIZE + ENTRY_SIZE * i;
            int nameField = b.getInt(entry);
            int target = b.getInt(entry + 4);
            Id id;
            if ((nameField & HIGH_BIT) != 0) {
                int string = walk.at(nameField & ~HIGH_BIT, 2);
                int length = b.getShort(string) & 0xFFFF;
                if (length == 0) {
                    throw new PackerException("the stub's resource tree has an empty name");
                }
                walk.at((nameField & ~HIGH_BIT) + 2, 2L * length);
                char[] chars = new char[length];
                for (int c = 0; c < length; c++) {
                    chars[c] = b.getChar(string + 2 + 2 * c);
                }
                id = depth < 2 ? Id.of(new String(chars)) : null;
            } else {
                int number = nameField & 0xFFFF;
                if (depth < 2 && number == 0) {
                    throw new PackerException("the stub's resource tree has an entry numbered 0");
                }
                id = depth < 2 ? Id.of(number) : null;
            }
            boolean isDirectory = (target & HIGH_BIT) != 0;
            if (depth < 2) {
                if (!isDirectory) {
                    throw new PackerException("the stub's resource tree has data where a directory belongs");
                }
                path[depth] = id;
                readDirectory(b, walk, target & ~HIGH_BIT, path, mapper, depth + 1);
            } else {
                if (isDirectory) {
                    throw new PackerException("the stub's resource tree is deeper than type, name and language");
                }
                int data = walk.at(target & 0xFFFFFFFFL, DATA_ENTRY_SIZE);
                long rva = b.getInt(data) & 0xFFFFFFFFL;
                long size = b.getInt(data + 4) & 0xFFFFFFFFL;
                long start = mapper.offsetOf(rva);
                if (start < 0 || start + size > b.capacity()) {
                    throw new PackerException("a resource of the stub lies outside the file");
                }
                walk.dataLeft -= size;
                if (walk.dataLeft < 0) {
                    throw new PackerException("the stub's resources together are larger than the file");
                }
                byte[] bytes = Arrays.copyOfRange(b.array(), (int) start, (int) (start + size));
                put(path[0], path[1], nameField & 0xFFFF, bytes);
            }
        }
    }

    /** Adds or replaces one language of a resource. */
    public void put(Id type, Id name, int language, byte[] data) {
        tree.computeIfAbsent(type, t -> new TreeMap<>()).computeIfAbsent(name, n -> new TreeMap<>())
                .put(language, data.clone());
    }

    /** Drops every language of a resource; true when there was one. */
    public boolean remove(Id type, Id name) {
        TreeMap<Id, TreeMap<Integer, byte[]>> names = tree.get(type);
        if (names == null || names.remove(name) == null) {
            return false;
        }
        if (names.isEmpty()) {
            tree.remove(type);
        }
        return true;
    }

    /** The bytes of a resource in the given language, or null. */
    public byte[] get(Id type, Id name, int language) {
        TreeMap<Id, TreeMap<Integer, byte[]>> names = tree.get(type);
        TreeMap<Integer, byte[]> languages = names == null ? null : names.get(name);
        byte[] data = languages == null ? null : languages.get(language);
        return data == null ? null : data.clone();
    }

    /** The highest number among the names of a type, 0 when it has none. */
    public int highestNumber(Id type) {
        int highest = 0;
        TreeMap<Id, TreeMap<Integer, byte[]>> names = tree.get(type);
        if (names != null) {
            for (Id name : names.keySet()) {
                if (!name.isName()) {
                    highest = Math.max(highest, name.number());
                }
            }
        }
        return highest;
    }

    public boolean isEmpty() {
        return tree.isEmpty();
    }

    /** Every resource, in the order of the tree. */
    public List<Entry> entries() {
        List<Entry> list = new ArrayList<>();
        for (Map.Entry<Id, TreeMap<Id, TreeMap<Integer, byte[]>>> type : tree.entrySet()) {
            for (Map.Entry<Id, TreeMap<Integer, byte[]>> name : type.getValue().entrySet()) {
                for (Map.Entry<Integer, byte[]> language : name.getValue().entrySet()) {
                    list.add(new Entry(type.getKey(), name.getKey(), language.getKey(), language.getValue().clone()));
                }
            }
        }
        return list;
    }

    /**
     * Lays the tree out as the raw data of a resource section that will be loaded at
     * {@code sectionRva}: the three directory levels, the name strings, the data entries and
     * the data, each datum 8-byte aligned.
     */
    public byte[] build(long sectionRva) {
        // First pass: where everything goes.
        int directories = directorySize(tree.size());
        for (TreeMap<Id, TreeMap<Integer, byte[]>> names : tree.values()) {
            directories += directorySize(names.size());
            for (TreeMap<Integer, byte[]> languages : names.values()) {
                directories += directorySize(languages.size());
            }
        }
        Map<String, Integer> stringOffsets = new LinkedHashMap<>();
        int strings = directories;
        for (Map.Entry<Id, TreeMap<Id, TreeMap<Integer, byte[]>>> type : tree.entrySet()) {
            strings = placeString(type.getKey(), stringOffsets, strings);
            for (Id name : type.getValue().keySet()) {
                strings = placeString(name, stringOffsets, strings);
            }
        }
        int dataEntries = align(strings, 4);
        int count = entries().size();
        int data = align(dataEntries + DATA_ENTRY_SIZE * count, 8);
        int end = data;
        for (Entry e : entries()) {
            end = align(end + e.data.length, 8);
        }

        // Second pass: write.
        ByteBuffer b = ByteBuffer.allocate(end).order(ByteOrder.LITTLE_ENDIAN);
        for (Map.Entry<String, Integer> s : stringOffsets.entrySet()) {
            int at = s.getValue();
            b.putShort(at, (short) s.getKey().length());
            for (int i = 0; i < s.getKey().length(); i++) {
                b.putChar(at + 2 + 2 * i, s.getKey().charAt(i));
            }
        }
        int nextDirectory = directorySize(tree.size());
        int nextDataEntry = dataEntries;
        int nextData = data;
        int typeEntry = writeDirectoryHeader(b, 0, tree.keySet());
        for (Map.Entry<Id, TreeMap<Id, TreeMap<Integer, byte[]>>> type : tree.entrySet()) {
            int typeDirectory = nextDirectory;
            nextDirectory += directorySize(type.getValue().size());
            writeEntry(b, typeEntry, type.getKey(), stringOffsets, HIGH_BIT | typeDirectory);
            typeEntry += ENTRY_SIZE;
            int nameEntry = writeDirectoryHeader(b, typeDirectory, type.getValue().keySet());
            for (Map.Entry<Id, TreeMap<Integer, byte[]>> name : type.getValue().entrySet()) {
                int nameDirectory = nextDirectory;
                nextDirectory += directorySize(name.getValue().size());
                writeEntry(b, nameEntry, name.getKey(), stringOffsets, HIGH_BIT | nameDirectory);
                nameEntry += ENTRY_SIZE;
                int languageEntry = nameDirectory + DIRECTORY_SIZE;
                b.putShort(nameDirectory + 14, (short) name.getValue().size());
                for (Map.Entry<Integer, byte[]> language : name.getValue().entrySet()) {
                    b.putInt(languageEntry, language.getKey());
                    b.putInt(languageEntry + 4, nextDataEntry);
                    languageEntry += ENTRY_SIZE;
                    byte[] bytes = language.getValue();
                    b.putInt(nextDataEntry, (int) (sectionRva + nextData));
                    b.putInt(nextDataEntry + 4, bytes.length);
                    nextDataEntry += DATA_ENTRY_SIZE;
                    b.position(nextData);
                    b.put(bytes);
                    nextData = align(nextData + bytes.length, 8);
                }
            }
        }
        return b.array();
    }

    private static int directorySize(int entries) {
        return DIRECTORY_SIZE + ENTRY_SIZE * entries;
    }

    private static int placeString(Id id, Map<String, Integer> offsets, int next) {
        if (!id.isName() || offsets.containsKey(id.name())) {
            return next;
        }
        offsets.put(id.name(), next);
        return align(next + 2 + 2 * id.name().length(), 2);
    }

    /** Writes a directory's header; returns where its first entry goes. */
    private static int writeDirectoryHeader(ByteBuffer b, int at, Iterable<Id> ids) {
        int named = 0;
        int numbered = 0;
        for (Id id : ids) {
            if (id.isName()) {
                named++;
            } else {
                numbered++;
            }
        }
        b.putShort(at + 12, (short) named);
        b.putShort(at + 14, (short) numbered);
        return at + DIRECTORY_SIZE;
    }

    private static void writeEntry(ByteBuffer b, int at, Id id, Map<String, Integer> strings, int target) {
        b.putInt(at, id.isName() ? HIGH_BIT | strings.get(id.name()) : id.number());
        b.putInt(at + 4, target);
    }

    static int align(int value, int alignment) {
        return (value + alignment - 1) / alignment * alignment;
    }
}
