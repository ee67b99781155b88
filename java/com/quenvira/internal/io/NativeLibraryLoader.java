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
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;

/**
 * Loads libbasefs.so for {@link BaseFileSystem}. The JVM binds a library to the
 * class loader of the class that loads it, so this class must stay in the same
 * jar and loader as {@code BaseFileSystem}. The library itself comes in a
 * natives jar of its platform ({@code basefs-natives-linux-x86_64.jar}), which is
 * also an OSGi fragment of {@code com.quenvira.basefs} naming it in {@code Bundle-NativeCode}.
 *
 * <p>The ways, in order:
 * <ol>
 * <li>the file named by {@value BaseFileSystem#LIBRARY_PATH_PROPERTY}, and nothing else when it is set;
 * <li>inside an OSGi framework, {@code System.loadLibrary}, which asks the bundle's native code
 * (the framework's copy of the fragment's library, in its storage);
 * <li>the copy inside the natives jar for this machine (a resource of this class's loader),
 * at {@code com/quenvira/basefs/native/OS-ARCH/libbasefs.so} (for example {@code linux-x86_64},
 * {@code linux-aarch64}): it matches these classes. It is written into a new private directory
 * (mode 0700) inside {@value BaseFileSystem#EXTRACT_DIRECTORY_PROPERTY} (default
 * {@code java.io.tmpdir}), loaded from there, and removed with its directory;
 * <li>{@code basefs} from {@code java.library.path}, only when no jar carries a library for
 * this machine or its copy could not be written or loaded: a stale library of another version
 * there, or one in the current directory that an empty path element names, never comes first.
 * </ol>
 */
final class NativeLibraryLoader {
    /** Where the jar keeps its libraries, one directory per OS and architecture. */
    static final String RESOURCE_DIRECTORY = "com/quenvira/basefs/native/";
    static final String FILE_NAME = "libbasefs.so";
    private static final String COPY_DIRECTORY_PREFIX = "basefs-";
    /** Only this process's user may enter the copy's directory, whatever the umask. */
    private static final String PRIVATE_DIRECTORY_PERMISSIONS = "rwx------";
    /** A bundle's class loader implements this OSGi interface. */
    private static final String BUNDLE_REFERENCE = "org.osgi.framework.BundleReference";
    /** Mode bits of the directory that receives the copy's own directory. */
    private static final int GROUP_WRITE = 0020;
    private static final int OTHERS_WRITE = 0002;
    private static final int STICKY = 01000;
    private static final int ROOT = 0;
    /** The option that grants native access to classes on the class path (JDK 24 and later deny it on request). */
    private static final String NATIVE_ACCESS_OPTION = "--enable-native-access=ALL-UNNAMED";
    /** Ends every error about the directory of the copy. */
    private static final String MOVE_THE_COPY =
            "; set -D" + BaseFileSystem.EXTRACT_DIRECTORY_PROPERTY + "=DIR to use another directory";

    private NativeLibraryLoader() {
    }

    /**
     * Loads the library by the first way that works.
     *
     * @throws UnsatisfiedLinkError saying what was tried, or that native access is denied
     */
    static void load() {
        try {
            loadFirstAvailable();
        } catch (IllegalCallerException e) {
            // Thrown by System.load and loadLibrary alike when the JVM denies native
            // access; every other way would be denied too.
            UnsatisfiedLinkError denied = new UnsatisfiedLinkError(
                    "native access is denied to " + FILE_NAME + ": start java with " + NATIVE_ACCESS_OPTION);
            denied.initCause(e);
            throw denied;
        }
    }

    private static void loadFirstAvailable() {
        String explicit = System.getProperty(BaseFileSystem.LIBRARY_PATH_PROPERTY);
        if (explicit != null) {
            // The user chose this file: a failure must show, not be papered over by another copy.
            System.load(explicit);
            return;
        }
        List<String> tried = new ArrayList<>();
        if (inBundle() && loadFromLibraryPath(tried, "the bundle's native code")) {
            return;
        }
        if (loadFromJar(tried)) {
            return;
        }
        if (!loadFromLibraryPath(tried, "java.library.path")) {
            throw new UnsatisfiedLinkError("cannot load " + FILE_NAME + ": " + String.join("; ", tried));
        }
    }

    /** Whether this class was loaded by an OSGi bundle's class loader. */
    private static boolean inBundle() {
        ClassLoader loader = NativeLibraryLoader.class.getClassLoader();
        for (Class<?> c = loader != null ? loader.getClass() : null; c != null; c = c.getSuperclass()) {
            for (Class<?> implemented : c.getInterfaces()) {
                if (implemented.getName().equals(BUNDLE_REFERENCE)) {
                    return true;
                }
            }
        }
        return false;
    }

    /**
     * {@code System.loadLibrary}: in a bundle the framework's copy of its native code,
     * elsewhere {@code java.library.path}. Adds why it failed to {@code tried}.
     */
    private static boolean loadFromLibraryPath(List<String> tried, String way) {
        try {
            System.loadLibrary(BaseFileSystem.LIBRARY_NAME);
            return true;
        } catch (UnsatisfiedLinkError e) {
            // Also when another class loader already holds the file found there.
            tried.add(way + ": " + e.getMessage());
            return false;
        }
    }

    /**
     * Loads the jar's copy for this machine. Returns false, with the reason added to
     * {@code tried}, when the jar has none or the copy could not be written or loaded.
     */
    private static boolean loadFromJar(List<String> tried) {
        String resource = RESOURCE_DIRECTORY + platform() + "/" + FILE_NAME;
        InputStream in = NativeLibraryLoader.class.getResourceAsStream("/" + resource);
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
     * Writes the library into a directory of its own and loads it from there. Nobody
     * else can enter that directory, so nothing can be replaced, renamed or linked
     * between writing and loading; the unique name lets every class loader and every
     * JVM load a copy of its own (the JVM refuses a file another loader has loaded).
     * Returns null once loaded, else why it was not.
     */
    private static String loadCopy(InputStream library) {
        Path parent;
        try {
            parent = extractDirectory();
        } catch (InvalidPathException e) {
            // A name the JVM cannot encode, such as non-ASCII under LANG=C.
            return "cannot be written to " + e.getInput() + " (" + e.getReason() + ")";
        }
        String unsafe = unsafeParent(parent);
        if (unsafe != null) {
            return "cannot be written to " + parent + " (" + unsafe + ")";
        }
        Path directory;
        try {
            directory = Files.createTempDirectory(parent, COPY_DIRECTORY_PREFIX,
                    PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString(PRIVATE_DIRECTORY_PERMISSIONS)));
        } catch (IOException | UnsupportedOperationException e) {
            return "cannot be written to " + parent + " (" + reason(e) + ")";
        }
        Path copy = directory.resolve(FILE_NAME);
        try {
            // Created exclusively and written in place: never unlinked and made again.
            Files.copy(library, copy);
            System.load(copy.toString());
            return null;
        } catch (IOException e) {
            return "cannot be written to " + parent + " (" + reason(e) + ")";
        } catch (UnsatisfiedLinkError e) {
            // Typically a directory mounted noexec, where no library can be mapped.
            return "cannot be loaded from " + parent + " (" + e.getMessage() + ")";
        } finally {
            delete(copy);
            delete(directory);
        }
    }

    /**
     * Why another user could rename or replace the copy's directory inside
     * {@code parent}, or null when nobody but this user and root can: a parent that
     * others may write to needs the sticky bit, which keeps their hands off entries
     * they do not own, and a parent owned by another user is that user's to change.
     * A parent that cannot be examined is left to the attempt to write into it.
     */
    private static String unsafeParent(Path parent) {
        int mode;
        int owner;
        try {
            mode = (Integer) Files.getAttribute(parent, "unix:mode");
            owner = (Integer) Files.getAttribute(parent, "unix:uid");
        } catch (IOException | UnsupportedOperationException | IllegalArgumentException e) {
            return null;
        }
        if ((mode & (GROUP_WRITE | OTHERS_WRITE)) != 0 && (mode & STICKY) == 0) {
            return "writable by other users, without the sticky bit";
        }
        Integer self = currentUser();
        if (owner != ROOT && self != null && owner != self) {
            return "owned by another user";
        }
        return null;
    }

    /** This process's user ID: the owner of its /proc entry; null where that cannot be read. */
    private static Integer currentUser() {
        try {
            return (Integer) Files.getAttribute(Paths.get("/proc/self"), "unix:uid");
        } catch (IOException | UnsupportedOperationException | IllegalArgumentException e) {
            return null;
        }
    }

    /** The process keeps its mapping of a loaded library; the file itself is no longer needed. */
    private static void delete(Path path) {
        try {
            Files.deleteIfExists(path);
        } catch (IOException e) {
            path.toFile().deleteOnExit();
        }
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

    /** This machine's key in the jar, such as "linux-x86_64". */
    static String platform() {
        String os = System.getProperty("os.name").toLowerCase(Locale.ROOT).replace(" ", "");
        return os + "-" + architecture(System.getProperty("os.arch"));
    }

    /** The JDK's name of a processor architecture, in the names the build and the kernel use. */
    static String architecture(String osArch) {
        switch (osArch) {
            case "amd64":
            case "x86_64":
                return "x86_64";
            case "aarch64":
            case "arm64":
                return "aarch64";
            default:
                return osArch;
        }
    }
}
