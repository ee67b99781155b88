package com.quenvira.internal.io;

import java.io.IOException;
import java.net.URISyntaxException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.security.CodeSource;
import java.util.List;

/**
 * Debian's packaged library: libbasefs-java ships no natives jar, and its
 * jars in /usr/share/java go with libbasefs-jni's library, found at its
 * absolute path in the multiarch {@code jni} directory of the JVM's architecture.
 */
final class DebianLibrary {
    /** Where Debian's libbasefs-java installs the jars. */
    private static final Path DEBIAN_JARS = Paths.get("/usr/share/java");
    /** Where Debian's libbasefs-jni installs the library, by multiarch triplet. */
    private static final String DEBIAN_LIBRARY = "/usr/lib/%s/jni/" + NativeLibraryLoader.FILE_NAME;
    private static final String WAY = "the packaged library";

    private DebianLibrary() {
    }

    /** Loads the packaged library, tried only for Debian's jars; adds why it failed to {@code tried}. */
    static boolean load(List<String> tried) {
        if (!fromDebianJars()) {
            return false;
        }
        String library = packagedLibrary(System.getProperty("os.arch"));
        if (library == null) {
            tried.add(WAY + ": no Debian architecture is known for " + System.getProperty("os.arch"));
            return false;
        }
        if (!Files.isRegularFile(Paths.get(library))) {
            tried.add(WAY + ": no " + library);
            return false;
        }
        return NativeLibraryLoader.load(library, WAY, tried);
    }

    /** Whether these classes' jar is, once links are resolved, one of /usr/share/java. */
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
        String architecture = NativeLibraryLoader.architecture(osArch);
        switch (architecture) {
            case "x86_64":
            case "aarch64":
            case "riscv64":
            case "s390x":
                return architecture + "-linux-gnu";
            case "ppc64le":
                return "powerpc64le-linux-gnu";
            default:
                return null;
        }
    }
}
