package com.quenvira.io;

import java.lang.annotation.Native;

/**
 * One file's name, type, permissions, size and modification time, as the native library reports it.
 * The type, the permissions and whether the name is hidden travel in one attribute word of
 * {@code ATTR_*} bits.
 */
public class FileInfo {
    // @Native: javac writes these into a C header, which the native library
    // checks its own attribute bits against.
    /** Attribute bit: the file is a directory. */
    @Native public static final int ATTR_DIRECTORY = 0x00000001;
    /** Attribute bit: the name starts with a dot. */
    @Native public static final int ATTR_HIDDEN = 0x00000020;
    /** Attribute bit: the file is a symbolic link (the record describes the link, not its target). */
    @Native public static final int ATTR_SYMLINK = 0x00000040;
    /** Attribute bit: the owner may read the file. */
    @Native public static final int ATTR_OWNER_READ = 0x00010000;
    /** Attribute bit: the owner may write the file. */
    @Native public static final int ATTR_OWNER_WRITE = 0x00020000;
    /** Attribute bit: the owner may execute the file, or search the directory. */
    @Native public static final int ATTR_OWNER_EXECUTE = 0x00040000;
    /** Attribute bit: the group may read the file. */
    @Native public static final int ATTR_GROUP_READ = 0x00080000;
    /** Attribute bit: the group may write the file. */
    @Native public static final int ATTR_GROUP_WRITE = 0x00100000;
    /** Attribute bit: the group may execute the file, or search the directory. */
    @Native public static final int ATTR_GROUP_EXECUTE = 0x00200000;
    /** Attribute bit: others may read the file. */
    @Native public static final int ATTR_OTHERS_READ = 0x00400000;
    /** Attribute bit: others may write the file. */
    @Native public static final int ATTR_OTHERS_WRITE = 0x00800000;
    /** Attribute bit: others may execute the file, or search the directory. */
    @Native public static final int ATTR_OTHERS_EXECUTE = 0x01000000;
    /** Attribute bit: the set-user-ID bit. */
    @Native public static final int ATTR_SET_UID = 0x02000000;
    /** Attribute bit: the set-group-ID bit. */
    @Native public static final int ATTR_SET_GID = 0x04000000;
    /** Attribute bit: the sticky bit. */
    @Native public static final int ATTR_STICKY = 0x08000000;

    private final String name;
    private final int attributes;
    private final long size;
    private final long modified;

    /**
     * Makes a record; the native library calls this for every file it reports.
     *
     * @param name the file's name, kept as given
     * @param attributes the attribute word of {@code ATTR_*} bits
     * @param size the size in bytes
     * @param modified the modification time in milliseconds since the epoch
     */
    public FileInfo(String name, int attributes, long size, long modified) {
        this.name = name;
        this.attributes = attributes;
        this.size = size;
        this.modified = modified;
    }

    /**
     * Returns the name the record was made with.
     *
     * @return the name: the caller's own object for a single file, the entry's name in a listing
     */
    public String getName() {
        return name;
    }

    /**
     * Returns the attribute word.
     *
     * @return the type, hidden and permission bits ({@code ATTR_*})
     */
    public int getAttributes() {
        return attributes;
    }

    /**
     * Returns the size.
     *
     * @return the size in bytes; 0 for a directory
     */
    public long getSize() {
        return size;
    }

    /**
     * Returns the modification time.
     *
     * @return milliseconds since the epoch, in whole seconds
     */
    public long getModified() {
        return modified;
    }

    /**
     * Tells whether the file is a directory.
     *
     * @return true when {@link #ATTR_DIRECTORY} is set
     */
    public boolean isDirectory() {
        return (attributes & ATTR_DIRECTORY) != 0;
    }

    /**
     * Tells whether the file is a symbolic link.
     *
     * @return true when {@link #ATTR_SYMLINK} is set
     */
    public boolean isSymbolicLink() {
        return (attributes & ATTR_SYMLINK) != 0;
    }

    /**
     * Tells whether the name is hidden.
     *
     * @return true when {@link #ATTR_HIDDEN} is set: the name starts with a dot
     */
    public boolean isHidden() {
        return (attributes & ATTR_HIDDEN) != 0;
    }

    @Override
    public String toString() {
        return "FileInfo[name=" + name + ", attributes=0x" + Integer.toHexString(attributes)
                + ", size=" + size + ", modified=" + modified + "]";
    }
}
