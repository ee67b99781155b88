package com.quenvira.test;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Paths;

/** The JDK's own view of files, for comparing names with the library's. */
public final class NioFiles {
    private NioFiles() {
    }

    /** Creates a file through java.nio, encoding the name as the JDK does. */
    public static void createFile(String path, String contents) throws IOException {
        Files.writeString(Paths.get(path), contents);
    }

    public static boolean exists(String path) {
        return Files.exists(Paths.get(path));
    }
}
