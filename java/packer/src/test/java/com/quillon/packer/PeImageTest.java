package com.quillon.packer;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.function.Consumer;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

class PeImageTest {

    @TempDir
    Path dir;

    static Stream<Arguments> layouts() {
        return Stream.of(
                Arguments.of("PE32+, one section", PeFixture.stub(), 0x400L),
                Arguments.of("PE32, one section", PeFixture.stub().pe32(), 0x400L),
                Arguments.of("two sections", PeFixture.stub().section(0x200, 0x200).section(0x400, 0x600), 0xA00L),
                Arguments.of("old payload behind the sections",
                        PeFixture.stub().trailer(new byte[] {(byte) 0xD5, 0x13, (byte) 0xE4, (byte) 0xE8, 1, 2}),
                        0x400L));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("layouts")
    void payloadStartsBehindTheLastSectionsRawData(String name, PeFixture fixture, long expected) throws Exception {
        PeImage image = PeImage.read(fixture.write(dir.resolve("stub.exe")));
        image.checkPackable();
        assertEquals(expected, image.payloadOffset());
    }

    static Stream<Arguments> notExecutables() {
        return Stream.of(
                Arguments.of("empty file", (Consumer<ByteBuffer>) b -> b.limit(0), "no MZ signature"),
                Arguments.of("no MZ", (Consumer<ByteBuffer>) b -> b.put(0, (byte) 'Z'), "no MZ signature"),
                Arguments.of("PE offset outside the file", (Consumer<ByteBuffer>) b -> b.putInt(0x3C, 0x7FFFFFF0),
                        "lies outside the file"),
                Arguments.of("no PE signature", (Consumer<ByteBuffer>) b -> b.put(PeFixture.PE_OFFSET, (byte) 'X'),
                        "no PE signature at offset 128"),
                Arguments.of("no sections", (Consumer<ByteBuffer>) b -> b.putShort(PeFixture.PE_OFFSET + 6, (short) 0),
                        "no sections"),
                Arguments.of("section table past the end",
                        (Consumer<ByteBuffer>) b -> b.putShort(PeFixture.PE_OFFSET + 6, (short) 0x7000),
                        "section table runs past the end"),
                Arguments.of("raw data past the end", (Consumer<ByteBuffer>) b -> b.limit(0x300),
                        "is truncated"));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("notExecutables")
    void refusesFilesThatAreNotWholeImages(String name, Consumer<ByteBuffer> damage, String message) throws Exception {
        ByteBuffer b = ByteBuffer.wrap(PeFixture.stub().build()).order(ByteOrder.LITTLE_ENDIAN);
        damage.accept(b);
        Path file = dir.resolve("bad.exe");
        Files.write(file, Arrays.copyOf(b.array(), b.limit()));
        PackerException e = assertThrows(PackerException.class, () -> PeImage.read(file));
        assertTrue(e.getMessage().contains(message), e.getMessage());
    }

    @Test
    void refusesAFileThatCannotBeRead() {
        PackerException e = assertThrows(PackerException.class, () -> PeImage.read(dir.resolve("missing.exe")));
        assertTrue(e.getMessage().startsWith("cannot read"), e.getMessage());
    }

    static Stream<Arguments> unpackable() {
        return Stream.of(
                Arguments.of("symbol table pointer", PeFixture.stub().symbols(0x400, 0), "-s"),
                Arguments.of("symbol count", PeFixture.stub().symbols(0, 12), "strip"),
                Arguments.of("signed PE32+", PeFixture.stub().certificate(0x100), "sign the result"),
                Arguments.of("signed PE32", PeFixture.stub().pe32().certificate(0x100), "sign the result"),
                Arguments.of("last entry is not the highest",
                        PeFixture.stub().section(0x400, 0x200).section(0x200, 0x200), "payload would overwrite"),
                Arguments.of("last entry without raw data",
                        PeFixture.stub().section(0x200, 0x200).section(0, 0), "payload would overwrite"));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("unpackable")
    void refusesStubsThatPackingWouldDamage(String name, PeFixture fixture, String message) throws Exception {
        PeImage image = PeImage.read(fixture.write(dir.resolve("stub.exe")));
        PackerException e = assertThrows(PackerException.class, image::checkPackable);
        assertTrue(e.getMessage().contains(message), e.getMessage());
    }
}
