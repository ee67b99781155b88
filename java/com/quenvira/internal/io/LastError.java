package com.quenvira.internal.io;

import java.io.IOException;

/**
 * The error number behind an exception the library threw, as data: the message of a
 * {@code BaseFileSystem} exception stays what hosts have always seen, and a caller of the
 * library's own need not read the number back out of it. The library tells this class of
 * each exception it throws, on the thread it throws it on, just before it throws it.
 */
public final class LastError {
    static {
        LibraryLoad.ensure();
    }

    /** The last exception the library threw on each thread, and its error number. */
    private static final ThreadLocal<Object[]> LAST = ThreadLocal.withInitial(() -> new Object[2]);

    private LastError() {
    }

    /** Called by the library just before it throws {@code thrown}; {@code number} 0: no error number. */
    static void record(Throwable thrown, int number) {
        Object[] last = LAST.get();
        last[0] = thrown;
        last[1] = number;
    }

    /**
     * The error number of an exception the library threw on this thread, if it is the last
     * one it threw here.
     *
     * @param e an exception caught from a call of the library
     * @return its error number ({@code errno}); 0 when it has none or is not the library's last
     */
    public static int numberOf(IOException e) {
        Object[] last = LAST.get();
        return last[0] == e ? (Integer) last[1] : 0;
    }

    /**
     * The C library's description of an error number, as {@code strerror} gives it.
     *
     * @param number an error number
     * @return its description, such as "No such file or directory"
     */
    public static String text(int number) {
        return nText(number);
    }

    private static native String nText(int number);
}
