package com.quenvira.test.lister;

import com.quenvira.internal.io.BaseFileSystem;
import com.quenvira.io.FileInfo;
import java.util.Arrays;

/**
 * An application of the library, run from the module path or the class path:
 * prints its own module, the library's, and the sorted names of a directory.
 * A library that cannot be loaded ends it with the loader's message and status 1.
 */
public final class Lister {
    private Lister() {
    }

    public static void main(String[] args) throws Exception {
        System.out.println("program " + moduleName(Lister.class));
        System.out.println("library " + moduleName(BaseFileSystem.class));
        FileInfo[] entries;
        try {
            BaseFileSystem.nInitStatic();
            entries = BaseFileSystem.nListFileInfos(args[0], 0, null, 0);
        } catch (UnsatisfiedLinkError e) {
            System.err.println(e.getMessage());
            System.exit(1);
            return;
        }
        Arrays.stream(entries).map(FileInfo::getName).sorted().forEach(System.out::println);
    }

    /** The name of the module a class is in, "unnamed" for the class path. */
    private static String moduleName(Class<?> c) {
        Module module = c.getModule();
        return module.isNamed() ? module.getName() : "unnamed";
    }
}
