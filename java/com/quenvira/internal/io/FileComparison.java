package com.quenvira.internal.io;

import java.io.IOException;
import org.eclipse.core.runtime.IProgressMonitor;

/**
 * Where two files differ, found in the one read of each that decides whether they do: the
 * comparison of {@link BaseFileSystem#nCompareByteByByte}, with its exceptions and its monitor
 * asked as often, that also says which byte and line differ first, or which file ended first.
 */
public final class FileComparison {
    /** Index of the result: -1 a byte differs, 0 the first file ended first, 1 the second. */
    public static final int ENDED = 0;
    /** Index of the result: the 1-based number of the first differing byte, or the bytes of the shorter file. */
    public static final int BYTES = 1;
    /** Index of the result: the newlines before the first differing byte, or in the shorter file. */
    public static final int NEWLINES = 2;
    /** Index of the result: 1 when the shorter file ends with a newline, else 0. */
    public static final int ENDS_WITH_NEWLINE = 3;
    /** The length of the result. */
    public static final int FIELDS = 4;

    static {
        LibraryLoad.ensure();
    }

    private FileComparison() {
    }

    /**
     * Compares two files byte by byte, as {@link BaseFileSystem#nCompareByteByByte} does.
     *
     * @param first a file
     * @param second another
     * @param monitor asked whether to stop after each block compared, as that method asks; may be null
     * @return null when the contents are equal or the monitor stopped the comparison; else the
     *     first difference, indexed by {@link #ENDED}, {@link #BYTES}, {@link #NEWLINES} and
     *     {@link #ENDS_WITH_NEWLINE}
     * @throws IOException as that method throws it, with its message
     */
    public static long[] firstDifference(String first, String second, IProgressMonitor monitor)
            throws IOException {
        return nFirstDifference(first, second, monitor);
    }

    private static native long[] nFirstDifference(String first, String second, IProgressMonitor monitor)
            throws IOException;
}
