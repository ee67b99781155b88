package com.quenvira.internal.io;

import java.io.IOException;
import java.io.InputStream;
import java.nio.file.AccessDeniedException;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.util.Locale;

/**
 * Loads libbasefs.so for {@link BaseFileSystem}. The JVM binds a library to the
 * class loader of the class that loads it, so this class must stay in the same
 * jar and loader as {@code BaseFileSystem}.
 *
 * <p>The ways, in order: the file named by {@value BaseFileSystem#LIBRARY_PATH_PROPERTY}
 * (and nothing else when it is set); {@code basefs} from {@code java.library.path};
 * the copy inside the jar for this machine, at {@code com/quenvira/basefs/native/OS-ARCH/libbasefs.so}
 * (for example {@code linux-x86_64}, {@code linux-aarch64}), written to a uniquely named
 * file in {@value BaseFileSystem#EXTRACT_DIRECTORY_PROPERTY} (default {@code java.io.tmpdir}),
 * loaded, and deleted again.
 */
final class NativeLibraryLoader {
    /** Where the jar keeps its libraries, one directory per OS and architecture. */
    static final String RESOURCE_DIRECTORY = "com/quenvira/basefs/native/";
    static final String FILE_NAME = "libbasefs.so";
    private static final String COPY_PREFIX = "libbasefs-";
    private static final String COPY_SUFFIX = ".so";
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
        String notOnLibraryPath;
        try {
            System.loadLibrary(BaseFileSystem.LIBRARY_NAME);
            return;
        } catch (UnsatisfiedLinkError e) {
            // Also when another class loader already holds the file found there.
            notOnLibraryPath = e.getMessage();
        }
        loadFromJar("cannot load " + FILE_NAME + " (" + notOnLibraryPath + ")");
    }

    private static void loadFromJar(String tried) {
        String resource = RESOURCE_DIRECTORY + platform() + "/" + FILE_NAME;
        InputStream in = NativeLibraryLoader.class.getResourceAsStream("/" + resource);
        if (in == null) {
            throw new UnsatisfiedLinkError(tried + ", and the jar holds no " + resource);
        }
        try (in) {
            loadCopy(in, extractDirectory(), tried);
        } catch (IOException e) {
            // Only closing the resource can fail here, once the library is loaded: nothing is lost.
        }
    }

    /**
     * Writes the library to a file of its own and loads that. A unique name lets
     * every class loader and every JVM load a copy of its own: the JVM refuses a
     * file that another class loader has loaded.
     */
    private static void loadCopy(InputStream library, Path directory, String tried) {
        Path copy;
        try {
            copy = Files.createTempFile(directory, COPY_PREFIX, COPY_SUFFIX);
        } catch (IOException e) {
            throw cannotWrite(tried, directory, e);
        }
        try {
            Files.copy(library, copy, StandardCopyOption.REPLACE_EXISTING);
            System.load(copy.toString());
        } catch (IOException e) {
            throw cannotWrite(tried, directory, e);
        } catch (UnsatisfiedLinkError e) {
            // Typically a directory mounted noexec, where no library can be mapped.
            throw new UnsatisfiedLinkError(tried + ", and its copy from the jar cannot be loaded from "
                    + directory + " (" + e.getMessage() + ")" + MOVE_THE_COPY);
        } finally {
            delete(copy);
        }
    }

    /** The process keeps its mapping of a loaded library; the file itself is no longer needed. */
    private static void delete(Path copy) {
        try {
            Files.deleteIfExists(copy);
        } catch (IOException e) {
            copy.toFile().deleteOnExit();
        }
    }

    private static Path extractDirectory() {
        String directory = System.getProperty(BaseFileSystem.EXTRACT_DIRECTORY_PROPERTY);
        // System.load takes absolute paths only.
        return Paths.get(directory != null ? directory : System.getProperty("java.io.tmpdir")).toAbsolutePath();
    }

    private static UnsatisfiedLinkError cannotWrite(String tried, Path directory, IOException e) {
        return new UnsatisfiedLinkError(tried + ", and its copy from the jar cannot be written to "
                + directory + " (" + reason(e) + ")" + MOVE_THE_COPY);
    }

    /** Why a file operation failed, in a few words. */
    private static String reason(IOException e) {
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
