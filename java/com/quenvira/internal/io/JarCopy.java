package com.quenvira.internal.io;

import java.io.IOException;
import java.io.InputStream;
import java.nio.file.AccessDeniedException;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;

/**
 * The library the natives jar for this machine holds, written into a new
 * {@link PrivateDirectory} inside the real path of the directory for copies
 * (once that is a {@link TrustedDirectory}), loaded from there, and removed
 * with its directory.
 */
final class JarCopy {
    /** Ends every error about the directory of the copy. */
    private static final String MOVE_THE_COPY =
            "; set -D" + BaseFileSystem.EXTRACT_DIRECTORY_PROPERTY + "=DIR to use another directory";

    private JarCopy() {
    }

    /**
     * Loads the jar's copy for this machine. Returns false, with the reason added to
     * {@code tried}, when the jar has none or the copy could not be written or loaded.
     */
    static boolean load(List<String> tried) {
        String resource = NativeLibraryLoader.RESOURCE_DIRECTORY + NativeLibraryLoader.platform() + "/"
                + NativeLibraryLoader.FILE_NAME;
        InputStream in = openResource(resource);
        if (in == null) {
            tried.add("the jar holds no " + resource);
            return false;
        }
        try (in) {
            String failure = loadCopy(in);
            if (failure == null) {
                return true;
            }
            tried.add("the jar's copy " + failure + MOVE_THE_COPY);
        } catch (IOException e) {
            // Only closing the resource can fail here, once the library is loaded: nothing is lost.
            return true;
        }
        return false;
    }

    /**
     * The resource through this class's loader, which finds it in the natives jar on the
     * class path, on the module path and in a bundle's fragment alike; Class.getResourceAsStream
     * would search only this module once basefs.jar is a named one. The natives jar's
     * directory is no legal package name ("native" is a keyword), so no module hides it.
     */
    private static InputStream openResource(String resource) {
        ClassLoader loader = NativeLibraryLoader.class.getClassLoader();
        if (loader == null) {
            return ClassLoader.getSystemResourceAsStream(resource);
        }
        return loader.getResourceAsStream(resource);
    }

    /**
     * Writes the library into a private directory of its own inside the real path of the
     * directory for copies, and loads it from there; the unique name lets every class
     * loader and every JVM load a copy of its own (the JVM refuses a file another loader
     * has loaded). Returns null once loaded, else why it was not.
     */
    private static String loadCopy(InputStream library) {
        Path given;
        try {
            given = extractDirectory();
        } catch (InvalidPathException e) {
            // A name the JVM cannot encode, such as non-ASCII under LANG=C.
            return "cannot be written to " + e.getInput() + " (" + e.getReason() + ")";
        }
        Integer self = TrustedDirectory.currentUser();
        if (self == null) {
            return "cannot be written to " + given + " (this process's user ID cannot be read)";
        }
        Path parent;
        try {
            parent = TrustedDirectory.resolve(given, self);
        } catch (IOException e) {
            return "cannot be written to " + given + " (" + refusal(e, given) + ")";
        }
        Leftovers.remove(parent, self);
        try (PrivateDirectory directory = PrivateDirectory.create(parent)) {
            // Created exclusively and written in place: never unlinked and made again.
            Files.copy(library, directory.copy());
            System.load(directory.copy().toString());
            return null;
        } catch (IOException | UnsupportedOperationException e) {
            return "cannot be written to " + parent + " (" + reason(e) + ")";
        } catch (UnsatisfiedLinkError e) {
            // Typically a directory mounted noexec, where no library can be mapped.
            return "cannot be loaded from " + parent + " (" + e.getMessage() + ")";
        }
    }

    /** Why the directory for copies was refused, naming the component refused when it is another path. */
    private static String refusal(IOException e, Path given) {
        String component = e instanceof FileSystemException ? ((FileSystemException) e).getFile() : null;
        if (component == null || component.equals(given.toString())) {
            return reason(e);
        }
        return component + ": " + reason(e);
    }

    /** The directory that receives the copy's own directory; System.load takes absolute paths only. */
    private static Path extractDirectory() {
        String directory = System.getProperty(BaseFileSystem.EXTRACT_DIRECTORY_PROPERTY);
        return Paths.get(directory != null ? directory : System.getProperty("java.io.tmpdir")).toAbsolutePath();
    }

    /** Why a file operation failed, in a few words. */
    private static String reason(Exception e) {
        if (e instanceof AccessDeniedException) {
            return "permission denied";
        }
        if (e instanceof NoSuchFileException) {
            return "no such directory";
        }
        if (e instanceof FileSystemException && ((FileSystemException) e).getReason() != null) {
            return ((FileSystemException) e).getReason();
        }
        return e.toString();
    }
}
