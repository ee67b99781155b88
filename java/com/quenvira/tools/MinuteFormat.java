package com.quenvira.tools;

import java.time.Instant;
import java.time.LocalDateTime;
import java.time.ZoneId;
import java.time.ZoneOffset;
import java.time.format.DateTimeFormatter;
import java.time.zone.ZoneRules;

/**
 * Modification times as ls -l prints them, "yyyy-MM-dd HH:mm" in local time,
 * built without format strings for the years of four digits. Entries of one
 * minute share one string: the cache holds a minute of UTC whose instants all
 * have one offset of whole minutes (not so for a minute with a transition or
 * in local mean time).
 */
final class MinuteFormat {
    private static final DateTimeFormatter TIME_FORMAT = DateTimeFormatter.ofPattern("yyyy-MM-dd HH:mm");
    private static final long MILLIS_PER_MINUTE = 60_000;
    private static final int SECONDS_PER_MINUTE = 60;
    private static final int LAST_FOUR_DIGIT_YEAR = 9999;
    private static final int TENS = 10;

    private final ZoneRules zone = ZoneId.systemDefault().getRules();
    private long cachedMinute = Long.MIN_VALUE;
    private String cachedTime;

    /** The local minute of {@code millis} since the epoch. */
    String format(long millis) {
        long minute = Math.floorDiv(millis, MILLIS_PER_MINUTE);
        if (cachedTime != null && minute == cachedMinute) {
            return cachedTime;
        }
        String text = formatMinute(millis);
        if (wholeMinuteOffset(minute)) {
            cachedMinute = minute;
            cachedTime = text;
        }
        return text;
    }

    private boolean wholeMinuteOffset(long minute) {
        ZoneOffset first = zone.getOffset(Instant.ofEpochSecond(minute * SECONDS_PER_MINUTE));
        ZoneOffset last = zone.getOffset(Instant.ofEpochSecond(minute * SECONDS_PER_MINUTE + SECONDS_PER_MINUTE - 1));
        return first.equals(last) && first.getTotalSeconds() % SECONDS_PER_MINUTE == 0;
    }

    private String formatMinute(long millis) {
        Instant instant = Instant.ofEpochMilli(millis);
        LocalDateTime local = LocalDateTime.ofEpochSecond(instant.getEpochSecond(), 0, zone.getOffset(instant));
        if (local.getYear() < 0 || local.getYear() > LAST_FOUR_DIGIT_YEAR) {
            return local.format(TIME_FORMAT);
        }
        char[] text = "0000-00-00 00:00".toCharArray();
        int year = local.getYear();
        for (int at = 3; at >= 0; at--, year /= TENS) {
            text[at] = (char) ('0' + year % TENS);
        }
        twoDigits(text, 5, local.getMonthValue());
        twoDigits(text, 8, local.getDayOfMonth());
        twoDigits(text, 11, local.getHour());
        twoDigits(text, 14, local.getMinute());
        return new String(text);
    }

    private static void twoDigits(char[] text, int at, int value) {
        text[at] = (char) ('0' + value / TENS);
        text[at + 1] = (char) ('0' + value % TENS);
    }
}
