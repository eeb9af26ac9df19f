/**
 * Java side of the native launchers: the classes that a launcher calls into
 * once it has created the JVM (the launcher class with its {@code main}, the
 * first-run check, the splash controller and the readers of the files and
 * registry values the launchers hand over).
 */
package com.quillon.runtime.launcher;
