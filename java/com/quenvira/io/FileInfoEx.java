package com.quenvira.io;

/** A {@link FileInfo} that also carries the access time and the owner and group IDs, when asked for. */
public class FileInfoEx extends FileInfo {
    private final long accessed;
    private final long created;
    private final int owner;
    private final int group;

    /**
     * Makes a record; the native library calls this when a mask asks for more than a {@link FileInfo}.
     *
     * @param name the file's name, kept as given
     * @param attributes the attribute word of {@code ATTR_*} bits
     * @param size the size in bytes
     * @param modified the modification time in milliseconds since the epoch
     * @param accessed the access time in milliseconds since the epoch, or 0
     * @param created the creation time, or 0
     * @param owner the owner's numeric user ID, or 0
     * @param group the numeric group ID, or 0
     */
    public FileInfoEx(String name, int attributes, long size, long modified, long accessed,
            long created, int owner, int group) {
        super(name, attributes, size, modified);
        this.accessed = accessed;
        this.created = created;
        this.owner = owner;
        this.group = group;
    }

    /**
     * Returns the access time.
     *
     * @return milliseconds since the epoch in whole seconds, or 0 when it was not asked for
     */
    public long getAccessed() {
        return accessed;
    }

    /**
     * Returns the creation time.
     *
     * @return always 0: Linux reports no creation time
     */
    public long getCreated() {
        return created;
    }

    /**
     * Returns the owner.
     *
     * @return the owner's numeric user ID, or 0 when it was not asked for
     */
    public int getOwner() {
        return owner;
    }

    /**
     * Returns the group.
     *
     * @return the numeric group ID, or 0 when it was not asked for
     */
    public int getGroup() {
        return group;
    }

    @Override
    public String toString() {
        return "FileInfoEx[name=" + getName() + ", attributes=0x" + Integer.toHexString(getAttributes())
                + ", size=" + getSize() + ", modified=" + getModified() + ", accessed=" + accessed
                + ", created=" + created + ", owner=" + owner + ", group=" + group + "]";
    }
}
