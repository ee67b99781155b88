package com.quenvira.test;

import java.net.MalformedURLException;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.file.Paths;

/**
 * Loads classes from a jar in a class loader of their own: its parent is the
 * platform loader, so the jar's classes are loaded again, apart from the copies
 * on the class path.
 */
public final class IsolatedLoader {
    private IsolatedLoader() {
    }

    /** Loads and initialises {@code className} from {@code jar} in a new class loader. */
    public static Class<?> load(String jar, String className) throws ClassNotFoundException, MalformedURLException {
        URL[] urls = {Paths.get(jar).toUri().toURL()};
        // Never closed: the loader must stay open for the classes it loads later.
        ClassLoader loader = new URLClassLoader(urls, ClassLoader.getPlatformClassLoader());
        return Class.forName(className, true, loader);
    }
}
