package com.quenvira.bench;

import java.io.IOException;
import java.io.OutputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Comparator;

/** The files the scenarios work on: sizes and their names, files of patterned bytes, and their removal. */
final class BenchFiles {
    static final long MIB = 1024 * 1024;
    static final long GIB = 1024 * MIB;
    private static final int WRITE_CHUNK = (int) (4 * MIB);

    private BenchFiles() {
    }

    /** A file of {@code size} bytes of a repeating pattern, written anew. */
    static Path writeFile(Path file, long size) throws IOException {
        byte[] chunk = new byte[WRITE_CHUNK];
        for (int i = 0; i < chunk.length; i++) {
            chunk[i] = (byte) (i * 31 + 7);
        }
        try (OutputStream out = Files.newOutputStream(file)) {
            for (long written = 0; written < size; written += chunk.length) {
                out.write(chunk, 0, (int) Math.min(chunk.length, size - written));
            }
        }
        return file;
    }

    /** "64 MiB", "1 GiB": a size as the scenarios' titles give it. */
    static String sizeName(long size) {
        return size >= GIB ? size / GIB + " GiB" : size / MIB + " MiB";
    }

    /** Removes a directory and everything under it. */
    static void deleteTree(Path root) throws IOException {
        try (var paths = Files.walk(root)) {
            for (Path path : paths.sorted(Comparator.reverseOrder()).toList()) {
                Files.deleteIfExists(path);
            }
        }
    }
}
