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

    /** @return what happened */
    public Kind kind() {
        return kind;
    }

    /** @return the path relative to the root; {@code ""} for the root */
    public String path() {
        return path;
    }

    /** @return for a move, the number its two halves share; else 0 */
    public int cookie() {
        return cookie;
    }

    /** @return whether the path is a directory */
    public boolean isDirectory() {
        return directory;
    }

    /** @return whether changes below {@link #path()} may have gone unreported, so that it is to be rescanned */
    public boolean needsRescan() {
        return kind.compareTo(Kind.OVERFLOW) >= 0;
    }

    @Override
    public String toString() {
        return kind + (directory ? " directory " : " ") + path + (cookie != 0 ? " #" + Integer.toUnsignedString(cookie) : "");
    }
}
