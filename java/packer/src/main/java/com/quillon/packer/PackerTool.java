package com.quillon.packer;

import java.io.PrintStream;

/**
 * The command line for callers in the same JVM (build-tool plugins): the same commands, messages
 * and exit codes as {@code java -jar packer.jar}, without {@code System.exit}.
 */
public final class PackerTool {

    /** Exit code of a refused or failed run; 2 is a wrong command line, 0 success. */
    public static final int EXIT_FAILED = Main.EXIT_FAILED;

    private PackerTool() {
    }

    /** Runs one command ({@code pack ...} or {@code inspect ...}) and returns its exit code. */
    public static int run(String[] args, PrintStream out, PrintStream err) {
        return Main.run(args, out, err);
    }
}
