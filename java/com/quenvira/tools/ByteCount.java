package com.quenvira.tools;

import java.math.BigInteger;

/**
 * A count of bytes as GNU cmp -n takes it: decimal, 0x hexadecimal or 0
 * octal, with an optional multiplier K, M, G, T, P, E, Z or Y (also k) of
 * 1024, or of 1000 when followed by B or D ("KB"), of 1024 with "iB"; a
 * multiplier alone counts one of it. At most the largest file offset.
 */
final class ByteCount {
    private static final String MULTIPLIERS = "kKMGTPEZY";
    private static final int BINARY = 1024;
    private static final int DECIMAL = 1000;
    private static final int HEXADECIMAL = 16;
    private static final int OCTAL = 8;
    private static final int TEN = 10;
    private static final BigInteger LARGEST = BigInteger.valueOf(Long.MAX_VALUE);

    private ByteCount() {
    }

    /**
     * The count {@code text} says.
     *
     * @throws IllegalArgumentException for text that is no count, negative, or beyond the largest offset
     */
    static long parse(String text) {
        int at = 0;
        while (at < text.length() && Character.isWhitespace(text.charAt(at))) {
            at++;
        }
        if (at < text.length() && text.charAt(at) == '+') {
            at++;
        }
        int radix = TEN;
        if (text.startsWith("0x", at) || text.startsWith("0X", at)) {
            radix = HEXADECIMAL;
            at += 2;
        } else if (text.startsWith("0", at)) {
            radix = OCTAL;
        }
        int digitsEnd = at;
        while (digitsEnd < text.length() && Character.digit(text.charAt(digitsEnd), radix) >= 0
                && text.charAt(digitsEnd) < 0x80) {
            digitsEnd++;
        }
        String suffix = text.substring(digitsEnd);
        BigInteger count;
        if (digitsEnd > at) {
            count = new BigInteger(text.substring(at, digitsEnd), radix);
        } else if (radix == TEN && !suffix.isEmpty() && MULTIPLIERS.indexOf(suffix.charAt(0)) >= 0) {
            count = BigInteger.ONE;
        } else {
            throw new IllegalArgumentException(text);
        }
        count = count.multiply(multiplier(suffix, text));
        if (count.compareTo(LARGEST) > 0) {
            throw new IllegalArgumentException(text);
        }
        return count.longValueExact();
    }

    /** The multiplier a suffix stands for: "", "K", "KB", "KD", "KiB" and the like. */
    private static BigInteger multiplier(String suffix, String text) {
        if (suffix.isEmpty()) {
            return BigInteger.ONE;
        }
        int power = MULTIPLIERS.indexOf(suffix.charAt(0));
        String rest = suffix.substring(1);
        int base;
        if (rest.isEmpty() || rest.equals("iB")) {
            base = BINARY;
        } else if (rest.equals("B") || rest.equals("D")) {
            base = DECIMAL;
        } else {
            throw new IllegalArgumentException(text);
        }
        if (power < 0) {
            throw new IllegalArgumentException(text);
        }
        // k and K both stand for the first power.
        return BigInteger.valueOf(base).pow(Math.max(1, power));
    }
}
