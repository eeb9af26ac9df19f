package com.quillon.maven;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.Collections;
import java.util.List;
import java.util.Map;
import org.apache.maven.plugin.MojoFailureException;
import org.apache.maven.settings.Server;
import org.apache.maven.settings.Settings;
import org.apache.maven.settings.building.DefaultSettingsProblem;
import org.apache.maven.settings.building.SettingsProblem;
import org.apache.maven.settings.crypto.SettingsDecrypter;
import org.apache.maven.settings.crypto.SettingsDecryptionResult;
import org.junit.jupiter.api.Test;

class SigningPasswordTest {

    /** Decrypts "{enc}" by dropping the marker; "{broken}" cannot be decrypted. */
    private static final SettingsDecrypter DECRYPTER = request -> {
        Server server = request.getServers().get(0).clone();
        boolean broken = "{broken}".equals(server.getPassword());
        if (server.getPassword() != null) {
            server.setPassword(server.getPassword().replace("{enc}", ""));
        }
        List<SettingsProblem> problems = broken ? Collections.singletonList(new DefaultSettingsProblem(
                "bad master password", SettingsProblem.Severity.ERROR, null, -1, -1, null))
                : Collections.<SettingsProblem>emptyList();
        return new SettingsDecryptionResult() {
            @Override
            public Server getServer() {
                return server;
            }

            @Override
            public List<Server> getServers() {
                return Collections.singletonList(server);
            }

            @Override
            public org.apache.maven.settings.Proxy getProxy() {
                return null;
            }

            @Override
            public List<org.apache.maven.settings.Proxy> getProxies() {
                return Collections.emptyList();
            }

            @Override
            public List<SettingsProblem> getProblems() {
                return problems;
            }
        };
    };

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
        assertEquals("secret", SigningPassword.resolve(signing("codesign", null), settings("codesign", "{enc}secret"),
                DECRYPTER, Collections.emptyMap()));
    }

    @Test
    void fromTheEnvironment() throws Exception {
        Map<String, String> env = Collections.singletonMap("SIGN_PW", "from env");
        assertEquals("from env", SigningPassword.resolve(signing(null, "SIGN_PW"), null, DECRYPTER, env));
    }

    @Test
    void refusals() {
        Object[][] cases = {
            {signing(null, null), settings("x", "p"), "not neither"},
            {signing("x", "SIGN_PW"), settings("x", "p"), "not both"},
            {signing(null, "SIGN_PW"), null, "SIGN_PW that should hold the keystore password is not set"},
            {signing("other", null), settings("x", "p"), "no server \"other\""},
            {signing("x", null), settings("x", null), "server \"x\" in the Maven settings has no password"},
            {signing("x", null), settings("x", "{broken}"), "cannot decrypt the password of server \"x\": bad master"},
        };
        for (Object[] c : cases) {
            MojoFailureException e = assertThrows(MojoFailureException.class, () -> SigningPassword.resolve(
                    (Signing) c[0], (Settings) c[1], DECRYPTER, Collections.emptyMap()));
            assertTrue(e.getMessage().startsWith("signing: ") && e.getMessage().contains((String) c[2]),
                    e.getMessage());
        }
    }
}
