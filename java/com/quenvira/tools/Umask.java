package com.quenvira.tools;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;

/**
 * The process's umask, which Java cannot ask for: Linux (4.7 and later) shows
 * it in /proc/self/status. Where that cannot be read, 077 stands for it, so
 * that a mode with no "who" then gives the owner alone what it asks.
 */
final class Umask {
    private static final String STATUS = "/proc/self/status";
    private static final String FIELD = "Umask:";
    private static final int UNKNOWN = 077;
    private static final int OCTAL = 8;

    private Umask() {
    }

    static int get() {
        try {
            for (String line : Files.readAllLines(Paths.get(STATUS), StandardCharsets.US_ASCII)) {
                if (line.startsWith(FIELD)) {
                    return Integer.parseInt(line.substring(FIELD.length()).trim(), OCTAL);
                }
            }
        } catch (IOException | NumberFormatException e) {
            // an old kernel or no /proc: the safe stand-in
        }
        return UNKNOWN;
    }
}
