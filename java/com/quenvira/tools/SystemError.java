package com.quenvira.tools;

import java.io.IOException;
import java.nio.file.AccessDeniedException;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.FileSystemException;
import java.nio.file.NoSuchFileException;
import java.nio.file.NotDirectoryException;
import java.util.Map;

/**
 * The reason of a failure in the words GNU coreutils prints (the C library's
 * strerror). The library's messages end in the error number in brackets
 * ("Path does not exist [2]"); the JDK's exceptions carry the reason or are
 * typed by it.
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

    /** glibc's strerror texts of the error numbers Linux shares on x86_64 and AArch64. */
    private static final Map<Integer, String> TEXTS = Map.ofEntries(
            Map.entry(EPERM, "Operation not permitted"),
            Map.entry(ENOENT, "No such file or directory"),
            Map.entry(4, "Interrupted system call"),
            Map.entry(EIO, "Input/output error"),
            Map.entry(6, "No such device or address"),
            Map.entry(9, "Bad file descriptor"),
            Map.entry(11, "Resource temporarily unavailable"),
            Map.entry(12, "Cannot allocate memory"),
            Map.entry(EACCES, "Permission denied"),
            Map.entry(14, "Bad address"),
            Map.entry(16, "Device or resource busy"),
            Map.entry(EEXIST, "File exists"),
            Map.entry(18, "Invalid cross-device link"),
            Map.entry(19, "No such device"),
            Map.entry(ENOTDIR, "Not a directory"),
            Map.entry(EISDIR, "Is a directory"),
            Map.entry(EINVAL, "Invalid argument"),
            Map.entry(23, "Too many open files in system"),
            Map.entry(24, "Too many open files"),
            Map.entry(26, "Text file busy"),
            Map.entry(EFBIG, "File too large"),
            Map.entry(ENOSPC, "No space left on device"),
            Map.entry(29, "Illegal seek"),
            Map.entry(EROFS, "Read-only file system"),
            Map.entry(31, "Too many links"),
            Map.entry(32, "Broken pipe"),
            Map.entry(36, "File name too long"),
            Map.entry(38, "Function not implemented"),
            Map.entry(39, "Directory not empty"),
            Map.entry(ELOOP, "Too many levels of symbolic links"),
            Map.entry(61, "No data available"),
            Map.entry(75, "Value too large for defined data type"),
            Map.entry(95, "Operation not supported"),
            Map.entry(110, "Connection timed out"),
            Map.entry(116, "Stale file handle"),
            Map.entry(121, "Remote I/O error"),
            Map.entry(EDQUOT, "Disk quota exceeded"),
            Map.entry(125, "Operation canceled"));

    private SystemError() {
    }

    /** The error number at the end of a library message ("... [2]"), or {@link #NONE}. */
    static int number(IOException e) {
        String message = e.getMessage();
        if (message == null || !message.endsWith("]")) {
            return NONE;
        }
        int open = message.lastIndexOf(" [");
        if (open < 0) {
            return NONE;
        }
        try {
            return Integer.parseInt(message.substring(open + 2, message.length() - 1));
        } catch (NumberFormatException notANumber) {
            return NONE;
        }
    }

    /** The strerror text of an error number ("Unknown error 150" for one without a text, as glibc says). */
    static String text(int number) {
        String text = TEXTS.get(number);
        return text != null ? text : "Unknown error " + number;
    }

    /** The library's message for a path that is no link; readlink(2) says EINVAL. */
    private static final String NOT_A_LINK = "The file is not a symbolic link";

    /** The reason of a library or JDK failure in strerror's words. */
    static String reason(IOException e) {
        int number = number(e);
        if (number != NONE) {
            return text(number);
        }
        if (NOT_A_LINK.equals(e.getMessage())) {
            return text(EINVAL);
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

    /** A failure of the tool's own with an error number, in the library's form ("No such file or directory [2]"). */
    static IOException of(int number) {
        return new IOException(text(number) + " [" + number + "]");
    }
}
