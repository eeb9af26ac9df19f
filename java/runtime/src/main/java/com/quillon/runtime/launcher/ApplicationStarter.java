package com.quillon.runtime.launcher;

import java.lang.reflect.InvocationTargetException;
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
        StreamRedirection.apply(parameters);
        SingleInstance.startWatching();
        Method main = findMain(parameters.getMainClass());
        List<String> arguments = parameters.getArguments();
        try {
            main.invoke(null, (Object) arguments.toArray(new String[0]));
        } catch (InvocationTargetException e) {
            // The application's own exception is what escapes to the launcher and gets printed.
            throw e.getCause();
        }
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
