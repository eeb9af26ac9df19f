package com.quillon.packer;

/** A refusal or failure that the command line reports as one line and a non-zero exit. */
public class PackerException extends Exception {
    private static final long serialVersionUID = 1L;

    public PackerException(String message) {
        super(message);
    }

    public PackerException(String message, Throwable cause) {
        super(message, cause);
    }
}
