package com.quillon.maven;

import java.io.File;

/**
 * {@code <signing>}: Authenticode signing after packing. There is deliberately no password
 * element: the password comes from the server {@code serverId} of the Maven settings
 * (encrypted passwords work) or from the environment variable {@code passwordEnvironmentVariable}.
 */
public class Signing {
    File keystore;
    /** PKCS12 or JKS; without it the type is guessed from the keystore file. */
    String keystoreType;
    String alias;
    String timestampUrl;
    String serverId;
    String passwordEnvironmentVariable;
}
