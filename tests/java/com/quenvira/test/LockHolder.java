package com.quenvira.test;

import java.io.IOException;
import java.nio.channels.FileChannel;
import java.nio.file.Paths;
import java.nio.file.StandardOpenOption;

/** Holds the FileChannel lock of a file for a test, as a loading JVM holds its lock file. */
public final class LockHolder {
    private LockHolder() {
    }

    /** Locks the whole file; closing the returned channel lets the lock go. */
    public static FileChannel lock(String path) throws IOException {
        FileChannel channel = FileChannel.open(Paths.get(path), StandardOpenOption.WRITE);
        channel.lock();
        return channel;
    }
}
