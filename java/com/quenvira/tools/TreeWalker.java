package com.quenvira.tools;

import com.quenvira.internal.io.OpenDirectory;
import com.quenvira.io.FileInfo;
import java.io.IOException;
import java.util.Arrays;
import java.util.Comparator;
import java.util.IdentityHashMap;
import java.util.Map;

/**
 * Walks a directory tree depth first by descriptors ({@link OpenDirectory}),
 * each directory's entries in name order, for ls -R, chmod -R and cp -r. Only
 * the root is opened by its path; below it every directory is opened relative
 * to its parent, never through a symbolic link, and only while it is the
 * directory the parent's listing saw, so a name another user swaps meanwhile
 * cannot lead the walk out of the tree. It holds one descriptor per level.
 */
final class TreeWalker {
    private static final Comparator<FileInfo> BY_NAME = Comparator.comparing(FileInfo::getName);

    /** Where the walk met an entry: its open directory, its name there and the identity listed. */
    static final class Place {
        final OpenDirectory directory;
        final String name;
        final long device;
        final long inode;

        Place(OpenDirectory directory, String name, long device, long inode) {
            this.directory = directory;
            this.name = name;
            this.device = device;
            this.inode = inode;
        }

        /** Sets the entry's mode, never through a link, only while it is the file listed. */
        void changeMode(int mode) throws IOException {
            directory.changeMode(name, device, inode, mode);
        }

        /** Opens the entry, a directory, on the same terms. */
        OpenDirectory open() throws IOException {
            return directory.openDirectory(name, device, inode);
        }
    }

    /** What a walk does with what it meets; every path is the root's followed by names. */
    interface Visitor {
        /**
         * A directory reached, before it is opened and listed: {@code place} is null for the
         * root, which is reached by its path. False leaves it unlisted.
         */
        boolean enter(String path, FileInfo info, Place place);

        /** The entries of the open directory just listed, sorted by name; returns those the walk goes on with. */
        default FileInfo[] listed(String path, OpenDirectory directory, FileInfo[] entries) {
            return entries;
        }

        /** An entry that is not a directory (a link to one included). */
        default void other(String path, FileInfo info, Place place) {
        }

        /** A directory whose entries have all been walked. */
        default void leave(String path, FileInfo info) {
        }

        /** A directory that could not be opened or listed, or was replaced. */
        void unreadable(String path, IOException e);
    }

    private final int infoMask;

    /** A walker whose records carry what the {@code BaseFileSystem.INFO_*} bits of {@code infoMask} ask. */
    TreeWalker(int infoMask) {
        this.infoMask = infoMask;
    }

    /**
     * Walks the directory {@code root}, whose record is {@code info}; a link as its last
     * component is followed only when {@code followLast}.
     */
    void walk(String root, FileInfo info, boolean followLast, Visitor visitor) {
        if (!visitor.enter(root, info, null)) {
            return;
        }
        try (OpenDirectory directory = OpenDirectory.open(root, followLast)) {
            walkOpen(root, info, directory, visitor);
        } catch (IOException e) {
            visitor.unreadable(root, e);
        }
    }

    private void walkOpen(String path, FileInfo info, OpenDirectory directory, Visitor visitor) {
        OpenDirectory.Entries entries;
        try {
            entries = directory.list(infoMask);
        } catch (IOException e) {
            visitor.unreadable(path, e);
            return;
        }
        FileInfo[] sorted = new FileInfo[entries.size()];
        Map<FileInfo, Integer> index = new IdentityHashMap<>(entries.size());
        for (int i = 0; i < sorted.length; i++) {
            sorted[i] = entries.record(i);
            index.put(sorted[i], i);
        }
        Arrays.sort(sorted, BY_NAME);
        String prefix = PathNames.withSlash(path);
        for (FileInfo entry : visitor.listed(path, directory, sorted)) {
            int i = index.get(entry);
            Place place = new Place(directory, entry.getName(), entries.device(i), entries.inode(i));
            String entryPath = prefix + entry.getName();
            if (!entry.isDirectory()) {
                visitor.other(entryPath, entry, place);
            } else if (visitor.enter(entryPath, entry, place)) {
                try (OpenDirectory child = place.open()) {
                    walkOpen(entryPath, entry, child, visitor);
                } catch (IOException e) {
                    visitor.unreadable(entryPath, e);
                }
            }
        }
        visitor.leave(path, info);
    }
}
