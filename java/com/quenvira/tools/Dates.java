package com.quenvira.tools;

import java.time.LocalDate;
import java.time.LocalDateTime;
import java.time.ZoneId;
import java.time.format.DateTimeParseException;

/** The dates touch -d takes: "@SECONDS", "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS]" or "YYYY-MM-DDTHH:MM[:SS]". */
final class Dates {
    private static final long MILLIS_PER_SECOND = 1000L;

    private Dates() {
    }

    /**
     * Milliseconds since the epoch of a date in local time.
     *
     * @throws IllegalArgumentException saying, as GNU touch does, that the date is invalid
     */
    static long parse(String text) {
        try {
            if (text.startsWith("@")) {
                return Math.multiplyExact(Long.parseLong(text.substring(1)), MILLIS_PER_SECOND);
            }
            ZoneId zone = ZoneId.systemDefault();
            if (text.length() == "yyyy-MM-dd".length()) {
                return LocalDate.parse(text).atStartOfDay(zone).toInstant().toEpochMilli();
            }
            String iso = text.replace(' ', 'T');
            return LocalDateTime.parse(iso).atZone(zone).toInstant().toEpochMilli();
        } catch (DateTimeParseException | NumberFormatException | ArithmeticException e) {
            throw new IllegalArgumentException("invalid date format " + Quoting.shellEscapeAlways(text));
        }
    }
}
