package com.quenvira.tools;

import com.quenvira.internal.io.BaseFileSystem;
import com.quenvira.io.FileInfo;
import java.io.IOException;

/** Command-line front end of the native library: prints the record of each path it is given. */
public final class BaseFs {
    private static final String PROGRAM = "basefs";
    private static final int EXTENDED_MASK = BaseFileSystem.INFO_ACCESSED | BaseFileSystem.INFO_OWNER
            | BaseFileSystem.INFO_GROUP;

    private BaseFs() {
    }

    public static void main(String[] args) {
        BaseFileSystem.nInitStatic();
        int status = 0;
        for (String path : args) {
            try {
                FileInfo info = BaseFileSystem.nGetFileInfo(path, baseName(path), EXTENDED_MASK);
                System.out.println(path + ": " + info);
            } catch (IOException e) {
                System.err.println(PROGRAM + ": cannot access '" + path + "': " + e.getMessage());
                status = 1;
            }
        }
        System.exit(status);
    }

    private static String baseName(String path) {
        String trimmed = path.endsWith("/") && path.length() > 1 ? path.substring(0, path.length() - 1) : path;
        return trimmed.substring(trimmed.lastIndexOf('/') + 1);
    }
}
