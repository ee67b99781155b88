package com.quenvira.bench;

import com.quenvira.io.FileInfo;

/** Plain C loops, run in the same JVM as the library: the floor of each operation. */
final class NativeLoops {
    static final String LIBRARY_PATH_PROPERTY = "com.quenvira.basefs.bench.library";

    static {
        System.load(System.getProperty(LIBRARY_PATH_PROPERTY));
    }

    private NativeLoops() {
    }

    /** readdir + lstat of the joined path; dir ends with "/". */
    static native int readdirLstat(String dir);

    /** getdents64 + fstatat on the directory's descriptor. */
    static native int getdentsFstatat(String dir);

    /**
     * The library's listing one step at a time: 0 readdir + fstatat, 1 and each record written into
     * a batch, 2 and each batch made into records by one upcall, into an array of {@code capacity}
     * made beforehand.
     */
    static native int listSteps(String dir, int steps, int capacity);

    /**
     * nGetFileInfo one step at a time, one native call per file: 0 the call alone, 1 and the path's
     * conversion, 2 and lstat, 3 and the name's first character, 4 and the record (NewObjectA);
     * 5 step 3 and the record by one upcall to {@link #record} instead. Returns the file's size.
     */
    static native long statSteps(String path, String name, int steps);

    /** The record of step 5, made in compiled Java for the native caller. */
    static FileInfo record(String name, int attributes, long size, long modified) {
        return new FileInfo(name, attributes, size, modified);
    }

    static native int lstatRepeated(String path, int times);

    /** sendfile in 1 MiB steps. */
    static native long sendfileSteps(String src, String dst);

    /** fread 64 KiB + memcmp. */
    static native boolean freadMemcmp(String a, String b);
}
