package com.quillon.packer;

import static com.quillon.packer.TestFiles.config;
import static com.quillon.packer.TestFiles.file;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.RandomAccessFile;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Arrays;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** Signing by the packer: where the signature lands and what still reads the same. */
class SigningTest {

    @TempDir
    static Path keys;

    @TempDir
    Path dir;

    private static Path keystore;

    @BeforeAll
    static void makeKeystore() throws Exception {
        keystore = keys.resolve("signing.p12");
        Path keytool = Paths.get(System.getProperty("java.home"), "bin", "keytool");
        Process p = new ProcessBuilder(keytool.toString(), "-genkeypair", "-keystore", keystore.toString(),
                "-storetype", "PKCS12", "-storepass", "secret", "-keypass", "secret", "-alias", "release",
                "-keyalg", "RSA", "-keysize", "2048", "-validity", "3650", "-dname", "CN=Signing Test")
                .redirectErrorStream(true).redirectOutput(keys.resolve("keytool.log").toFile()).start();
        assertEquals(0, p.waitFor(), new String(Files.readAllBytes(keys.resolve("keytool.log"))));
    }

    private Path pack(String signing, String name) throws Exception {
        Path stub = Files.write(dir.resolve("stub.exe"), BadInputTest.stub());
        file(dir, "data.bin", new byte[] {1, 2, 3, 4, 5});
        Path config = config(dir, "{'applicationName': 'Signed', 'integrityCheck': true, 'unextractedData': 'data.bin',"
                + " 'signing': " + signing.replace("KEYSTORE", keystore.toString().replace("\\", "\\\\")) + "}");
        Path out = dir.resolve(name);
        Packer.pack(config, stub, out);
        return out;
    }

    @Test
    void theSignatureFollowsThePayloadAndChangesNothingElse() throws Exception {
        Path signed = pack("{'keystore': 'KEYSTORE', 'alias': 'release', 'password': 'secret'}", "signed.exe");
        PeImage image = PeImage.read(signed);
        PayloadReader.Contents c = PayloadReader.read(signed);
        long payloadEnd = c.payloadOffset + PayloadWriter.HEADER_SIZE + c.coveredLength;
        assertEquals(payloadEnd, image.certificateOffset(), "no padding between payload and certificate table");
        assertEquals(0, payloadEnd % 8);
        assertEquals(Files.size(signed), image.certificateOffset() + image.certificateSize());
        assertTrue(c.crcMatches(), "the covered length stops before the signature");
        assertEquals(5, c.unextractedLength);
        byte[] bytes = Files.readAllBytes(signed);
        assertArrayEquals(new byte[] {1, 2, 3, 4, 5},
                Arrays.copyOfRange(bytes, (int) c.unextractedOffset, (int) (c.unextractedOffset + 5)));
        try (RandomAccessFile f = new RandomAccessFile(signed.toFile(), "r")) {
            int field = image.headers().checksumOffset();
            long stored = (bytes[field] & 0xFFL) | (bytes[field + 1] & 0xFFL) << 8 | (bytes[field + 2] & 0xFFL) << 16
                    | (bytes[field + 3] & 0xFFL) << 24;
            assertEquals(PeChecksum.compute(f, field), stored, "CheckSum after signing");
        }
        Path again = pack("{'keystore': 'KEYSTORE', 'alias': 'release', 'password': 'secret'}", "again.exe");
        assertArrayEquals(bytes, Files.readAllBytes(again), "signing without a time stamp is reproducible");

        // A signed launcher is no stub: packing it again would cut the signature off.
        PackerException e = assertThrows(PackerException.class, () -> PeImage.read(signed).checkPackable());
        assertTrue(e.getMessage().contains("sign the result"), e.getMessage());
    }

    @Test
    void aFailedSigningLeavesNoOutput() throws Exception {
        PackerException e = assertThrows(PackerException.class,
                () -> pack("{'keystore': 'KEYSTORE', 'alias': 'release', 'password': 'wrong'}", "out.exe"));
        assertTrue(e.getMessage().startsWith("signing: cannot use the keystore"), e.getMessage());
        assertFalse(Files.exists(dir.resolve("out.exe")));
        try (java.util.stream.Stream<Path> left = Files.list(dir)) {
            assertEquals(0, left.filter(p -> p.getFileName().toString().endsWith(".tmp")).count());
        }
    }
}
