package com.quenvira.bench;

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

    static native int lstatRepeated(String path, int times);

    /** sendfile in 1 MiB steps. */
    static native long sendfileSteps(String src, String dst);

    /** fread 64 KiB + memcmp. */
    static native boolean freadMemcmp(String a, String b);
}
