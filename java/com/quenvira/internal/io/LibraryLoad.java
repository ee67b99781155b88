package com.quenvira.internal.io;

import java.lang.invoke.MethodHandles;

/** Loads the library for the library's own classes, as the host's first use of {@link BaseFileSystem} does. */
final class LibraryLoad {
    private LibraryLoad() {
    }

    static void ensure() {
        try {
            MethodHandles.lookup().ensureInitialized(BaseFileSystem.class);
        } catch (IllegalAccessException e) {
            throw new AssertionError(e);
        }
    }
}
