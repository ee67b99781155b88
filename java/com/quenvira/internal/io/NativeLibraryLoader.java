package com.quenvira.internal.io;

import java.io.IOException;
import java.io.InputStream;
import java.lang.reflect.Method;
import java.net.URISyntaxException;
import java.nio.file.AccessDeniedException;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.security.CodeSource;
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
 * <li>inside an OSGi framework, the bundle's native code (the framework's copy of the
 * fragment's library, in its storage);
 * <li>the copy inside the natives jar for this machine (a resource of this class's loader),
 * at {@code com/quenvira/basefs/native/OS-ARCH/libbasefs.so} (for example {@code linux-x86_64},
 * {@code linux-aarch64}): it matches these classes. It is written into a new
 * {@link PrivateDirectory} inside the real path of {@value BaseFileSystem#EXTRACT_DIRECTORY_PROPERTY}
 * (default {@code java.io.tmpdir}), once that is a {@link TrustedDirectory}, loaded from
 * there, and removed with its directory;
 * <li>when these classes are Debian's (their jar lies in /usr/share/java, with no natives
 * jar), the packaged library in the multiarch {@code jni} directory of the JVM's architecture;
 * <li>{@code libbasefs.so} in the absolute elements of {@code java.library.path}.
 * </ol>
 * No way ever loads a library through a relative or empty element of
 * {@code java.library.path}, which would name the current directory.
 */
final class NativeLibraryLoader {
    /** Where the jar keeps its libraries, one directory per OS and architecture. */
    static final String RESOURCE_DIRECTORY = "com/quenvira/basefs/native/";
    static final String FILE_NAME = "libbasefs.so";
    /** A bundle's class loader implements this OSGi interface. */
    private static final String BUNDLE_REFERENCE = "org.osgi.framework.BundleReference";
    /** Where Debian's libbasefs-java installs the jars. */
    private static final Path DEBIAN_JARS = Paths.get("/usr/share/java");
    /** Where Debian's libbasefs-jni installs the library, by multiarch triplet. */
    private static final String DEBIAN_LIBRARY = "/usr/lib/%s/jni/" + FILE_NAME;
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
        if (inBundle() && loadFromBundle(tried)) {
            return;
        }
        if (loadFromJar(tried) || loadPackaged(tried)) {
            return;
        }
        if (!loadFromLibraryPath(tried)) {
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
     * The bundle's native code. {@code System.loadLibrary} asks the bundle's class loader
     * and, when the bundle has none, searches {@code java.library.path}, where an empty or
     * relative element names the current directory: it is called only when there is no such
     * element. Otherwise the class loader is asked itself, as the JVM would ask it, when its
     * class allows that; else this way is skipped. Adds why it failed to {@code tried}.
     */
    private static boolean loadFromBundle(List<String> tried) {
        String way = "the bundle's native code";
        if (!hasRelativeElement(libraryPath())) {
            try {
                System.loadLibrary(BaseFileSystem.LIBRARY_NAME);
                return true;
            } catch (UnsatisfiedLinkError e) {
                // Also when another class loader already holds the file found there.
                tried.add(way + ": " + e.getMessage());
                return false;
            }
        }
        String found;
        try {
            found = findLibrary(NativeLibraryLoader.class.getClassLoader());
        } catch (ReflectiveOperationException | RuntimeException e) {
            tried.add(way + ": skipped, java.library.path has a relative element and the bundle's class loader"
                    + " cannot be asked (" + e + ")");
            return false;
        }
        if (found == null || !isAbsolute(found)) {
            tried.add(way + ": the bundle has no " + FILE_NAME + " for this machine");
            return false;
        }
        return load(found, way, tried);
    }

    /** What the loader's own findLibrary answers (protected in ClassLoader, overridden by a bundle's loader). */
    private static String findLibrary(ClassLoader loader) throws ReflectiveOperationException {
        for (Class<?> c = loader.getClass(); c != null && c != ClassLoader.class; c = c.getSuperclass()) {
            Method find;
            try {
                find = c.getDeclaredMethod("findLibrary", String.class);
            } catch (NoSuchMethodException e) {
                continue;
            }
            find.setAccessible(true);
            return (String) find.invoke(loader, BaseFileSystem.LIBRARY_NAME);
        }
        return null;
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

    /**
     * Debian's libbasefs-java ships no natives jar: its jars in /usr/share/java go with
     * libbasefs-jni's library, found at its absolute path for the JVM's own architecture.
     * Tried only for those jars; adds why it failed to {@code tried}.
     */
    private static boolean loadPackaged(List<String> tried) {
        if (!fromDebianJars()) {
            return false;
        }
        String way = "the packaged library";
        String library = packagedLibrary(System.getProperty("os.arch"));
        if (library == null) {
            tried.add(way + ": no Debian architecture is known for " + System.getProperty("os.arch"));
            return false;
        }
        if (!Files.isRegularFile(Paths.get(library))) {
            tried.add(way + ": no " + library);
            return false;
        }
        return load(library, way, tried);
    }

    /** Whether this class's jar is, once links are resolved, one of /usr/share/java. */
    private static boolean fromDebianJars() {
        try {
            CodeSource source = NativeLibraryLoader.class.getProtectionDomain().getCodeSource();
            if (source == null || source.getLocation() == null) {
                return false;
            }
            return Paths.get(source.getLocation().toURI()).toRealPath().startsWith(DEBIAN_JARS);
        } catch (URISyntaxException | IOException | RuntimeException e) {
            // Not a file (a bundle's entry, say), or one that cannot be resolved.
            return false;
        }
    }

    /** Debian's packaged library for the JDK's architecture name, or null for an architecture it has no name for. */
    static String packagedLibrary(String osArch) {
        String triplet = multiarchTriplet(osArch);
        return triplet == null ? null : String.format(DEBIAN_LIBRARY, triplet);
    }

    /** Debian's multiarch triplet of a 64-bit Linux architecture, by the JDK's name of it. */
    static String multiarchTriplet(String osArch) {
        switch (architecture(osArch)) {
            case "x86_64":
            case "aarch64":
            case "riscv64":
            case "s390x":
                return architecture(osArch) + "-linux-gnu";
            case "ppc64le":
                return "powerpc64le-linux-gnu";
            default:
                return null;
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

    private static String libraryPath() {
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

    private static boolean isAbsolute(String element) {
        return element.startsWith("/");
    }

    private static boolean load(String file, String way, List<String> tried) {
        try {
            System.load(file);
            return true;
        } catch (UnsatisfiedLinkError e) {
            tried.add(way + ": " + e.getMessage());
            return false;
        }
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
