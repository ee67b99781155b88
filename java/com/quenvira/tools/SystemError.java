package com.quenvira.tools;

import com.quenvira.internal.io.LastError;
import java.io.IOException;
import java.nio.file.AccessDeniedException;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.FileSystemException;
import java.nio.file.NoSuchFileException;
import java.nio.file.NotDirectoryException;

/**
 * The reason of a failure in the words GNU coreutils prints (the C library's
 * strerror). The library tells the error number of each exception it throws
 * ({@link LastError}); the JDK's exceptions carry the reason or are typed by it.
 */
final class SystemError {
    static final int NONE = -1;
    static final int EPERM = 1;
    static final int ENOENT = 2;
    static final int EIO = 5;
    static final int EACCES = 13;
    static final int EEXIST = 17;
    static final int ENOTDIR = 20;
    static final int EISDIR = 21;
    static final int EINVAL = 22;
    static final int EFBIG = 27;
    static final int ENOSPC = 28;
    static final int EROFS = 30;
    static final int ELOOP = 40;
    static final int EDQUOT = 122;

    private SystemError() {
    }

    /**
     * The error number of a failure: the library's, as it told it when it threw (read right
     * after the failure, before another call of the library on this thread), or the tool's
     * own; {@link #NONE} for any other.
     */
    static int number(IOException e) {
        if (e instanceof Numbered) {
            return ((Numbered) e).number;
        }
        int number = LastError.numberOf(e);
        return number != 0 ? number : NONE;
    }

    /** The strerror text of an error number, the C library's own ("Unknown error 150" for one without). */
    static String text(int number) {
        return LastError.text(number);
    }

    /** {@code e} with its error number kept, for a report made after other calls of the library. */
    static IOException keepNumber(IOException e) {
        int number = number(e);
        return number == NONE || e instanceof Numbered ? e : new Numbered(e.getMessage(), number);
    }

    /** The reason of a library or JDK failure in strerror's words. */
    static String reason(IOException e) {
        int number = number(e);
        if (number != NONE) {
            return text(number);
        }
        if (e instanceof NoSuchFileException) {
            return text(ENOENT);
        }
        if (e instanceof AccessDeniedException) {
            return text(EACCES);
        }
        if (e instanceof FileAlreadyExistsException) {
            return text(EEXIST);
        }
        if (e instanceof NotDirectoryException) {
            return text(ENOTDIR);
        }
        if (e instanceof FileSystemException && ((FileSystemException) e).getReason() != null) {
            return ((FileSystemException) e).getReason();
        }
        return e.getMessage();
    }

    /** A failure of the tool's own with an error number. */
    static IOException of(int number) {
        return new Numbered(text(number), number);
    }

    /** A failure whose error number is known. */
    private static final class Numbered extends IOException {
        private static final long serialVersionUID = 1L;
        final int number;

        Numbered(String message, int number) {
            super(message);
            this.number = number;
        }
    }
}
