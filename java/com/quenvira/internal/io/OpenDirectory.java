package com.quenvira.internal.io;

import com.quenvira.interfaces.ISyncProgressMonitor;
import com.quenvira.io.FileInfo;
import java.io.IOException;

/**
 * A directory held open by its descriptor, for walking a tree that others may
 * change: every entry is reached relative to the descriptor, never through a
 * symbolic link, and only when it is still the file a listing saw (its device
 * and inode). A name swapped for a link or for another file between the listing
 * and the use ends that use with a {@link ReplacedFileException}; nothing is
 * followed. Only {@link #open(String, boolean)} takes a path, resolved once.
 *
 * <p>{@code BaseFileSystem.nInitStatic()} must have run; until then every method
 * throws {@code IllegalStateException("Not initialized")}. Other failures are
 * {@code IOException}s in the library's words ("Path does not exist [2]").
 * An identity of 0, 0 (an entry the listing could not examine) is checked for
 * its type alone. Not safe for use by several threads at once.
 */
public final class OpenDirectory implements AutoCloseable {
    static {
        LibraryLoad.ensure();
    }

    private int descriptor;
    private final long device;
    private final long inode;

    private OpenDirectory(long[] opened) {
        this.descriptor = (int) opened[0];
        this.device = opened[1];
        this.inode = opened[2];
    }

    /**
     * Opens a directory by its path, resolved this once.
     *
     * @param path the directory
     * @param followLast whether a symbolic link as the last component is followed
     * @return the open directory, which the caller closes
     * @throws IOException when it cannot be opened, is no directory, or is a link not followed
     */
    public static OpenDirectory open(String path, boolean followLast) throws IOException {
        return new OpenDirectory(nOpen(path, followLast));
    }

    /**
     * The device of this directory.
     *
     * @return its device number, as the kernel reports it
     */
    public long device() {
        return device;
    }

    /**
     * The inode of this directory.
     *
     * @return its inode number
     */
    public long inode() {
        return inode;
    }

    /**
     * The record of this directory itself.
     *
     * @param name the name the record carries
     * @param infoMask the {@code BaseFileSystem.INFO_*} bits the record is to carry
     * @return its record
     * @throws IOException when it cannot be examined
     */
    public FileInfo info(String name, int infoMask) throws IOException {
        return nInfo(fd(), name, infoMask);
    }

    /**
     * The record of an entry itself: a link is not followed.
     *
     * @param name the entry's name in this directory
     * @param infoMask the {@code BaseFileSystem.INFO_*} bits the record is to carry
     * @return its record
     * @throws IOException when it cannot be examined, such as "Path does not exist [2]"
     */
    public FileInfo entryInfo(String name, int infoMask) throws IOException {
        return nEntryInfo(fd(), name, infoMask);
    }

    /**
     * The records of every entry but "." and "..", as {@code BaseFileSystem.nListFileInfos}
     * makes them, with the identity of each.
     *
     * @param infoMask the {@code BaseFileSystem.INFO_*} bits the records are to carry
     * @return the entries in the directory's order
     * @throws IOException when the directory cannot be read
     */
    public Entries list(int infoMask) throws IOException {
        long[][] identities = new long[1][];
        FileInfo[] records = nList(fd(), infoMask, identities);
        return new Entries(records, identities[0]);
    }

    /**
     * Opens a directory of this one, never through a link.
     *
     * @param name its name here
     * @param device the device it had when listed (0 with {@code inode} 0: not known)
     * @param inode the inode it had when listed
     * @return the open directory, which the caller closes
     * @throws ReplacedFileException when the name now leads to another file, a link or no directory
     * @throws IOException when it cannot be opened
     */
    public OpenDirectory openDirectory(String name, long device, long inode) throws IOException {
        return new OpenDirectory(nOpenDirectory(fd(), name, device, inode));
    }

    /**
     * Makes a directory here and opens it.
     *
     * @param name its name here
     * @param mode its permission bits (less the umask; set-ID and sticky bits are dropped)
     * @return the open directory, which the caller closes
     * @throws ReplacedFileException when another's directory took its place before it was opened
     * @throws IOException when it cannot be made, such as "Path already exists [17]"
     */
    public OpenDirectory makeDirectory(String name, int mode) throws IOException {
        return new OpenDirectory(nMakeDirectory(fd(), name, mode));
    }

    /**
     * Sets the mode of this directory.
     *
     * @param mode the permission, set-ID and sticky bits
     * @throws IOException when the mode cannot be set
     */
    public void changeMode(int mode) throws IOException {
        nChangeOwnMode(fd(), mode);
    }

    /**
     * Sets the mode of an entry, which must still be the file listed and no link.
     *
     * @param name its name here
     * @param device the device it had when listed (0 with {@code inode} 0: not known)
     * @param inode the inode it had when listed
     * @param mode the permission, set-ID and sticky bits
     * @throws ReplacedFileException when the name now leads to another file or a link
     * @throws IOException when the mode cannot be set
     */
    public void changeMode(String name, long device, long inode, int mode) throws IOException {
        nChangeMode(fd(), name, device, inode, mode);
    }

    /**
     * Copies a regular file of this directory into another, as
     * {@code BaseFileSystem.nCopyFileCallback} copies, with the same flags and monitor. The
     * source is opened without blocking and never through a link; a new destination is
     * created exclusively, and none is written through a link.
     *
     * @param name the source's name here
     * @param device the device it had when listed (0 with {@code inode} 0: not known)
     * @param inode the inode it had when listed
     * @param target the destination's directory
     * @param targetName the destination's name there
     * @param copyFlags {@code BaseFileSystem.COPY_*} bits
     * @param monitor hears each step and may stop the copy, or null
     * @return the bytes copied
     * @throws ReplacedFileException when the source is now another file, a link or no regular file
     * @throws IOException when a file cannot be opened or a transfer fails
     */
    public long copyFile(String name, long device, long inode, OpenDirectory target, String targetName,
            int copyFlags, ISyncProgressMonitor monitor) throws IOException {
        return nCopyFile(fd(), name, device, inode, target.fd(), targetName, copyFlags, monitor);
    }

    /**
     * The target text of a symbolic link.
     *
     * @param name the link's name here
     * @return its target text
     * @throws ReplacedFileException when the name is no link now
     * @throws IOException when it cannot be read
     */
    public String readLink(String name) throws IOException {
        return nReadLink(fd(), name);
    }

    /**
     * Makes a symbolic link here.
     *
     * @param name the link's name
     * @param target its target text
     * @throws IOException when it cannot be made, such as "Path already exists [17]"
     */
    public void makeLink(String name, String target) throws IOException {
        nMakeLink(fd(), name, target);
    }

    /**
     * Removes an entry that is no directory.
     *
     * @param name its name here
     * @throws IOException when it cannot be removed
     */
    public void remove(String name) throws IOException {
        nRemove(fd(), name);
    }

    /** Closes the descriptor; a second close does nothing. */
    @Override
    public void close() {
        int open = descriptor;
        descriptor = -1;
        if (open >= 0) {
            nClose(open);
        }
    }

    private int fd() throws IOException {
        if (descriptor < 0) {
            throw new IOException("Directory is closed");
        }
        return descriptor;
    }

    /** A directory's records in listing order, each with the device and inode it had. */
    public static final class Entries {
        private final FileInfo[] records;
        private final long[] identities;

        Entries(FileInfo[] records, long[] identities) {
            this.records = records;
            this.identities = identities;
        }

        /**
         * The number of entries.
         *
         * @return how many there are
         */
        public int size() {
            return records.length;
        }

        /**
         * The record of an entry.
         *
         * @param index its position, from 0
         * @return its record
         */
        public FileInfo record(int index) {
            return records[index];
        }

        /**
         * The device of an entry.
         *
         * @param index its position, from 0
         * @return its device, or 0 when it could not be examined
         */
        public long device(int index) {
            return identities[2 * index];
        }

        /**
         * The inode of an entry.
         *
         * @param index its position, from 0
         * @return its inode, or 0 when it could not be examined
         */
        public long inode(int index) {
            return identities[2 * index + 1];
        }
    }

    // Each descriptor-opening native returns {descriptor, device, inode}.
    private static native long[] nOpen(String path, boolean followLast) throws IOException;
    private static native FileInfo nInfo(int fd, String name, int infoMask) throws IOException;
    private static native FileInfo nEntryInfo(int fd, String name, int infoMask) throws IOException;
    private static native FileInfo[] nList(int fd, int infoMask, long[][] identities) throws IOException;
    private static native long[] nOpenDirectory(int fd, String name, long device, long inode) throws IOException;
    private static native long[] nMakeDirectory(int fd, String name, int mode) throws IOException;
    private static native void nChangeOwnMode(int fd, int mode) throws IOException;
    private static native void nChangeMode(int fd, String name, long device, long inode, int mode)
            throws IOException;
    private static native long nCopyFile(int fd, String name, long device, long inode, int targetFd,
            String targetName, int copyFlags, ISyncProgressMonitor monitor) throws IOException;
    private static native String nReadLink(int fd, String name) throws IOException;
    private static native void nMakeLink(int fd, String name, String target) throws IOException;
    private static native void nRemove(int fd, String name) throws IOException;
    private static native void nClose(int fd);
}
