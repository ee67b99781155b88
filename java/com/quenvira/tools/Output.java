package com.quenvira.tools;

import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.Map;

/**
 * Buffered UTF-8 output that writes a file name's own bytes: the library
 * gives each byte of a name that is not UTF-8 as the lone surrogate
 * U+DC00 + byte, and this writes that byte back, as GNU ls does. Nothing is
 * written until the buffer fills or {@link #flush()} is called. It also says
 * whether it goes to a terminal, where names are printed quoted.
 */
final class Output {
    private static final int BUFFER_SIZE = 64 * 1024;
    private static final int MAX_CHAR_BYTES = 4;
    private static final char ESCAPED_BYTE_FIRST = '\uDC80';
    private static final char ESCAPED_BYTE_LAST = '\uDCFF';
    private static final String SPACES = " ".repeat(64);
    private static final int STANDARD_OUTPUT = 1;
    private static final int STANDARD_ERROR = 2;
    private static final int NO_DESCRIPTOR = -1;
    /** The major number of /dev/null, /dev/zero, /dev/full and the other memory devices. */
    private static final long MEMORY_DEVICES_MAJOR = 1;

    private final OutputStream sink;
    private final boolean flushEachLine;
    private final int descriptor;
    private final byte[] buffer = new byte[BUFFER_SIZE];
    private int used;
    private Boolean terminal;

    /** Output to {@code sink}, no terminal; with {@code flushEachLine} every line is written at once (for messages). */
    Output(OutputStream sink, boolean flushEachLine) {
        this(sink, flushEachLine, NO_DESCRIPTOR);
    }

    private Output(OutputStream sink, boolean flushEachLine, int descriptor) {
        this.sink = sink;
        this.flushEachLine = flushEachLine;
        this.descriptor = descriptor;
    }

    static Output standardOutput() {
        return new Output(new FileOutputStream(FileDescriptor.out), false, STANDARD_OUTPUT);
    }

    static Output standardError() {
        return new Output(new FileOutputStream(FileDescriptor.err), true, STANDARD_ERROR);
    }

    /** Whether the output goes to a terminal; asked once, when first needed. */
    boolean isTerminal() {
        if (terminal == null) {
            terminal = descriptor != NO_DESCRIPTOR && isTerminal(descriptor);
        }
        return terminal;
    }

    /**
     * A character device other than /dev/null and its kin counts as a
     * terminal: Java has no isatty, and a name quoted needlessly on some other
     * device does less harm than one printed raw on a terminal.
     */
    private static boolean isTerminal(int descriptor) {
        try {
            Map<String, Object> unix = Files.readAttributes(Paths.get("/proc/self/fd/" + descriptor), "unix:mode,rdev");
            return FileType.isCharacterDevice((Integer) unix.get("mode"))
                    && FileType.majorOf((Long) unix.get("rdev")) != MEMORY_DEVICES_MAJOR;
        } catch (IOException | RuntimeException e) {
            // Without /proc the JDK's answer (standard input and output both terminals) is all there is.
            return System.console() != null;
        }
    }

    Output print(String text) {
        int length = text.length();
        for (int i = 0; i < length; i++) {
            if (BUFFER_SIZE - used < MAX_CHAR_BYTES) {
                drain();
            }
            char c = text.charAt(i);
            if (c < 0x80) {
                buffer[used++] = (byte) c;
            } else if (c < 0x800) {
                buffer[used++] = (byte) (0xC0 | c >> 6);
                buffer[used++] = (byte) (0x80 | c & 0x3F);
            } else if (Character.isHighSurrogate(c) && i + 1 < length && Character.isLowSurrogate(text.charAt(i + 1))) {
                int code = Character.toCodePoint(c, text.charAt(++i));
                buffer[used++] = (byte) (0xF0 | code >> 18);
                buffer[used++] = (byte) (0x80 | code >> 12 & 0x3F);
                buffer[used++] = (byte) (0x80 | code >> 6 & 0x3F);
                buffer[used++] = (byte) (0x80 | code & 0x3F);
            } else if (c >= ESCAPED_BYTE_FIRST && c <= ESCAPED_BYTE_LAST) {
                buffer[used++] = (byte) (c - 0xDC00);
            } else if (Character.isSurrogate(c)) {
                buffer[used++] = '?';
            } else {
                buffer[used++] = (byte) (0xE0 | c >> 12);
                buffer[used++] = (byte) (0x80 | c >> 6 & 0x3F);
                buffer[used++] = (byte) (0x80 | c & 0x3F);
            }
        }
        return this;
    }

    Output print(char c) {
        if (c < 0x80) {
            if (used == BUFFER_SIZE) {
                drain();
            }
            buffer[used++] = (byte) c;
            return this;
        }
        return print(String.valueOf(c));
    }

    Output print(long number) {
        return print(Long.toString(number));
    }

    /** {@code count} spaces (none for a count of 0 or less). */
    Output spaces(int count) {
        for (int left = count; left > 0; left -= SPACES.length()) {
            print(SPACES.substring(0, Math.min(left, SPACES.length())));
        }
        return this;
    }

    Output println(String text) {
        return print(text).println();
    }

    Output println() {
        print('\n');
        if (flushEachLine) {
            flush();
        }
        return this;
    }

    void flush() {
        drain();
        try {
            sink.flush();
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    private void drain() {
        if (used == 0) {
            return;
        }
        try {
            sink.write(buffer, 0, used);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
        used = 0;
    }
}
