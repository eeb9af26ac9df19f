package com.quillon.runtime.launcher;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.io.IOException;
import java.lang.reflect.Method;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

class MainCallTest {

    static final String GENERATED = MainCall.CALLER_NAME.replace('/', '.');
    static final IOException FAILURE = new IOException("checked, from the application");

    static String[] received;
    static String calledFrom;
    static List<String> below;

    static void record(String[] args) {
        received = args;
        StackTraceElement[] trace = new Throwable().getStackTrace();
        calledFrom = trace[2].getClassName();
        below = new ArrayList<>();
        for (StackTraceElement frame : trace) {
            below.add(frame.getClassName() + "." + frame.getMethodName());
        }
    }

    public static class Public {
        public static void main(String[] args) {
            record(args);
        }
    }

    /** Not public: only reflection may start it. */
    static class Hidden {
        public static void main(String[] args) {
            record(args);
        }
    }

    /** A name outside ASCII, written into the caller's constant pool. */
    public static class Grüße\u4E16 {
        public static void main(String[] args) {
            record(args);
        }
    }

    public static class Throwing {
        public static void main(String[] args) throws IOException {
            throw FAILURE;
        }
    }

    @BeforeEach
    void forget() {
        received = null;
        calledFrom = null;
    }

    private static Method main(Class<?> type) throws NoSuchMethodException {
        return type.getMethod("main", String[].class);
    }

    @Test
    void aPublicMainClassIsCalledDirectlyWithItsArguments() throws Throwable {
        String[] arguments = {"a", "b c", ""};
        MainCall.invoke(main(Public.class), arguments, true);
        assertSame(arguments, received);
        assertEquals(GENERATED, calledFrom);
        MainCall.invoke(main(Grüße\u4E16.class), new String[] {"x"}, true);
        assertArrayEquals(new String[] {"x"}, received);
        assertEquals(GENERATED, calledFrom);
    }

    @Test
    void otherMainClassesAndOldRuntimesGoThroughReflection() throws Throwable {
        MainCall.invoke(main(Hidden.class), new String[] {"h"}, true);
        assertArrayEquals(new String[] {"h"}, received);
        assertNotEquals(GENERATED, calledFrom);
        MainCall.invoke(main(Public.class), new String[] {"p"}, false);
        assertArrayEquals(new String[] {"p"}, received);
        assertNotEquals(GENERATED, calledFrom);
    }

    @Test
    void throughAHandleNoReflectiveCallLiesBelowMain() throws Throwable {
        for (Class<?> type : new Class<?>[] {Public.class, Hidden.class}) {
            Method main = main(type);
            main.setAccessible(true);
            String[] arguments = {"a", "b c"};
            MainCall.invokeHandle(main, arguments);
            assertSame(arguments, received);
            // Right below main: the handle's own caller, no reflective frame in between.
            assertEquals(MainCall.class.getName() + ".invokeHandle", below.get(2));
        }
    }

    @Test
    void theApplicationsOwnExceptionEscapesUnwrapped() throws Exception {
        for (boolean direct : new boolean[] {true, false}) {
            Throwable thrown = assertThrows(Throwable.class,
                    () -> MainCall.invoke(main(Throwing.class), new String[0], direct));
            assertSame(FAILURE, thrown);
        }
        Throwable thrown = assertThrows(Throwable.class,
                () -> MainCall.invokeHandle(main(Throwing.class), new String[0]));
        assertSame(FAILURE, thrown);
    }

    @ParameterizedTest
    @CsvSource({"1.8.0_392, false", "9.0.4, false", "17.0.9, false", "18, true", "21.0.8, true", "25, true", "25-ea, true", "'', false"})
    void reflectionIsAvoidedFromJava18On(String version, boolean direct) {
        assertEquals(direct, MainCall.usesMethodHandleReflection(version));
    }

    @ParameterizedTest
    @CsvSource({"1.8.0_392, false", "9.0.4, true", "11.0.22, true", "17.0.9, true", "18, false", "25, false", "'', false"})
    void java9To17CallThroughAHandle(String version, boolean handle) {
        assertEquals(handle, MainCall.callsThroughHandle(version));
    }
}
