package com.quillon.runtime.launcher;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import org.junit.jupiter.api.Test;

class ApplicationStarterTest {

    static String[] received;
    static final IllegalStateException FAILURE = new IllegalStateException("from the application");

    /** Package-private, as main classes sometimes are. */
    static class Application {
        public static void main(String[] args) {
            received = args;
        }
    }

    public static class Failing {
        public static void main(String[] args) {
            throw FAILURE;
        }
    }

    public static class NotStatic {
        public void main(String[] args) {
        }
    }

    private static String[] launch(String mainClass, String... arguments) {
        String[] args = new String[6 + arguments.length];
        String[] head = {"false", mainClass, "", "", "false", "C:\\apps\\app.exe"};
        System.arraycopy(head, 0, args, 0, head.length);
        System.arraycopy(arguments, 0, args, head.length, arguments.length);
        return args;
    }

    @Test
    void theApplicationGetsItsArgumentsWithoutTheLauncherParameters() throws Throwable {
        WinLauncher.main(launch(Application.class.getName(), "a", "b c"));
        assertArrayEquals(new String[] {"a", "b c"}, received);
        com.tarvo.runtime.WinLauncher.main(launch(Application.class.getName()));
        assertArrayEquals(new String[0], received);
        assertSame(WinLauncher.getParameters(), com.tarvo.runtime.WinLauncher.getParameters());
    }

    @Test
    void theApplicationsOwnExceptionEscapes() {
        Throwable thrown = assertThrows(Throwable.class, () -> WinLauncher.main(launch(Failing.class.getName())));
        assertSame(FAILURE, thrown);
    }

    @Test
    void aMissingOrUnusableMainClassFails() {
        assertThrows(ClassNotFoundException.class, () -> WinLauncher.main(launch("no.such.Main")));
        ClassNotFoundException empty = assertThrows(ClassNotFoundException.class, () -> WinLauncher.main(launch("")));
        assertTrue(empty.getMessage().contains("parameter 2"));
        assertThrows(NoSuchMethodException.class, () -> WinLauncher.main(launch(NotStatic.class.getName())));
    }
}
