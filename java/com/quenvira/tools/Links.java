package com.quenvira.tools;

import com.quenvira.internal.io.BaseFileSystem;
import com.quenvira.io.FileInfo;
import java.io.IOException;

/**
 * Symbolic links as the tool follows them itself, through the library: a
 * link's target is read as the library gives it, so a name that is not UTF-8
 * keeps its bytes, and a link that leads nowhere is told from a missing file.
 */
final class Links {
    /** How many links Linux follows in one path before it says ELOOP. */
    static final int MAX_LINKS_FOLLOWED = 40;

    private Links() {
    }

    /** Whether the path itself is a symbolic link (false when it cannot be examined). */
    static boolean isLink(String path) {
        try {
            return BaseFileSystem.nGetFileInfo(path, path, 0).isSymbolicLink();
        } catch (IOException e) {
            return false;
        }
    }

    /** A link's target as ls and stat show it: "?" when it cannot be read. */
    static String shownTarget(String path) {
        try {
            return BaseFileSystem.nReadSymbolicLink(path);
        } catch (IOException e) {
            return "?";
        }
    }

    /** Whether the path is a symbolic link that leads, maybe through other links, to no file. */
    static boolean isDangling(String path) {
        try {
            return isLink(path) && finalTarget(path) == null;
        } catch (IOException e) {
            return false; // a loop or a refused look-up: an error of its own when the path is used
        }
    }

    /**
     * The path that the links starting at {@code path} end in (the path
     * itself when it is no link), or null when they end in nothing. A relative
     * target is taken from the directory its link is in.
     */
    static String finalTarget(String path) throws IOException {
        String current = path;
        for (int followed = 0; followed <= MAX_LINKS_FOLLOWED; followed++) {
            FileInfo info;
            try {
                info = BaseFileSystem.nGetFileInfo(current, current, 0);
            } catch (IOException e) {
                if (SystemError.number(e) == SystemError.ENOENT) {
                    return null;
                }
                throw e;
            }
            if (!info.isSymbolicLink()) {
                return current;
            }
            String target = BaseFileSystem.nReadSymbolicLink(current);
            current = target.startsWith("/") ? target : directoryOf(current) + target;
        }
        throw SystemError.of(SystemError.ELOOP);
    }

    /** The directory part of a path with its slash ("a/b/" of "a/b/c"), empty for a bare name. */
    private static String directoryOf(String path) {
        return path.substring(0, path.lastIndexOf('/') + 1);
    }
}
