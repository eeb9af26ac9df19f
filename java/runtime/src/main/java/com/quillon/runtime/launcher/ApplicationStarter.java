package com.quillon.runtime.launcher;

import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.List;

/** What both launcher classes do: read the launcher parameters and run the application. */
final class ApplicationStarter {

    private static volatile LaunchParameters current;

    private ApplicationStarter() {
    }

    static LaunchParameters current() {
        return current;
    }

    static void start(String[] args) throws Throwable {
        LaunchParameters parameters = LaunchParameters.parse(args);
        current = parameters;
        // Classes not needed for this start are not loaded: each costs start-up time.
        if (given(parameters.getErrorLog()) || given(parameters.getOutputLog())) {
            StreamRedirection.apply(parameters);
        }
        if (given(LauncherProperties.getProcessCommFile())) {
            SingleInstance.startWatching();
        }
        Method main = findMain(parameters.getMainClass());
        List<String> arguments = parameters.getArguments();
        // The application's own exception is what escapes to the launcher and gets printed.
        MainCall.invoke(main, arguments.toArray(new String[0]));
    }

    private static boolean given(String value) {
        return value != null && !value.isEmpty();
    }

    static Method findMain(String className) throws ClassNotFoundException, NoSuchMethodException {
        if (className == null || className.isEmpty()) {
            throw new ClassNotFoundException("no main class configured (launcher parameter 2 is empty)");
        }
        ClassLoader loader = Thread.currentThread().getContextClassLoader();
        if (loader == null) {
            loader = ApplicationStarter.class.getClassLoader();
        }
        Class<?> type = Class.forName(className, true, loader);
        Method main = type.getMethod("main", String[].class);
        if (!Modifier.isStatic(main.getModifiers()) || main.getReturnType() != void.class) {
            throw new NoSuchMethodException(className + " has no \"public static void main(String[])\"");
        }
        // Like the java command, start a main class that is not public itself.
        main.setAccessible(true);
        return main;
    }
}
