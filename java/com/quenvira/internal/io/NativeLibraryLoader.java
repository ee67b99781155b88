package com.quenvira.internal.io;

import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;

/**
 * Loads libbasefs.so for {@link BaseFileSystem} by the first way that works,
 * and searches {@code java.library.path} itself. The JVM binds a library to the
 * class loader of the class that loads it, so this class and those of the ways
 * must stay in the same jar and loader as {@code BaseFileSystem}. The library itself comes in a
 * natives jar of its platform ({@code basefs-natives-linux-x86_64.jar}), which is
 * also an OSGi fragment of {@code com.quenvira.basefs} naming it in {@code Bundle-NativeCode}.
 *
 * <p>The ways, in order:
 * <ol>
 * <li>the file named by {@value BaseFileSystem#LIBRARY_PATH_PROPERTY}, and nothing else when it is set;
 * <li>inside an OSGi framework, the bundle's native code (the framework's copy of the
 * fragment's library, in its storage: {@link BundleNativeCode});
 * <li>the copy inside the natives jar for this machine (a resource of this class's loader),
 * at {@code com/quenvira/basefs/native/OS-ARCH/libbasefs.so} (for example {@code linux-x86_64},
 * {@code linux-aarch64}): it matches these classes. It is written into a new
 * {@link PrivateDirectory} inside the real path of {@value BaseFileSystem#EXTRACT_DIRECTORY_PROPERTY}
 * (default {@code java.io.tmpdir}), once that is a {@link TrustedDirectory}, loaded from
 * there, and removed with its directory ({@link JarCopy});
 * <li>when these classes are Debian's (their jar lies in /usr/share/java, with no natives
 * jar), the packaged library in the multiarch {@code jni} directory of the JVM's architecture
 * ({@link DebianLibrary});
 * <li>{@code libbasefs.so} in the absolute elements of {@code java.library.path}.
 * </ol>
 * No way ever loads a library through a relative or empty element of
 * {@code java.library.path}, which would name the current directory.
 */
final class NativeLibraryLoader {
    /** Where the jar keeps its libraries, one directory per OS and architecture. */
    static final String RESOURCE_DIRECTORY = "com/quenvira/basefs/native/";
    static final String FILE_NAME = "libbasefs.so";
    /** The option that grants a module native access (JDK 24 and later deny it on request), less the module. */
    private static final String NATIVE_ACCESS_OPTION = "--enable-native-access=";
    /** What the option calls every class on the class path. */
    private static final String UNNAMED_MODULES = "ALL-UNNAMED";

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
                    "native access is denied to " + FILE_NAME + ": start java with "
                            + nativeAccessOption(NativeLibraryLoader.class.getModule()));
            denied.initCause(e);
            throw denied;
        }
    }

    /**
     * The option that grants native access to {@code module}, the one that loads the library:
     * {@code com.quenvira.basefs} when basefs.jar is on the module path, else the class path's.
     */
    private static String nativeAccessOption(Module module) {
        return NATIVE_ACCESS_OPTION + (module.isNamed() ? module.getName() : UNNAMED_MODULES);
    }

    private static void loadFirstAvailable() {
        String explicit = System.getProperty(BaseFileSystem.LIBRARY_PATH_PROPERTY);
        if (explicit != null) {
            // The user chose this file: a failure must show, not be papered over by another copy.
            System.load(explicit);
            return;
        }
        List<String> tried = new ArrayList<>();
        if (BundleNativeCode.inBundle() && BundleNativeCode.load(tried)) {
            return;
        }
        if (JarCopy.load(tried) || DebianLibrary.load(tried)) {
            return;
        }
        if (!loadFromLibraryPath(tried)) {
            throw new UnsatisfiedLinkError("cannot load " + FILE_NAME + ": " + String.join("; ", tried));
        }
    }

    /**
     * {@code libbasefs.so} in the absolute elements of {@code java.library.path}, in
     * order; a relative or empty element is never searched. Adds why it failed to {@code tried}.
     */
    private static boolean loadFromLibraryPath(List<String> tried) {
        String way = "java.library.path";
        String libraryPath = libraryPath();
        List<String> absolute = absoluteElements(libraryPath);
        for (String element : absolute) {
            Path candidate;
            try {
                candidate = Paths.get(element, FILE_NAME);
            } catch (InvalidPathException e) {
                // A name the JVM cannot encode is no directory it can search.
                continue;
            }
            // A library of another processor may lie there: the next element may have ours.
            if (Files.isRegularFile(candidate) && load(candidate.toString(), way, tried)) {
                return true;
            }
        }
        String searched = absolute.isEmpty() ? "no absolute element" : "no " + FILE_NAME + " in " + String.join(":", absolute);
        String skipped = hasRelativeElement(libraryPath) ? " (relative elements are never searched)" : "";
        tried.add(way + ": " + searched + skipped);
        return false;
    }

    /** The JVM's {@code java.library.path}, empty when unset. */
    static String libraryPath() {
        return System.getProperty("java.library.path", "");
    }

    /** The elements of a library path that name a directory whatever the current directory. */
    static List<String> absoluteElements(String libraryPath) {
        List<String> absolute = new ArrayList<>();
        for (String element : libraryPath.split(":", -1)) {
            if (isAbsolute(element)) {
                absolute.add(element);
            }
        }
        return absolute;
    }

    /** Whether a library path has an element that names the current directory or one under it (the JVM reads "" as "."). */
    static boolean hasRelativeElement(String libraryPath) {
        for (String element : libraryPath.split(":", -1)) {
            if (!isAbsolute(element)) {
                return true;
            }
        }
        return false;
    }

    /** Whether a path names the same file whatever the current directory. */
    static boolean isAbsolute(String element) {
        return element.startsWith("/");
    }

    /** Loads {@code file}, the way {@code way} found; adds why it failed to {@code tried}. */
    static boolean load(String file, String way, List<String> tried) {
        try {
            System.load(file);
            return true;
        } catch (UnsatisfiedLinkError e) {
            tried.add(way + ": " + e.getMessage());
            return false;
        }
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
