package com.quenvira.internal.io;

import java.lang.reflect.Method;
import java.util.List;

/**
 * The library as an OSGi framework gives it: the bundle's native code, the
 * framework's copy of the natives fragment's library in its storage.
 */
final class BundleNativeCode {
    /** A bundle's class loader implements this OSGi interface. */
    private static final String BUNDLE_REFERENCE = "org.osgi.framework.BundleReference";
    private static final String WAY = "the bundle's native code";

    private BundleNativeCode() {
    }

    /** Whether these classes were loaded by an OSGi bundle's class loader. */
    static boolean inBundle() {
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
     * Loads the bundle's native code. {@code System.loadLibrary} asks the bundle's class loader
     * and, when the bundle has none, searches {@code java.library.path}, where an empty or
     * relative element names the current directory: it is called only when there is no such
     * element. Otherwise the class loader is asked itself, as the JVM would ask it, when its
     * class allows that; else this way is skipped. Adds why it failed to {@code tried}.
     */
    static boolean load(List<String> tried) {
        if (!NativeLibraryLoader.hasRelativeElement(NativeLibraryLoader.libraryPath())) {
            try {
                System.loadLibrary(BaseFileSystem.LIBRARY_NAME);
                return true;
            } catch (UnsatisfiedLinkError e) {
                // Also when another class loader already holds the file found there.
                tried.add(WAY + ": " + e.getMessage());
                return false;
            }
        }
        String found;
        try {
            found = findLibrary(NativeLibraryLoader.class.getClassLoader());
        } catch (ReflectiveOperationException | RuntimeException e) {
            tried.add(WAY + ": skipped, java.library.path has a relative element and the bundle's class loader"
                    + " cannot be asked (" + e + ")");
            return false;
        }
        if (found == null || !NativeLibraryLoader.isAbsolute(found)) {
            tried.add(WAY + ": the bundle has no " + NativeLibraryLoader.FILE_NAME + " for this machine");
            return false;
        }
        return NativeLibraryLoader.load(found, WAY, tried);
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
}
