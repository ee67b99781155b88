package com.quenvira.internal.io;

import java.io.IOException;

/**
 * Thrown by {@link OpenDirectory} when a name no longer leads to the file a listing
 * saw: another file, a symbolic link or a file of another type took its place.
 */
public final class ReplacedFileException extends IOException {
    private static final long serialVersionUID = 1L;

    /**
     * An exception with the library's message.
     *
     * @param message what was found
     */
    public ReplacedFileException(String message) {
        super(message);
    }
}
