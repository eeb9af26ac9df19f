package com.quillon.packer;

import java.nio.file.Path;
import java.security.KeyStore;
import java.util.Map;
import net.jsign.AuthenticodeSigner;
import net.jsign.KeyStoreBuilder;
import net.jsign.pe.PEFile;

/**
 * Authenticode signing of a packed launcher. The certificate table goes behind the payload,
 * which ends on an 8-byte boundary, so the launcher, the integrity check (its covered length
 * stops before the table) and the Java side's reader of the unextracted data (it stops where the
 * security directory says the table starts) all see the bytes that were packed.
 */
final class Signing implements PayloadWriter.Finisher {

    private final Path keystore;
    private final String storeType;
    private final String alias;
    private final String password;
    private final String timestampUrl;

    private Signing(Path keystore, String storeType, String alias, String password, String timestampUrl) {
        this.keystore = keystore;
        this.storeType = storeType;
        this.alias = alias;
        this.password = password;
        this.timestampUrl = timestampUrl;
    }

    /** The {@code "signing"} setting; null when it is absent. */
    static Signing read(Object value, ProductSettings s) throws PackerException {
        if (value == null) {
            return null;
        }
        Map<String, Object> o = s.object(value, "signing");
        s.allowOnly(o, "signing", "keystore", "keystoreType", "alias", "password", "passwordEnv", "timestampUrl");
        Path keystore = s.file(s.requiredString(o.get("keystore"), "signing.keystore"), "signing.keystore");
        String alias = s.requiredString(o.get("alias"), "signing.alias");
        String password = s.optionalString(o.get("password"), "signing.password");
        String variable = s.optionalString(o.get("passwordEnv"), "signing.passwordEnv");
        if (password != null && variable != null) {
            throw s.fail("signing: give \"password\" or \"passwordEnv\", not both");
        }
        if (variable != null) {
            password = System.getenv(variable);
            if (password == null) {
                throw s.fail("signing.passwordEnv: the environment variable " + variable + " is not set");
            }
        }
        if (password == null) {
            throw s.fail("signing needs \"password\" or \"passwordEnv\"");
        }
        String type = s.optionalString(o.get("keystoreType"), "signing.keystoreType");
        if (type != null && !type.equals("PKCS12") && !type.equals("JKS")) {
            throw s.fail("signing.keystoreType must be \"PKCS12\" or \"JKS\"");
        }
        return new Signing(keystore, type, alias, password, s.optionalString(o.get("timestampUrl"),
                "signing.timestampUrl"));
    }

    @Override
    public void finish(Path written) throws PackerException {
        AuthenticodeSigner signer;
        try {
            KeyStoreBuilder builder = new KeyStoreBuilder().keystore(keystore.toFile()).storepass(password);
            if (storeType != null) {
                builder.storetype(storeType);
            }
            KeyStore store = builder.build();
            if (!store.isKeyEntry(alias)) {
                throw new PackerException("signing: the keystore " + keystore + " has no key named \"" + alias + "\"");
            }
            signer = new AuthenticodeSigner(store, alias, password).withTimestamping(timestampUrl != null);
            if (timestampUrl != null) {
                signer.withTimestampingAuthority(timestampUrl);
            }
        } catch (PackerException e) {
            throw e;
        } catch (Exception e) {
            throw new PackerException("signing: cannot use the keystore " + keystore + ": " + message(e), e);
        }
        try (PEFile pe = new PEFile(written.toFile())) {
            signer.sign(pe);
        } catch (Exception e) {
            throw new PackerException("signing failed: " + message(e), e);
        }
    }

    private static String message(Throwable e) {
        String m = e.getMessage();
        return m == null || m.isEmpty() ? e.getClass().getSimpleName() : m;
    }
}
