package com.quillon.runtime.launcher;

/**
 * Work an application does once after it was installed, before its {@code main} runs for the
 * first time. Implementations are found with {@link java.util.ServiceLoader}: list the class in
 * {@code META-INF/services/com.quillon.runtime.launcher.FirstRunHandler} of the application's
 * jar.
 */
public interface FirstRunHandler {

    /**
     * @return true to go on and start the application; false to end this start without error
     *         (the marker then stays, and the next start asks again)
     * @throws Exception ends the start as false does; the launcher prints the exception
     */
    boolean firstRun() throws Exception;
}
