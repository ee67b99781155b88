package com.quenvira.internal.io;

import java.io.IOException;
import java.nio.channels.FileChannel;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.PosixFilePermissions;

/**
 * A directory only this process's user may enter (mode 0700), named
 * {@code basefs-PID-NUMBER}, that holds the library's copy while it is loaded, made
 * inside a {@link TrustedDirectory}. Nobody else can replace, rename or link anything
 * in it between writing and loading. The file {@value #LOCK} inside stays locked
 * (a FileChannel lock) for as long as the directory lives, so that a later load can
 * tell it from one a killed JVM left behind ({@link Leftovers}). Closing removes it.
 */
final class PrivateDirectory implements AutoCloseable {
    static final String PREFIX = "basefs-";
    static final String LOCK = "lock";
    /** The lock file's name until it is locked: a file named LOCK and not locked is always a leftover. */
    static final String LOCK_BEING_MADE = "lock.new";
    private static final String PERMISSIONS = "rwx------";

    private final Path directory;
    private final FileChannel lock;

    private PrivateDirectory(Path directory, FileChannel lock) {
        this.directory = directory;
        this.lock = lock;
    }

    /** Makes a new directory inside {@code parent}, which must be a trusted real path, and locks it. */
    static PrivateDirectory create(Path parent) throws IOException {
        Path directory = Files.createTempDirectory(parent, namePrefix(),
                PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString(PERMISSIONS)));
        try {
            return new PrivateDirectory(directory, lock(directory));
        } catch (IOException | RuntimeException e) {
            delete(directory);
            throw e;
        }
    }

    /** The start of this process's names: the leftover cleaner never opens this JVM's own lock files. */
    static String namePrefix() {
        return PREFIX + ProcessHandle.current().pid() + "-";
    }

    private static FileChannel lock(Path directory) throws IOException {
        Path pending = directory.resolve(LOCK_BEING_MADE);
        FileChannel channel = FileChannel.open(pending, StandardOpenOption.CREATE_NEW, StandardOpenOption.WRITE);
        try {
            channel.lock();
            // A rename keeps the inode and so the lock: the name LOCK appears locked.
            Files.move(pending, directory.resolve(LOCK), StandardCopyOption.ATOMIC_MOVE);
            return channel;
        } catch (IOException | RuntimeException e) {
            channel.close();
            delete(pending);
            throw e;
        }
    }

    /** Where the library's copy goes. */
    Path copy() {
        return directory.resolve(NativeLibraryLoader.FILE_NAME);
    }

    /** Removes the copy, the lock file and the directory, then lets the lock go; the process keeps its mapping. */
    @Override
    public void close() {
        delete(copy());
        delete(directory.resolve(LOCK));
        delete(directory);
        try {
            lock.close();
        } catch (IOException e) {
            // Closing releases the lock whatever close reports.
        }
    }

    private static void delete(Path path) {
        try {
            Files.deleteIfExists(path);
        } catch (IOException e) {
            path.toFile().deleteOnExit();
        }
    }
}
