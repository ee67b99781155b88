package com.quenvira.tools;

import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.Arrays;

/**
 * Where two files first differ, found in Java once the library has said that
 * they do, or in the one pass a pipe allows: the byte and line of the first
 * differing byte, or the end of the shorter file, as GNU cmp reports them.
 */
final class Difference {
    private static final int BLOCK_SIZE = (int) Progress.COMPARE_BLOCK_SIZE;

    /** Which file ended first, 0 or 1; -1 when a byte differs or nothing does. */
    final int ended;
    /** The 1-based number of the first differing byte, or the bytes of the shorter file. */
    final long bytes;
    /** The newlines before the first differing byte or in the shorter file. */
    final long newlines;
    /** Whether the shorter file ends with a newline. */
    final boolean endsWithNewline;
    final boolean found;

    private Difference(boolean found, int ended, long bytes, long newlines, boolean endsWithNewline) {
        this.found = found;
        this.ended = ended;
        this.bytes = bytes;
        this.newlines = newlines;
        this.endsWithNewline = endsWithNewline;
    }

    /**
     * Reads both files from the start, one block of each at a time, asking
     * {@code progress} after each pair of blocks; null when it stops the search.
     * A difference not found (equal contents) has {@code found} false.
     */
    static Difference find(String first, String second, Progress progress) throws IOException {
        try (InputStream a = Files.newInputStream(Paths.get(first)); InputStream b = Files.newInputStream(Paths.get(second))) {
            byte[] blockA = new byte[BLOCK_SIZE];
            byte[] blockB = new byte[BLOCK_SIZE];
            long offset = 0;
            long newlines = 0;
            boolean lastIsNewline = false;
            while (true) {
                int lengthA = fill(a, blockA);
                int lengthB = fill(b, blockB);
                int common = Math.min(lengthA, lengthB);
                int at = Arrays.mismatch(blockA, 0, common, blockB, 0, common);
                if (at >= 0) {
                    return new Difference(true, -1, offset + at + 1, newlines + count(blockA, at), false);
                }
                newlines += count(blockA, common);
                offset += common;
                if (common > 0) {
                    lastIsNewline = blockA[common - 1] == '\n';
                }
                if (lengthA != lengthB) {
                    return new Difference(true, lengthA < lengthB ? 0 : 1, offset, newlines, lastIsNewline);
                }
                if (lengthA < BLOCK_SIZE) {
                    return new Difference(false, -1, offset, newlines, lastIsNewline);
                }
                if (progress.isCanceled()) {
                    return null;
                }
            }
        }
    }

    /** GNU cmp's line for a differing byte (standard output): "a b differ: byte 5, line 3". */
    String differMessage(String first, String second) {
        return first + " " + second + " differ: byte " + bytes + ", line " + (newlines + 1);
    }

    /**
     * GNU cmp's message for a file that ended first (standard error, after the
     * program's name): "EOF on a after byte 4, line 2" when it ends with a
     * newline, "EOF on a after byte 3, in line 2" inside a line, "EOF on a which is empty".
     */
    String endMessage(String first, String second) {
        String name = ended == 0 ? first : second;
        if (bytes == 0) {
            return "EOF on " + name + " which is empty";
        }
        String line = endsWithNewline ? ", line " + newlines : ", in line " + (newlines + 1);
        return "EOF on " + name + " after byte " + bytes + line;
    }

    /** Reads until the block is full or the file ends; returns the bytes read. */
    private static int fill(InputStream in, byte[] block) throws IOException {
        int filled = 0;
        while (filled < block.length) {
            int read = in.read(block, filled, block.length - filled);
            if (read < 0) {
                break;
            }
            filled += read;
        }
        return filled;
    }

    private static long count(byte[] block, int length) {
        long newlines = 0;
        for (int i = 0; i < length; i++) {
            if (block[i] == '\n') {
                newlines++;
            }
        }
        return newlines;
    }
}
