package com.quenvira.tools;

import com.quenvira.io.FileInfo;
import java.io.File;
import java.io.IOException;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.util.Map;

/**
 * The type of a file as ls and stat name it. The library's record knows
 * directories and symbolic links only; for the rest the JDK is asked, and only
 * for records of size 0: on Linux a character or block device, a FIFO and a
 * socket always report size 0 (ext4, XFS, btrfs, tmpfs, devtmpfs), so a plain
 * record with a size is a regular file without a look-up.
 */
final class FileType {
    /** Linux's S_IFMT bits and types. */
    private static final int S_IFMT = 0170000;
    private static final int S_IFSOCK = 0140000;
    private static final int S_IFBLK = 0060000;
    private static final int S_IFCHR = 0020000;
    private static final int S_IFIFO = 0010000;
    private static final int MINOR_LOW_BITS = 0xff;
    private static final int MAJOR_LOW_BITS = 0xfff;

    static final FileType REGULAR = new FileType('-', "regular file", 0);
    static final FileType DIRECTORY = new FileType('d', "directory", 0);
    static final FileType SYMBOLIC_LINK = new FileType('l', "symbolic link", 0);
    static final FileType FIFO = new FileType('p', "fifo", 0);
    static final FileType SOCKET = new FileType('s', "socket", 0);

    /** The type letter of ls -l: '-', 'd', 'l', 'c', 'b', 'p' or 's'. */
    final char letter;
    /** The type in stat's words ("character special file"). */
    final String description;
    /** The device number of a character or block device, as Linux encodes dev_t; 0 for other types. */
    final long device;

    private FileType(char letter, String description, long device) {
        this.letter = letter;
        this.description = description;
        this.device = device;
    }

    boolean isDevice() {
        return letter == 'c' || letter == 'b';
    }

    long major() {
        return majorOf(device);
    }

    /** glibc's major(): bits 8..19 and 32..63. */
    static long majorOf(long device) {
        return (device >>> 8 & MAJOR_LOW_BITS) | (device >>> 32 & ~(long) MAJOR_LOW_BITS);
    }

    static boolean isCharacterDevice(int mode) {
        return (mode & S_IFMT) == S_IFCHR;
    }

    /** glibc's minor(): bits 0..7 and 20..51. */
    long minor() {
        return (device & MINOR_LOW_BITS) | (device >>> 12 & ~(long) MINOR_LOW_BITS);
    }

    /**
     * The type of the file at {@code prefix} followed by {@code name} whose
     * record is {@code info}, without following a link. The path is joined only
     * when the JDK is asked.
     */
    static FileType of(FileInfo info, String prefix, String name) {
        if (info.isDirectory()) {
            return DIRECTORY;
        }
        if (info.isSymbolicLink()) {
            return SYMBOLIC_LINK;
        }
        if (info.getSize() != 0) {
            return REGULAR;
        }
        return lookUp(prefix.concat(name));
    }

    /** The types of records whose paths are {@code prefix} followed by their names. */
    static FileType[] ofAll(FileInfo[] records, String prefix) {
        FileType[] types = new FileType[records.length];
        for (int i = 0; i < records.length; i++) {
            types[i] = of(records[i], prefix, records[i].getName());
        }
        return types;
    }

    /**
     * Asks the JDK: java.io.File's one stat call tells a regular file (the
     * record is no link, so following one does not matter); only what is not
     * regular is examined for its mode. A file that cannot be examined (removed
     * meanwhile) stays what the record said.
     */
    private static FileType lookUp(String path) {
        if (new File(path).isFile()) {
            return REGULAR;
        }
        try {
            Path file = FileSystems.getDefault().getPath(path);
            Map<String, Object> unix = Files.readAttributes(file, "unix:mode,rdev", LinkOption.NOFOLLOW_LINKS);
            int mode = (Integer) unix.get("mode");
            switch (mode & S_IFMT) {
                case S_IFCHR: return new FileType('c', "character special file", (Long) unix.get("rdev"));
                case S_IFBLK: return new FileType('b', "block special file", (Long) unix.get("rdev"));
                case S_IFIFO: return FIFO;
                case S_IFSOCK: return SOCKET;
                default: return REGULAR;
            }
        } catch (IOException | RuntimeException e) {
            // InvalidPathException for a name the JDK cannot encode; the record is all that is known.
            return REGULAR;
        }
    }
}
