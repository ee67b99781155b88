package com.quenvira.io;

import java.lang.annotation.Native;

/** One file's name, type, permissions, size and modification time, as the native library reports it. */
public class FileInfo {
    // @Native: javac writes these into a C header, which the native library
    // checks its own attribute bits against.
    @Native public static final int ATTR_DIRECTORY = 0x00000001;
    @Native public static final int ATTR_HIDDEN = 0x00000020;
    @Native public static final int ATTR_SYMLINK = 0x00000040;
    @Native public static final int ATTR_OWNER_READ = 0x00010000;
    @Native public static final int ATTR_OWNER_WRITE = 0x00020000;
    @Native public static final int ATTR_OWNER_EXECUTE = 0x00040000;
    @Native public static final int ATTR_GROUP_READ = 0x00080000;
    @Native public static final int ATTR_GROUP_WRITE = 0x00100000;
    @Native public static final int ATTR_GROUP_EXECUTE = 0x00200000;
    @Native public static final int ATTR_OTHERS_READ = 0x00400000;
    @Native public static final int ATTR_OTHERS_WRITE = 0x00800000;
    @Native public static final int ATTR_OTHERS_EXECUTE = 0x01000000;
    @Native public static final int ATTR_SET_UID = 0x02000000;
    @Native public static final int ATTR_SET_GID = 0x04000000;
    @Native public static final int ATTR_STICKY = 0x08000000;

    private final String name;
    private final int attributes;
    private final long size;
    private final long modified;

    public FileInfo(String name, int attributes, long size, long modified) {
        this.name = name;
        this.attributes = attributes;
        this.size = size;
        this.modified = modified;
    }

    public String getName() {
        return name;
    }

    /** The attribute word: type, hidden and permission bits ({@code ATTR_*}). */
    public int getAttributes() {
        return attributes;
    }

    /** Size in bytes; 0 for a directory. */
    public long getSize() {
        return size;
    }

    /** Modification time in milliseconds since the epoch, whole seconds. */
    public long getModified() {
        return modified;
    }

    public boolean isDirectory() {
        return (attributes & ATTR_DIRECTORY) != 0;
    }

    public boolean isSymbolicLink() {
        return (attributes & ATTR_SYMLINK) != 0;
    }

    public boolean isHidden() {
        return (attributes & ATTR_HIDDEN) != 0;
    }

    @Override
    public String toString() {
        return "FileInfo[name=" + name + ", attributes=0x" + Integer.toHexString(attributes)
                + ", size=" + size + ", modified=" + modified + "]";
    }
}
