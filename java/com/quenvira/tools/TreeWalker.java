package com.quenvira.tools;

import com.quenvira.internal.io.BaseFileSystem;
import com.quenvira.io.FileInfo;
import java.io.IOException;
import java.util.Arrays;
import java.util.Comparator;

/**
 * Walks a directory tree depth first through the library's listing, each
 * directory's entries in name order, for ls -R, chmod -R and cp -r. It never
 * follows a symbolic link: it walks into an entry only when the entry's own
 * record (of the link itself, as the listing gives it) says directory, so a
 * link to a directory is met as a link, wherever it leads. Only the root is
 * listed through whatever its name leads to.
 */
final class TreeWalker {
    private static final Comparator<FileInfo> BY_NAME = Comparator.comparing(FileInfo::getName);

    /** What a walk does with what it meets; every path is the root's followed by names. */
    interface Visitor {
        /** A directory reached, the root included, before it is listed; false leaves it unlisted. */
        boolean enter(String path, FileInfo info);

        /** The entries of the directory just listed, sorted by name; returns those the walk goes on with. */
        default FileInfo[] listed(String path, FileInfo[] entries) {
            return entries;
        }

        /** An entry that is not a directory (a link to one included). */
        default void other(String path, FileInfo info) {
        }

        /** A directory whose entries have all been walked. */
        default void leave(String path, FileInfo info) {
        }

        /** A directory that could not be listed. */
        void unreadable(String path, IOException e);
    }

    private final int infoMask;

    /** A walker whose records carry what the {@code BaseFileSystem.INFO_*} bits of {@code infoMask} ask. */
    TreeWalker(int infoMask) {
        this.infoMask = infoMask;
    }

    /** Walks the directory {@code root}, whose record is {@code info}. */
    void walk(String root, FileInfo info, Visitor visitor) {
        if (!visitor.enter(root, info)) {
            return;
        }
        String prefix = PathNames.withSlash(root);
        FileInfo[] entries;
        try {
            entries = BaseFileSystem.nListFileInfos(prefix, infoMask, null, 0);
        } catch (IOException e) {
            visitor.unreadable(root, e);
            return;
        }
        Arrays.sort(entries, BY_NAME);
        for (FileInfo entry : visitor.listed(root, entries)) {
            String path = prefix + entry.getName();
            if (entry.isDirectory()) {
                walk(path, entry, visitor);
            } else {
                visitor.other(path, entry);
            }
        }
        visitor.leave(root, info);
    }
}
