package com.quillon.maven;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Path;
import java.util.Collections;
import java.util.Map;
import org.apache.maven.plugin.MojoFailureException;
import org.apache.maven.settings.Server;
import org.apache.maven.settings.Settings;
import org.apache.maven.settings.crypto.DefaultSettingsDecrypter;
import org.apache.maven.settings.crypto.SettingsDecrypter;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.sonatype.plexus.components.cipher.DefaultPlexusCipher;
import org.sonatype.plexus.components.sec.dispatcher.DefaultSecDispatcher;

class SigningPasswordTest {

    /** Maven's own decrypter under a settings-security.xml that mvn wrote, and a password mvn encrypted. */
    private static SettingsDecrypter decrypter;
    private static String encrypted;

    @BeforeAll
    static void encryptLikeAUser(@TempDir Path dir) throws Exception {
        Path security = MavenEncryption.settingsSecurity(dir, "the master password");
        encrypted = MavenEncryption.encrypt("secret", security);
        decrypter = new DefaultSettingsDecrypter(new DefaultSecDispatcher(new DefaultPlexusCipher(),
                Collections.emptyMap(), security.toString()));
    }

    private static Signing signing(String serverId, String variable) {
        Signing s = new Signing();
        s.serverId = serverId;
        s.passwordEnvironmentVariable = variable;
        return s;
    }

    private static Settings settings(String id, String password) {
        Settings settings = new Settings();
        Server server = new Server();
        server.setId(id);
        server.setPassword(password);
        settings.addServer(server);
        return settings;
    }

    @Test
    void fromTheSettingsDecrypted() throws Exception {
        assertTrue(encrypted.startsWith("{") && !encrypted.contains("secret"), encrypted);
        assertEquals("secret", SigningPassword.resolve(signing("codesign", null), settings("codesign", encrypted),
                decrypter, Collections.emptyMap()));
        // A password kept in plain text passes through as it is.
        assertEquals("plain", SigningPassword.resolve(signing("codesign", null), settings("codesign", "plain"),
                decrypter, Collections.emptyMap()));
    }

    @Test
    void fromTheEnvironment() throws Exception {
        Map<String, String> env = Collections.singletonMap("SIGN_PW", "from env");
        assertEquals("from env", SigningPassword.resolve(signing(null, "SIGN_PW"), null, decrypter, env));
    }

    @Test
    void refusals() {
        Object[][] cases = {
            {signing(null, null), settings("x", "p"), "not neither"},
            {signing("x", "SIGN_PW"), settings("x", "p"), "not both"},
            {signing(null, "SIGN_PW"), null, "SIGN_PW that should hold the keystore password is not set"},
            {signing("other", null), settings("x", "p"), "no server \"other\""},
            {signing("x", null), settings("x", null), "server \"x\" in the Maven settings has no password"},
            // Braces and base64, but no text this master password encrypted.
            {signing("x", null), settings("x", "{AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=}"),
                "cannot decrypt the password of server \"x\""},
        };
        for (Object[] c : cases) {
            MojoFailureException e = assertThrows(MojoFailureException.class, () -> SigningPassword.resolve(
                    (Signing) c[0], (Settings) c[1], decrypter, Collections.emptyMap()));
            assertTrue(e.getMessage().startsWith("signing: ") && e.getMessage().contains((String) c[2]),
                    e.getMessage());
        }
    }
}
