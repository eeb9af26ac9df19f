package com.quillon.maven;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayInputStream;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import org.apache.maven.plugin.MojoFailureException;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class StubsTest {

    /** A jar that carries only the x86 installer stub. */
    private static final ClassLoader ONLY_X86 = new ClassLoader(null) {
        @Override
        public InputStream getResourceAsStream(String name) {
            return name.equals("stubs/win32/setup-launcher.exe") ? new ByteArrayInputStream(new byte[] {'M', 'Z'})
                    : null;
        }
    };

    @Test
    void copiesTheStubOut(@TempDir Path dir) throws Exception {
        Path stub = Stubs.extract("installer-x86", ONLY_X86, dir.resolve("stubs"));
        assertEquals("MZ", new String(Files.readAllBytes(stub), "US-ASCII"));
    }

    @Test
    void aMissingStubFailsAtPackTime(@TempDir Path dir) {
        MojoFailureException e = assertThrows(MojoFailureException.class,
                () -> Stubs.extract("service", ONLY_X86, dir));
        assertTrue(e.getMessage().startsWith("this build of the plugin carries no stubs/win64/service-launcher.exe"),
                e.getMessage());
    }

    @Test
    void anUnknownLauncherNamesTheChoices(@TempDir Path dir) {
        MojoFailureException e = assertThrows(MojoFailureException.class, () -> Stubs.extract("gui", ONLY_X86, dir));
        assertEquals("launcher \"gui\" is not one of app, installer, installer-x86, service", e.getMessage());
    }
}
