package com.quenvira.tools;

import com.quenvira.interfaces.ISyncProgressMonitor;
import com.quenvira.internal.io.BaseFileSystem;
import com.quenvira.internal.io.OpenDirectory;
import java.io.IOException;

/**
 * A regular file named on cp's command line, copied through the descriptors
 * of its directory and of its destination's ({@link OpenDirectory#copyFile}):
 * the source is opened without blocking, never through a link, and must still
 * be a regular file, so a FIFO or device swapped in after cp looked is refused
 * at once, neither waited on nor read. The paths are resolved as cp resolves
 * them, once: a link named as the source, or as a destination that exists,
 * is followed to its end first, and the directory that end is in is opened.
 */
final class NamedFileCopy {
    private NamedFileCopy() {
    }

    /**
     * Copies the regular file {@code source} to {@code target} with the library's
     * {@code COPY_*} {@code flags}, reporting to {@code monitor}.
     *
     * @throws com.quenvira.internal.io.ReplacedFileException when the source is no regular file once opened
     * @throws IOException when a file cannot be opened or the copy fails
     */
    static void copy(String source, String target, int flags, ISyncProgressMonitor monitor) throws IOException {
        String from = endOf(source);
        String to = Links.isLink(target) ? endOf(target) : target;
        String fromName = PathNames.baseName(from);
        String toName = PathNames.baseName(to);
        try (OpenDirectory fromDirectory = openDirectoryOf(from, fromName);
                OpenDirectory toDirectory = fromDirectory == null ? null : openDirectoryOf(to, toName)) {
            if (toDirectory == null) {
                // A directory that may be searched, not read: only its path leads there.
                BaseFileSystem.nCopyFileCallback(source, target, flags, monitor);
                return;
            }
            fromDirectory.copyFile(fromName, 0, 0, toDirectory, toName, flags, monitor);
        }
    }

    /** Where the links starting at {@code path} end; a chain that ends in nothing is "No such file or directory". */
    private static String endOf(String path) throws IOException {
        String end = Links.finalTarget(path);
        if (end == null) {
            throw SystemError.of(SystemError.ENOENT);
        }
        return end;
    }

    /**
     * The directory {@code path} names {@code name} in, opened; null when it may not be read
     * (its path is used then) or when the name is none a file can have.
     */
    private static OpenDirectory openDirectoryOf(String path, String name) throws IOException {
        if (name.isEmpty() || name.equals(".") || name.equals("..") || path.endsWith("/")) {
            return null;
        }
        int slash = path.lastIndexOf('/');
        String directory = slash < 0 ? "." : slash == 0 ? "/" : path.substring(0, slash);
        try {
            return OpenDirectory.open(directory, true);
        } catch (IOException e) {
            if (SystemError.number(e) == SystemError.EACCES) {
                return null;
            }
            throw e;
        }
    }
}
