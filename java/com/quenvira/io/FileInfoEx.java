package com.quenvira.io;

/** A {@link FileInfo} that also carries the access time and the owner and group IDs, when asked for. */
public class FileInfoEx extends FileInfo {
    private final long accessed;
    private final long created;
    private final int owner;
    private final int group;

    public FileInfoEx(String name, int attributes, long size, long modified, long accessed,
            long created, int owner, int group) {
        super(name, attributes, size, modified);
        this.accessed = accessed;
        this.created = created;
        this.owner = owner;
        this.group = group;
    }

    /** Access time in milliseconds since the epoch, or 0 when it was not asked for. */
    public long getAccessed() {
        return accessed;
    }

    /** Creation time; Linux reports none, so always 0. */
    public long getCreated() {
        return created;
    }

    /** Numeric user ID of the owner, or 0 when it was not asked for. */
    public int getOwner() {
        return owner;
    }

    /** Numeric group ID, or 0 when it was not asked for. */
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
