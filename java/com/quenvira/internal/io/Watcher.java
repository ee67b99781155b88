package com.quenvira.internal.io;

import java.io.IOException;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.locks.ReentrantLock;

/**
 * Watches a directory tree for changes on the caller's own thread: no thread
 * is started, in Java or native code. {@link #open(String)} registers the root
 * and every directory below it (walking by descriptors, never through a
 * symbolic link); {@link #poll(long)} waits for changes and returns them in the
 * order the kernel reported them. Directories created or moved into the tree
 * are registered as they appear, and what they already hold is reported as
 * created. Whatever could lose changes is an event itself
 * ({@link WatchEvent#needsRescan()}), never silence.
 *
 * <p>{@link #wakeup()} and {@link #close()} may be called from any thread; one
 * thread polls at a time. {@code BaseFileSystem.nInitStatic()} must have run.
 */
public final class Watcher implements AutoCloseable {
    static {
        LibraryLoad.ensure();
    }

    /**
     * Option of {@link #open(String, int)}: one fanotify mark on the root's whole file system
     * instead of a watch per directory, where the process has {@code CAP_SYS_ADMIN}: no watch
     * limit, nothing to register. Moves are reported without a cookie. Where it cannot be used,
     * each directory is watched and {@link #fallbackReason()} says why.
     */
    public static final int WHOLE_FILE_SYSTEM = 1;

    /** Events handed over by one crossing into native code, at most. */
    private static final int BATCH = 1024;

    private final ReentrantLock polling = new ReentrantLock();
    private final Object state = new Object();
    private final int[] info = new int[2 * BATCH];
    private final String[] paths = new String[BATCH];
    private long handle;
    private String fallbackReason;
    /** Set by close() before it waits for the poll: a poll that starts after returns at once. */
    private volatile boolean closing;

    private Watcher(long handle) {
        this.handle = handle;
    }

    /**
     * Watches the directory {@code root} and every directory below it.
     *
     * @param root the directory, whose path is resolved this once
     * @return the watcher, which the caller closes
     * @throws IOException when the root cannot be opened or watched; a
     *     directory below it that cannot be is reported by the first poll
     */
    public static Watcher open(String root) throws IOException {
        return open(root, 0);
    }

    /**
     * Watches the directory {@code root} and every directory below it, as {@link #open(String)}, with options.
     *
     * @param root the directory, whose path is resolved this once
     * @param options 0, or {@link #WHOLE_FILE_SYSTEM}
     * @return the watcher, which the caller closes
     * @throws IOException when the root cannot be opened or watched
     */
    public static Watcher open(String root, int options) throws IOException {
        Watcher watcher = new Watcher(nOpen(root, options));
        watcher.fallbackReason = nFallbackReason(watcher.handle);
        return watcher;
    }

    /**
     * Why an option asked for was not used: for {@link #WHOLE_FILE_SYSTEM}, what kept fanotify
     * from marking the file system, so that each directory is watched instead.
     *
     * @return the reason, or null when every option asked for is in use
     */
    public String fallbackReason() {
        return fallbackReason;
    }

    /**
     * Returns the changes reported since the last poll, waiting for one first.
     *
     * @param timeoutMillis how long to wait: 0 returns at once, a negative number waits until a change or {@link #wakeup()}
     * @return the changes in the order they were reported; empty when none came in time, when woken, or once closed
     * @throws IOException when the kernel's queue cannot be read
     */
    public List<WatchEvent> poll(long timeoutMillis) throws IOException {
        List<WatchEvent> events = new ArrayList<>();
        polling.lock();
        try {
            if (handle == 0 || closing) {
                return events;
            }
            int count = nPoll(handle, timeoutMillis, info, paths);
            while (count > 0) {
                for (int index = 0; index < count; index++) {
                    events.add(new WatchEvent(info[2 * index], info[2 * index + 1], paths[index]));
                    paths[index] = null;
                }
                count = count == BATCH ? nPoll(handle, 0, info, paths) : 0;
            }
            return events;
        } finally {
            polling.unlock();
        }
    }

    /** Ends a {@link #poll(long)} that is waiting, or the next one, at once; from any thread. */
    public void wakeup() {
        synchronized (state) {
            if (handle != 0) {
                nWakeup(handle);
            }
        }
    }

    /** Stops watching and releases the kernel's resources; a waiting poll returns. From any thread, any number of times. */
    @Override
    public void close() {
        closing = true;
        wakeup();
        polling.lock();
        try {
            synchronized (state) {
                if (handle != 0) {
                    nClose(handle);
                    handle = 0;
                }
            }
        } finally {
            polling.unlock();
        }
    }

    private static native long nOpen(String root, int options) throws IOException;

    private static native String nFallbackReason(long handle);

    private static native int nPoll(long handle, long timeoutMillis, int[] info, String[] paths) throws IOException;

    private static native void nWakeup(long handle);

    private static native void nClose(long handle);
}
