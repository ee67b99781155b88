package com.quenvira.tools;

import com.quenvira.internal.io.FileComparison;
import java.io.IOException;
import java.io.InputStream;
import java.util.Arrays;

/**
 * Where two streams differ, as the library finds it in two files, or found in
 * Java in the one pass a pipe allows: the byte and line of the first
 * differing byte, or the end of the shorter stream, as GNU cmp reports them;
 * for cmp -l every differing byte, and for cmp -n within a limit.
 */
final class Difference {
    private static final int BLOCK_SIZE = (int) Progress.COMPARE_BLOCK_SIZE;
    private static final int BYTE_MASK = 0xff;

    /** cmp -l: told of each differing byte, in order. */
    interface Listing {
        /** {@code number} counts from 1; the bytes are 0 to 255. */
        void differ(long number, int first, int second);
    }

    /** Which stream ended first, 0 or 1; -1 when a byte differs or nothing does. */
    final int ended;
    /** The 1-based number of the first differing byte, or the bytes of the shorter stream. */
    final long bytes;
    /** The newlines before the first differing byte or in the shorter stream. */
    final long newlines;
    /** Whether the shorter stream ends with a newline. */
    final boolean endsWithNewline;
    /** Whether any byte differs or one stream ended first. */
    final boolean found;

    private Difference(boolean found, int ended, long bytes, long newlines, boolean endsWithNewline) {
        this.found = found;
        this.ended = ended;
        this.bytes = bytes;
        this.newlines = newlines;
        this.endsWithNewline = endsWithNewline;
    }

    /** The first difference the library found, as {@link FileComparison#firstDifference} gives it. */
    static Difference of(long[] where) {
        return new Difference(true, (int) where[FileComparison.ENDED], where[FileComparison.BYTES],
                where[FileComparison.NEWLINES], where[FileComparison.ENDS_WITH_NEWLINE] != 0);
    }

    /**
     * Reads at most {@code limit} bytes of each stream, one block of each at a
     * time, asking {@code progress} after each pair of blocks; null when it
     * stops the search. Without a {@code listing} the search ends at the first
     * differing byte; with one it goes on to the end, telling it of each.
     */
    static Difference find(InputStream a, InputStream b, long limit, Progress progress, Listing listing)
            throws IOException {
        byte[] blockA = new byte[BLOCK_SIZE];
        byte[] blockB = new byte[BLOCK_SIZE];
        long offset = 0;
        long newlines = 0;
        boolean lastIsNewline = false;
        boolean differs = false;
        while (true) {
            int wanted = (int) Math.min(BLOCK_SIZE, limit - offset);
            int lengthA = fill(a, blockA, wanted);
            int lengthB = fill(b, blockB, wanted);
            int common = Math.min(lengthA, lengthB);
            int at = Arrays.mismatch(blockA, 0, common, blockB, 0, common);
            if (at >= 0 && listing == null) {
                return new Difference(true, -1, offset + at + 1, newlines + count(blockA, at), false);
            }
            if (at >= 0) {
                differs = true;
                list(blockA, blockB, at, common, offset, listing);
            }
            newlines += count(blockA, common);
            offset += common;
            if (common > 0) {
                lastIsNewline = blockA[common - 1] == '\n';
            }
            if (lengthA != lengthB) {
                return new Difference(true, lengthA < lengthB ? 0 : 1, offset, newlines, lastIsNewline);
            }
            if (lengthA < wanted || offset == limit) {
                return new Difference(differs, -1, offset, newlines, lastIsNewline);
            }
            if (progress.isCanceled()) {
                return null;
            }
        }
    }

    /** Tells {@code listing} of each differing byte of the blocks from {@code at} on, before {@code end}. */
    private static void list(byte[] blockA, byte[] blockB, int at, int end, long offset, Listing listing) {
        int next = at;
        while (next >= 0) {
            int index = next;
            listing.differ(offset + index + 1, blockA[index] & BYTE_MASK, blockB[index] & BYTE_MASK);
            int after = Arrays.mismatch(blockA, index + 1, end, blockB, index + 1, end);
            next = after < 0 ? -1 : index + 1 + after;
        }
    }

    /** GNU cmp's line for a differing byte (standard output): "a b differ: byte 5, line 3". */
    String differMessage(String first, String second) {
        return first + " " + second + " differ: byte " + bytes + ", line " + (newlines + 1);
    }

    /**
     * GNU cmp's message for a file that ended first (standard error, after the
     * program's name): "EOF on a after byte 4, line 2" when it ends with a
     * newline, "EOF on a after byte 3, in line 2" inside a line, "EOF on a which is empty";
     * without {@code withLine} (cmp -l) just "EOF on a after byte 4".
     */
    String endMessage(String first, String second, boolean withLine) {
        String name = ended == 0 ? first : second;
        if (bytes == 0) {
            return "EOF on " + name + " which is empty";
        }
        if (!withLine) {
            return "EOF on " + name + " after byte " + bytes;
        }
        String line = endsWithNewline ? ", line " + newlines : ", in line " + (newlines + 1);
        return "EOF on " + name + " after byte " + bytes + line;
    }

    /** Reads {@code wanted} bytes, fewer only where the stream ends; returns the bytes read. */
    private static int fill(InputStream in, byte[] block, int wanted) throws IOException {
        int filled = 0;
        while (filled < wanted) {
            int read = in.read(block, filled, wanted - filled);
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
