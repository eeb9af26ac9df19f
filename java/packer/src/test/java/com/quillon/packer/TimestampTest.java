package com.quillon.packer;

import static com.quillon.packer.TestFiles.config;
import static com.quillon.packer.TestFiles.file;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.sun.net.httpserver.HttpServer;
import java.io.ByteArrayOutputStream;
import java.io.InputStream;
import java.io.OutputStream;
import java.math.BigInteger;
import java.net.InetAddress;
import java.net.InetSocketAddress;
import java.net.ServerSocket;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.KeyStore;
import java.security.MessageDigest;
import java.security.Signature;
import java.security.cert.X509Certificate;
import java.util.Arrays;
import java.util.Collection;
import java.util.Date;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.stream.Stream;
import org.bouncycastle.asn1.ASN1InputStream;
import org.bouncycastle.asn1.ASN1OctetString;
import org.bouncycastle.asn1.ASN1Sequence;
import org.bouncycastle.asn1.DERSet;
import org.bouncycastle.asn1.cms.Attribute;
import org.bouncycastle.asn1.cms.AttributeTable;
import org.bouncycastle.asn1.cms.CMSAttributes;
import org.bouncycastle.asn1.cms.ContentInfo;
import org.bouncycastle.asn1.cms.Time;
import org.bouncycastle.asn1.pkcs.PKCSObjectIdentifiers;
import org.bouncycastle.asn1.x500.X500Name;
import org.bouncycastle.asn1.x509.BasicConstraints;
import org.bouncycastle.asn1.x509.ExtendedKeyUsage;
import org.bouncycastle.asn1.x509.Extension;
import org.bouncycastle.asn1.x509.KeyPurposeId;
import org.bouncycastle.asn1.x509.KeyUsage;
import org.bouncycastle.cert.X509CertificateHolder;
import org.bouncycastle.cert.jcajce.JcaCertStore;
import org.bouncycastle.cert.jcajce.JcaX509CertificateConverter;
import org.bouncycastle.cert.jcajce.JcaX509v3CertificateBuilder;
import org.bouncycastle.cms.CMSProcessableByteArray;
import org.bouncycastle.cms.CMSSignedData;
import org.bouncycastle.cms.CMSSignedDataGenerator;
import org.bouncycastle.cms.DefaultSignedAttributeTableGenerator;
import org.bouncycastle.cms.SignerInformation;
import org.bouncycastle.cms.jcajce.JcaSignerInfoGeneratorBuilder;
import org.bouncycastle.operator.ContentSigner;
import org.bouncycastle.operator.jcajce.JcaContentSignerBuilder;
import org.bouncycastle.operator.jcajce.JcaDigestCalculatorProviderBuilder;
import org.bouncycastle.util.encoders.Base64;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * Signing with a time stamp, against a time-stamping server of the test's own on the loopback
 * address: its own CA and TSA certificate, answering the Authenticode time-stamp protocol that the
 * signer uses when only a URL is given.
 */
class TimestampTest {

    /** A signing time no real clock gives, so the token provably comes from this server. */
    private static final Date STAMPED = new Date(1893456000000L); // 2030-01-01T00:00:00Z

    @TempDir
    static Path keys;

    @TempDir
    Path dir;

    private static Path keystore;
    private static X509Certificate caCert;
    private static X509Certificate tsaCert;
    private static KeyPair tsaKey;

    @BeforeAll
    static void makeKeys() throws Exception {
        keystore = keys.resolve("signing.p12");
        Path keytool = Paths.get(System.getProperty("java.home"), "bin", "keytool");
        Process p = new ProcessBuilder(keytool.toString(), "-genkeypair", "-keystore", keystore.toString(),
                "-storetype", "PKCS12", "-storepass", "secret", "-keypass", "secret", "-alias", "release",
                "-keyalg", "RSA", "-keysize", "2048", "-validity", "3650", "-dname", "CN=Signing Test")
                .redirectErrorStream(true).redirectOutput(keys.resolve("keytool.log").toFile()).start();
        assertEquals(0, p.waitFor(), new String(Files.readAllBytes(keys.resolve("keytool.log"))));

        KeyPairGenerator rsa = KeyPairGenerator.getInstance("RSA");
        rsa.initialize(2048);
        KeyPair caKey = rsa.generateKeyPair();
        tsaKey = rsa.generateKeyPair();
        X500Name caName = new X500Name("CN=Test Timestamp CA");
        Date from = new Date(System.currentTimeMillis() - 86_400_000L);
        Date to = new Date(STAMPED.getTime() + 365L * 86_400_000L);
        JcaX509v3CertificateBuilder ca = new JcaX509v3CertificateBuilder(caName, BigInteger.ONE, from, to, caName,
                caKey.getPublic());
        ca.addExtension(Extension.basicConstraints, true, new BasicConstraints(true));
        ca.addExtension(Extension.keyUsage, true, new KeyUsage(KeyUsage.keyCertSign | KeyUsage.cRLSign));
        caCert = certificate(ca, caKey);
        JcaX509v3CertificateBuilder tsa = new JcaX509v3CertificateBuilder(caName, BigInteger.valueOf(2), from, to,
                new X500Name("CN=Test Timestamp Authority"), tsaKey.getPublic());
        tsa.addExtension(Extension.basicConstraints, true, new BasicConstraints(false));
        tsa.addExtension(Extension.keyUsage, true, new KeyUsage(KeyUsage.digitalSignature));
        tsa.addExtension(Extension.extendedKeyUsage, true, new ExtendedKeyUsage(KeyPurposeId.id_kp_timeStamping));
        tsaCert = certificate(tsa, caKey);
    }

    private static X509Certificate certificate(JcaX509v3CertificateBuilder builder, KeyPair issuer) throws Exception {
        ContentSigner signer = new JcaContentSignerBuilder("SHA256withRSA").build(issuer.getPrivate());
        return new JcaX509CertificateConverter().getCertificate(builder.build(signer));
    }

    /**
     * The Authenticode time-stamp exchange: a base64 request whose content is the signature value
     * of the signer info, answered by a base64 PKCS#7 signed by the TSA over exactly those bytes.
     */
    private static byte[] answer(byte[] body) throws Exception {
        ASN1Sequence request = ASN1Sequence.getInstance(Base64.decode(body));
        ContentInfo content = ContentInfo.getInstance(request.getObjectAt(1));
        byte[] signature = ASN1OctetString.getInstance(content.getContent()).getOctets();
        AttributeTable time = new AttributeTable(new Attribute(CMSAttributes.signingTime, new DERSet(new Time(STAMPED))));
        CMSSignedDataGenerator generator = new CMSSignedDataGenerator();
        generator.addSignerInfoGenerator(new JcaSignerInfoGeneratorBuilder(new JcaDigestCalculatorProviderBuilder().build())
                .setSignedAttributeGenerator(new DefaultSignedAttributeTableGenerator(time))
                .build(new JcaContentSignerBuilder("SHA256withRSA").build(tsaKey.getPrivate()), tsaCert));
        generator.addCertificates(new JcaCertStore(Arrays.asList(tsaCert, caCert)));
        return Base64.encode(generator.generate(new CMSProcessableByteArray(signature), true).getEncoded());
    }

    private interface Reply {
        byte[] to(byte[] body) throws Exception;
    }

    /** A server on the loopback address whose every POST gets {@code reply}, or a 500 when that is null. */
    private static HttpServer server(Reply reply, AtomicInteger requests) throws Exception {
        HttpServer server = HttpServer.create(new InetSocketAddress(InetAddress.getLoopbackAddress(), 0), 0);
        server.createContext("/", exchange -> {
            requests.incrementAndGet();
            try (InputStream in = exchange.getRequestBody(); OutputStream out = exchange.getResponseBody()) {
                ByteArrayOutputStream body = new ByteArrayOutputStream();
                byte[] buffer = new byte[8192];
                for (int n; (n = in.read(buffer)) > 0;) {
                    body.write(buffer, 0, n);
                }
                byte[] response;
                try {
                    response = reply == null ? null : reply.to(body.toByteArray());
                } catch (Exception e) {
                    response = null;
                }
                if (response == null) {
                    exchange.sendResponseHeaders(500, -1);
                } else {
                    exchange.getResponseHeaders().set("Content-Type", "application/octet-stream");
                    exchange.sendResponseHeaders(200, response.length);
                    out.write(response);
                }
            }
        });
        server.start();
        return server;
    }

    private static String url(HttpServer server) {
        return "http://127.0.0.1:" + server.getAddress().getPort() + "/tsa";
    }

    private Path pack(String timestampUrl, String name) throws Exception {
        Path stub = Files.write(dir.resolve("stub.exe"), BadInputTest.stub());
        file(dir, "data.bin", new byte[] {1, 2, 3, 4, 5});
        Path config = config(dir, "{'applicationName': 'Stamped', 'integrityCheck': true, 'unextractedData': 'data.bin',"
                + " 'signing': {'keystore': '" + keystore.toString().replace("\\", "\\\\")
                + "', 'alias': 'release', 'password': 'secret', 'timestampUrl': '" + timestampUrl + "'}}");
        Path out = dir.resolve(name);
        Packer.pack(config, stub, out);
        return out;
    }

    @Test
    void theSignatureCarriesACounterSignatureOfTheTimestampAuthority() throws Exception {
        AtomicInteger requests = new AtomicInteger();
        HttpServer server = server(TimestampTest::answer, requests);
        Path signed;
        try {
            signed = pack(url(server), "stamped.exe");
        } finally {
            server.stop(0);
        }
        assertEquals(1, requests.get(), "one time-stamp request");

        PeImage image = PeImage.read(signed);
        assertTrue(image.certificateSize() > 8, "a certificate table");
        byte[] bytes = Files.readAllBytes(signed);
        // WIN_CERTIFICATE: length, revision, type (2 = PKCS#7), then the signed data
        int at = (int) image.certificateOffset();
        assertEquals(2, (bytes[at + 6] & 0xFF) | (bytes[at + 7] & 0xFF) << 8, "certificate type PKCS#7");
        int length = (bytes[at] & 0xFF) | (bytes[at + 1] & 0xFF) << 8 | (bytes[at + 2] & 0xFF) << 16
                | (bytes[at + 3] & 0xFF) << 24;
        assertTrue(at + length <= bytes.length, "certificate entry inside the file");
        // the entry is padded to 8 bytes; the DER object carries its own length
        CMSSignedData signedData = new CMSSignedData(ContentInfo.getInstance(
                new ASN1InputStream(Arrays.copyOfRange(bytes, at + 8, at + length)).readObject()));
        SignerInformation signer = signedData.getSignerInfos().getSigners().iterator().next();
        assertNotNull(signer.getUnsignedAttributes(), "unsigned attributes of the signer info");
        assertNotNull(signer.getUnsignedAttributes().get(PKCSObjectIdentifiers.pkcs_9_at_counterSignature),
                "an Authenticode counter-signature");

        Collection<SignerInformation> counter = signer.getCounterSignatures().getSigners();
        assertEquals(1, counter.size());
        SignerInformation stamp = counter.iterator().next();
        X509CertificateHolder tsa = new X509CertificateHolder(tsaCert.getEncoded());
        assertTrue(stamp.getSID().match(tsa), "counter-signed by the test's TSA: " + stamp.getSID().getIssuer());
        // Authenticode time stamps carry a content type, which the strict counter-signature check of
        // the library refuses: check by hand that the TSA signed a digest of this signer's signature.
        Attribute digest = stamp.getSignedAttributes().get(CMSAttributes.messageDigest);
        assertArrayEquals(MessageDigest.getInstance("SHA-256").digest(signer.getSignature()),
                ASN1OctetString.getInstance(digest.getAttrValues().getObjectAt(0)).getOctets(),
                "the time stamp covers the signature value");
        Signature check = Signature.getInstance("SHA256withRSA");
        check.initVerify(tsaCert.getPublicKey());
        check.update(stamp.getEncodedSignedAttributes());
        assertTrue(check.verify(stamp.getSignature()), "signed with the TSA key");
        Attribute time = stamp.getSignedAttributes().get(CMSAttributes.signingTime);
        assertEquals(STAMPED, Time.getInstance(time.getAttrValues().getObjectAt(0)).getDate());
        assertFalse(signedData.getCertificates().getMatches(stamp.getSID()).isEmpty(),
                "the TSA certificate travels in the signature");

        // the time stamp changes nothing the launcher or the application reads
        PayloadReader.Contents c = PayloadReader.read(signed);
        assertEquals(c.payloadOffset + PayloadWriter.HEADER_SIZE + c.coveredLength, image.certificateOffset());
        assertTrue(c.crcMatches());

        osslsigncodeVerifies(signed);
    }

    /** The independent check, where the tool is installed (CI installs it). */
    private void osslsigncodeVerifies(Path signed) throws Exception {
        Path tool = Stream.of("/usr/bin/osslsigncode", "/usr/local/bin/osslsigncode").map(Paths::get)
                .filter(Files::isExecutable).findFirst().orElse(null);
        if (tool == null) {
            return;
        }
        KeyStore store = KeyStore.getInstance("PKCS12");
        try (InputStream in = Files.newInputStream(keystore)) {
            store.load(in, "secret".toCharArray());
        }
        Path signerCa = pem(dir.resolve("signer.pem"), (X509Certificate) store.getCertificate("release"));
        Path tsaCa = pem(dir.resolve("tsa-ca.pem"), caCert);
        Path log = dir.resolve("osslsigncode.log");
        Process p = new ProcessBuilder(tool.toString(), "verify", "-in", signed.toString(), "-CAfile",
                signerCa.toString(), "-TSA-CAfile", tsaCa.toString())
                .redirectErrorStream(true).redirectOutput(log.toFile()).start();
        int code = p.waitFor();
        String out = new String(Files.readAllBytes(log));
        assertEquals(0, code, out);
        assertTrue(out.contains("Timestamp Server Signature verification: ok"), out);
        assertTrue(out.contains("Subject: /CN=Test Timestamp Authority"), out);
    }

    private static Path pem(Path file, X509Certificate certificate) throws Exception {
        String body = java.util.Base64.getMimeEncoder(64, new byte[] {'\n'}).encodeToString(certificate.getEncoded());
        return Files.write(file, ("-----BEGIN CERTIFICATE-----\n" + body + "\n-----END CERTIFICATE-----\n")
                .getBytes(java.nio.charset.StandardCharsets.US_ASCII));
    }

    @Test
    void aTimestampServerThatFailsGivesOneLineAndNoOutput() throws Exception {
        int closed;
        try (ServerSocket s = new ServerSocket(0, 1, InetAddress.getLoopbackAddress())) {
            closed = s.getLocalPort();
        }
        AtomicInteger requests = new AtomicInteger();
        HttpServer failing = server(null, requests);
        try {
            for (String url : new String[] {url(failing), "http://127.0.0.1:" + closed + "/tsa"}) {
                String name = "out" + url.hashCode() + ".exe";
                PackerException e = assertThrows(PackerException.class, () -> pack(url, name), url);
                assertTrue(e.getMessage().startsWith("signing failed: "), e.getMessage());
                assertFalse(e.getMessage().contains("\n"), "one line: " + e.getMessage());
                assertFalse(Files.exists(dir.resolve(name)), url);
                try (Stream<Path> left = Files.list(dir)) {
                    assertEquals(0, left.filter(p -> p.getFileName().toString().endsWith(".tmp")).count(), url);
                }
            }
        } finally {
            failing.stop(0);
        }
        assertTrue(requests.get() > 0, "the failing server was asked");
    }
}
