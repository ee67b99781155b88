package com.quenvira.internal.io;

/**
 * One change a {@link Watcher} reported: what happened, to which path
 * (relative to the watched root, with {@code /} between names; {@code ""} is
 * the root itself) and whether that is a directory. Names carry their bytes as
 * a listing's names do.
 *
 * <p>The kinds {@link Kind#OVERFLOW}, {@link Kind#WATCH_LIMIT},
 * {@link Kind#ROOT_GONE} and {@link Kind#UNWATCHED} say that changes may have
 * gone unreported below {@link #path()}: {@link #needsRescan()} is true, and
 * the caller rescans that subtree.
 */
public final class WatchEvent {
    /** What happened. */
    public enum Kind {
        /** Created, or found in a directory that was new or moved in. */
        CREATED,
        /** Deleted. */
        DELETED,
        /** Its contents written. */
        MODIFIED,
        /** Its mode, owner, times or links changed. */
        ATTRIBUTES,
        /** Renamed away from this path; {@link #cookie()} pairs it with its {@link #MOVED_TO}. */
        MOVED_FROM,
        /** Renamed to this path; {@link #cookie()} pairs it with its {@link #MOVED_FROM}. */
        MOVED_TO,
        /** The kernel's queue overflowed: anything may have changed; the path is the root. */
        OVERFLOW,
        /** This directory could not be watched: the watch limit is reached (raise {@code fs.inotify.max_user_watches}). */
        WATCH_LIMIT,
        /** The root itself was deleted or moved: nothing more will be reported. */
        ROOT_GONE,
        /** This directory is no longer, or was never, watched (its file system unmounted, or it could not be opened). */
        UNWATCHED;

        private static final Kind[] BY_NUMBER = values();

        static Kind of(int number) {
            return BY_NUMBER[number - 1];
        }
    }

    private static final int DIRECTORY = 0x100;
    private static final int KIND = 0xff;

    private final Kind kind;
    private final String path;
    private final int cookie;
    private final boolean directory;

    WatchEvent(int kindAndFlags, int cookie, String path) {
        this.kind = Kind.of(kindAndFlags & KIND);
        this.directory = (kindAndFlags & DIRECTORY) != 0;
        this.cookie = cookie;
        this.path = path;
    }

    /**
     * What happened.
     *
     * @return the kind of change
     */
    public Kind kind() {
        return kind;
    }

    /**
     * Where it happened.
     *
     * @return the path relative to the root; {@code ""} for the root
     */
    public String path() {
        return path;
    }

    /**
     * The number a move's two halves share.
     *
     * @return that number for a move reported with one; else 0
     */
    public int cookie() {
        return cookie;
    }

    /**
     * Whether the path is a directory.
     *
     * @return true for a directory
     */
    public boolean isDirectory() {
        return directory;
    }

    /**
     * Whether changes below {@link #path()} may have gone unreported.
     *
     * @return true when that subtree is to be rescanned
     */
    public boolean needsRescan() {
        return kind.compareTo(Kind.OVERFLOW) >= 0;
    }

    @Override
    public String toString() {
        return kind + (directory ? " directory " : " ") + path + (cookie != 0 ? " #" + Integer.toUnsignedString(cookie) : "");
    }
}
