package com.quenvira.test;

import java.io.File;
import java.net.MalformedURLException;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.file.Paths;

/**
 * Loads classes from jars in a class loader of their own: its parent is the
 * platform loader, so the jars' classes are loaded again, apart from the copies
 * on the class path.
 */
public final class IsolatedLoader {
    private IsolatedLoader() {
    }

    /** Loads and initialises {@code className} from {@code classPath}, jars separated by ':', in a new class loader. */
    public static Class<?> load(String classPath, String className) throws ClassNotFoundException, MalformedURLException {
        String[] jars = classPath.split(File.pathSeparator);
        URL[] urls = new URL[jars.length];
        for (int i = 0; i < jars.length; i++) {
            urls[i] = Paths.get(jars[i]).toUri().toURL();
        }
        // Never closed: the loader must stay open for the classes it loads later.
        ClassLoader loader = new URLClassLoader(urls, ClassLoader.getPlatformClassLoader());
        return Class.forName(className, true, loader);
    }
}
