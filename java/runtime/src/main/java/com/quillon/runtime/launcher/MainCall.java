package com.quillon.runtime.launcher;

import java.lang.invoke.MethodHandle;
import java.lang.invoke.MethodHandles;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.Arrays;

/**
 * Calls the application's {@code main} as cheaply as a cold JVM allows. Since Java 18 the first
 * {@link Method#invoke} of a method spins method-handle classes (a few hundred classes loaded
 * before the application's first line). The core reflection keeps its native accessor for a
 * method flagged as varargs whose last parameter is not an array, so {@code main} is reached
 * through a small class made here: its one method has that shape and calls {@code main} with
 * an ordinary invokestatic. Whenever that call cannot link (a main class that is not public,
 * or not visible from outside its module), plain reflection serves.
 *
 * <p>From Java 9 to 17 a method handle calls {@code main}: an application running below the
 * reflective call's native frame was measurably slower (H2's shell on Java 17 under Wine: 180
 * against 120 ms from its main class to its end), and these runtimes carry the handle's forms
 * pregenerated, so the handle costs the start nothing measurable. Java 8 and older use plain
 * reflection.
 */
final class MainCall {

    static final String CALLER_NAME = "com/quillon/runtime/launcher/GeneratedMainCall";

    private static final boolean DIRECT = usesMethodHandleReflection();
    private static final boolean HANDLE = callsThroughHandle(System.getProperty("java.version", ""));

    private MainCall() {
    }

    /** Runs {@code main}; the application's own exception escapes unwrapped. */
    static void invoke(Method main, String[] arguments) throws Throwable {
        if (HANDLE) {
            invokeHandle(main, arguments);
        } else {
            invoke(main, arguments, DIRECT);
        }
    }

    /** Through a method handle; {@code main} was made accessible where it needs to be. */
    static void invokeHandle(Method main, String[] arguments) throws Throwable {
        MethodHandle handle;
        try {
            handle = MethodHandles.lookup().unreflect(main);
        } catch (IllegalAccessException e) {
            invoke(main, arguments, false);
            return;
        }
        handle.invokeExact(arguments);
    }

    static void invoke(Method main, String[] arguments, boolean direct) throws Throwable {
        try {
            if (!direct || !invokeDirect(main, arguments)) {
                main.invoke(null, (Object) arguments);
            }
        } catch (InvocationTargetException e) {
            throw e.getCause();
        }
    }

    /** False, before anything ran, when the direct call is not possible. */
    static boolean invokeDirect(Method main, String[] arguments) throws InvocationTargetException {
        Class<?> type = main.getDeclaringClass();
        ClassLoader parent = type.getClassLoader();
        if (parent == null || !Modifier.isPublic(type.getModifiers())) {
            return false;
        }
        Method call;
        try {
            Class<?> caller = new CallerLoader(parent).define(CALLER_NAME.replace('/', '.'),
                    callerClass(type.getName().replace('.', '/')));
            call = caller.getMethod("run", String[].class, int.class);
        } catch (LinkageError | ReflectiveOperationException | SecurityException e) {
            return false;
        }
        try {
            call.invoke(null, arguments, 0);
        } catch (IllegalAccessException e) {
            return false;
        } catch (InvocationTargetException e) {
            // An access or linkage error thrown by the call site itself: main never ran.
            Throwable cause = e.getCause();
            StackTraceElement[] trace = cause.getStackTrace();
            if (cause instanceof LinkageError && trace.length > 0
                    && trace[0].getClassName().equals(CALLER_NAME.replace('/', '.'))) {
                return false;
            }
            throw e;
        }
        return true;
    }

    /** Java 18 and later implement core reflection with method handles. */
    static boolean usesMethodHandleReflection() {
        return usesMethodHandleReflection(System.getProperty("java.version", ""));
    }

    static boolean usesMethodHandleReflection(String version) {
        return major(version) >= 18;
    }

    static boolean callsThroughHandle(String version) {
        int major = major(version);
        return major >= 9 && major <= 17;
    }

    /** The feature release; 0 for Java 8 and older ("1.8.0_392") and for what cannot be read. */
    private static int major(String version) {
        if (version.startsWith("1.")) {
            return 0;
        }
        int major = 0;
        for (int i = 0; i < version.length() && Character.isDigit(version.charAt(i)); i++) {
            major = major * 10 + (version.charAt(i) - '0');
        }
        return major;
    }

    /**
     * The class file of {@code public final class GeneratedMainCall} with one method
     * {@code public static varargs void run(String[] arguments, int unused)} whose body is
     * {@code Target.main(arguments); return;}. Class file version 52 (Java 8): a body without
     * branches needs no stack map.
     */
    static byte[] callerClass(String target) {
        ClassFileWriter out = new ClassFileWriter();
        out.u4(0xCAFEBABE);
        out.u2(0);
        out.u2(52);
        out.u2(14);                                  // constant pool entries 1 to 13:
        out.u1(1).utf(CALLER_NAME);                  // 1
        out.u1(7).u2(1);                             // 2 this class
        out.u1(1).utf("java/lang/Object");           // 3
        out.u1(7).u2(3);                             // 4 super class
        out.u1(1).utf("run");                        // 5
        out.u1(1).utf("([Ljava/lang/String;I)V");    // 6
        out.u1(1).utf("Code");                       // 7
        out.u1(1).utf(target);                       // 8
        out.u1(7).u2(8);                             // 9 the main class
        out.u1(1).utf("main");                       // 10
        out.u1(1).utf("([Ljava/lang/String;)V");     // 11
        out.u1(12).u2(10).u2(11);                    // 12 main:([Ljava/lang/String;)V
        out.u1(10).u2(9).u2(12);                     // 13 the main method
        out.u2(0x0031);                              // public final super
        out.u2(2).u2(4);
        out.u2(0);                                   // interfaces
        out.u2(0);                                   // fields
        out.u2(1);                                   // methods:
        out.u2(0x0089);                              // public static varargs
        out.u2(5).u2(6);
        out.u2(1);                                   // attributes: Code
        out.u2(7).u4(17);
        out.u2(1).u2(2);                             // max stack, max locals
        out.u4(5);
        out.u1(0x2A);                                // aload_0
        out.u1(0xB8).u2(13);                         // invokestatic #13
        out.u1(0xB1);                                // return
        out.u2(0);                                   // exception table
        out.u2(0);                                   // code attributes
        out.u2(0);                                   // class attributes
        return out.bytes();
    }

    /** Big-endian bytes; DataOutputStream would pull var handles into the start on new JDKs. */
    private static final class ClassFileWriter {
        private byte[] buffer = new byte[256];
        private int length;

        ClassFileWriter u1(int value) {
            if (length == buffer.length) {
                buffer = Arrays.copyOf(buffer, length * 2);
            }
            buffer[length++] = (byte) value;
            return this;
        }

        ClassFileWriter u2(int value) {
            return u1(value >>> 8).u1(value);
        }

        ClassFileWriter u4(int value) {
            return u2(value >>> 16).u2(value);
        }

        /** A constant-pool text in the class file's modified UTF-8. */
        ClassFileWriter utf(String text) {
            int size = 0;
            for (int i = 0; i < text.length(); i++) {
                char c = text.charAt(i);
                size += c >= 1 && c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
            }
            u2(size);
            for (int i = 0; i < text.length(); i++) {
                char c = text.charAt(i);
                if (c >= 1 && c < 0x80) {
                    u1(c);
                } else if (c < 0x800) {
                    u1(0xC0 | c >> 6).u1(0x80 | c & 0x3F);
                } else {
                    u1(0xE0 | c >> 12).u1(0x80 | c >> 6 & 0x3F).u1(0x80 | c & 0x3F);
                }
            }
            return this;
        }

        byte[] bytes() {
            return Arrays.copyOf(buffer, length);
        }
    }

    /** Defines the caller beside the main class's loader, which resolves the main class. */
    private static final class CallerLoader extends ClassLoader {
        CallerLoader(ClassLoader parent) {
            super(parent);
        }

        Class<?> define(String name, byte[] bytes) {
            return defineClass(name, bytes, 0, bytes.length);
        }
    }
}
