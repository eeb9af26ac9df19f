package com.quillon.maven;

import java.util.Map;
import org.apache.maven.plugin.MojoFailureException;
import org.apache.maven.settings.Server;
import org.apache.maven.settings.Settings;
import org.apache.maven.settings.building.SettingsProblem;
import org.apache.maven.settings.crypto.DefaultSettingsDecryptionRequest;
import org.apache.maven.settings.crypto.SettingsDecrypter;
import org.apache.maven.settings.crypto.SettingsDecryptionResult;

/** The keystore password of {@code <signing>}: from a server of the Maven settings or an environment variable. */
final class SigningPassword {

    private SigningPassword() {
    }

    static String resolve(Signing signing, Settings settings, SettingsDecrypter decrypter, Map<String, String> env)
            throws MojoFailureException {
        boolean byServer = signing.serverId != null && !signing.serverId.isEmpty();
        boolean byVariable = signing.passwordEnvironmentVariable != null
                && !signing.passwordEnvironmentVariable.isEmpty();
        if (byServer == byVariable) {
            throw new MojoFailureException("signing: name where the keystore password comes from, either <serverId> "
                    + "(a server of the Maven settings) or <passwordEnvironmentVariable>, not "
                    + (byServer ? "both" : "neither"));
        }
        if (byVariable) {
            String value = env.get(signing.passwordEnvironmentVariable);
            if (value == null || value.isEmpty()) {
                throw new MojoFailureException("signing: the environment variable "
                        + signing.passwordEnvironmentVariable + " that should hold the keystore password is not set");
            }
            return value;
        }
        Server server = settings == null ? null : settings.getServer(signing.serverId);
        if (server == null) {
            throw new MojoFailureException("signing: there is no server \"" + signing.serverId
                    + "\" in the Maven settings (settings.xml)");
        }
        SettingsDecryptionResult result = decrypter.decrypt(new DefaultSettingsDecryptionRequest(server));
        for (SettingsProblem problem : result.getProblems()) {
            if (problem.getSeverity() != SettingsProblem.Severity.WARNING) {
                throw new MojoFailureException("signing: cannot decrypt the password of server \""
                        + signing.serverId + "\": " + problem.getMessage());
            }
        }
        String password = result.getServer() == null ? null : result.getServer().getPassword();
        if (password == null || password.isEmpty()) {
            throw new MojoFailureException("signing: server \"" + signing.serverId
                    + "\" in the Maven settings has no password");
        }
        return password;
    }
}
