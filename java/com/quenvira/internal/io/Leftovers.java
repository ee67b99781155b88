package com.quenvira.internal.io;

import java.io.IOException;
import java.nio.channels.FileChannel;
import java.nio.channels.FileLock;
import java.nio.channels.OverlappingFileLockException;
import java.nio.file.DirectoryIteratorException;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.BasicFileAttributes;
import java.time.Duration;
import java.time.Instant;
import java.util.Map;
import java.util.Set;
import java.util.regex.Pattern;

/**
 * Removes the {@link PrivateDirectory} directories that JVMs killed while loading left
 * in a trusted directory: only this user's, only real directories (links are never
 * followed), only those holding nothing but the loader's own files, and only when no
 * process holds their lock. A process ID alone would not do: IDs are reused, and
 * processes of other PID namespaces share the directory.
 */
final class Leftovers {
    /** basefs-PID-NUMBER, and the basefs-NUMBER of loaders that took no lock. */
    private static final Pattern NAME = Pattern.compile(
            Pattern.quote(PrivateDirectory.PREFIX) + "[0-9]+(-[0-9]+)?");
    private static final Set<String> LOADER_FILES =
            Set.of(NativeLibraryLoader.FILE_NAME, PrivateDirectory.LOCK, PrivateDirectory.LOCK_BEING_MADE);
    /** A directory without a lock may be one whose JVM has not taken its lock yet. */
    private static final Duration UNLOCKED_GRACE = Duration.ofMinutes(1);
    private static final int FILE_TYPE = 0170000;
    private static final int DIRECTORY = 0040000;

    private Leftovers() {
    }

    /** Removes what it can; a directory it cannot examine or remove is left as it is. */
    static void remove(Path parent, int self) {
        String own = PrivateDirectory.namePrefix();
        try (DirectoryStream<Path> entries = Files.newDirectoryStream(parent, PrivateDirectory.PREFIX + "*")) {
            for (Path entry : entries) {
                String name = entry.getFileName().toString();
                // This JVM's other class loaders may be loading: opening and closing their
                // lock file would drop this process's lock on it (fcntl locks are per process).
                if (NAME.matcher(name).matches() && !name.startsWith(own)) {
                    removeIfLeft(entry, self);
                }
            }
        } catch (IOException | DirectoryIteratorException e) {
            // Leftovers only take space; loading goes on.
        }
    }

    private static void removeIfLeft(Path directory, int self) {
        try {
            if (!ownDirectory(directory, self) || !onlyLoaderFiles(directory)) {
                return;
            }
            Path lockFile = directory.resolve(PrivateDirectory.LOCK);
            if (!Files.exists(lockFile, LinkOption.NOFOLLOW_LINKS)) {
                if (olderThanGrace(directory)) {
                    removeLoaderFiles(directory);
                }
                return;
            }
            if (!Files.isRegularFile(lockFile, LinkOption.NOFOLLOW_LINKS)) {
                return;
            }
            try (FileChannel channel = FileChannel.open(lockFile, StandardOpenOption.WRITE, LinkOption.NOFOLLOW_LINKS)) {
                // Held while the files go, so that a second cleaner finds it held or gone.
                if (tryLock(channel) != null) {
                    removeLoaderFiles(directory);
                }
            }
        } catch (IOException e) {
            // Gone meanwhile, or not ours to open: left alone.
        }
    }

    /** The lock, or null when another process holds it or this JVM does (another class loader loading now). */
    private static FileLock tryLock(FileChannel channel) throws IOException {
        try {
            return channel.tryLock();
        } catch (OverlappingFileLockException e) {
            return null;
        }
    }

    private static boolean ownDirectory(Path directory, int self) throws IOException {
        Map<String, Object> attributes = Files.readAttributes(directory, "unix:mode,uid", LinkOption.NOFOLLOW_LINKS);
        return ((Integer) attributes.get("mode") & FILE_TYPE) == DIRECTORY && (Integer) attributes.get("uid") == self;
    }

    /** Whether the directory holds the loader's files alone: anything else means it is not the loader's. */
    private static boolean onlyLoaderFiles(Path directory) throws IOException {
        try (DirectoryStream<Path> entries = Files.newDirectoryStream(directory)) {
            for (Path entry : entries) {
                if (!LOADER_FILES.contains(entry.getFileName().toString())) {
                    return false;
                }
            }
        } catch (DirectoryIteratorException e) {
            throw e.getCause();
        }
        return true;
    }

    private static boolean olderThanGrace(Path directory) throws IOException {
        BasicFileAttributes attributes =
                Files.readAttributes(directory, BasicFileAttributes.class, LinkOption.NOFOLLOW_LINKS);
        return attributes.lastModifiedTime().toInstant().isBefore(Instant.now().minus(UNLOCKED_GRACE));
    }

    /** Unlinks the loader's files by name (a link is removed, not followed), then the directory. */
    private static void removeLoaderFiles(Path directory) throws IOException {
        for (String name : LOADER_FILES) {
            Files.deleteIfExists(directory.resolve(name));
        }
        Files.deleteIfExists(directory);
    }
}
