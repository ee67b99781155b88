package com.quenvira.internal.io;

import java.io.IOException;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Map;

/**
 * The directory that receives the library's private copy directories: resolved once
 * to its real path, and trusted only when nobody but root and this process's user can
 * rename, replace or re-aim any directory on that path. Every later step goes through
 * the real path, so a link or a parent directory of another user cannot redirect it
 * between the check and the use.
 */
final class TrustedDirectory {
    private static final int FILE_TYPE = 0170000;
    private static final int DIRECTORY = 0040000;
    private static final int GROUP_WRITE = 0020;
    private static final int OTHERS_WRITE = 0002;
    /** In a directory with the sticky bit only an entry's owner may rename or remove it. */
    private static final int STICKY = 01000;
    private static final int ROOT = 0;
    private static final String OWNER_AND_MODE = "unix:mode,uid";

    private TrustedDirectory() {
    }

    /**
     * The real path of {@code directory}, once each directory on it, from the root down,
     * belongs to root or {@code self} and is writable by nobody else unless sticky.
     *
     * @throws IOException when it cannot be resolved, or a {@code FileSystemException}
     *         whose file is the component refused and whose reason says why
     */
    static Path resolve(Path directory, int self) throws IOException {
        Path real = directory.toRealPath();
        Path component = real.getRoot();
        check(component, self);
        for (Path name : real) {
            component = component.resolve(name);
            check(component, self);
        }
        return real;
    }

    /** Refuses one component, read without following links: a link here was planted after the resolution. */
    private static void check(Path component, int self) throws IOException {
        Map<String, Object> attributes;
        try {
            attributes = Files.readAttributes(component, OWNER_AND_MODE, LinkOption.NOFOLLOW_LINKS);
        } catch (UnsupportedOperationException | IllegalArgumentException e) {
            throw refused(component, "its owner and mode cannot be read");
        }
        int mode = (Integer) attributes.get("mode");
        int owner = (Integer) attributes.get("uid");
        if ((mode & FILE_TYPE) != DIRECTORY) {
            throw refused(component, "not a directory");
        }
        if (owner != ROOT && owner != self) {
            throw refused(component, "owned by another user (uid " + owner + ")");
        }
        if ((mode & (GROUP_WRITE | OTHERS_WRITE)) != 0 && (mode & STICKY) == 0) {
            throw refused(component, "writable by other users, without the sticky bit");
        }
    }

    private static FileSystemException refused(Path component, String why) {
        return new FileSystemException(component.toString(), null, why);
    }

    /**
     * This process's user ID, the owner of its /proc entry (root's when the process is
     * not dumpable, which only narrows what is trusted); null where that cannot be read.
     */
    static Integer currentUser() {
        try {
            return (Integer) Files.getAttribute(Paths.get("/proc/self"), "unix:uid");
        } catch (IOException | UnsupportedOperationException | IllegalArgumentException e) {
            return null;
        }
    }
}
