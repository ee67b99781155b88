package com.quenvira.tools;

import java.nio.charset.StandardCharsets;

/**
 * File names made safe to print, in GNU coreutils' shell-escape quoting: a
 * name that a shell would take apart goes in single quotes, and a control
 * character or a byte that is not UTF-8 is written as $'\033', so that no name
 * can move a terminal's cursor or forge a line. Names come as the library
 * gives them: each byte that is not UTF-8 is the lone surrogate U+DC00 + byte.
 */
final class Quoting {
    private static final char ESCAPED_BYTE_FIRST = '\uDC80';
    private static final char ESCAPED_BYTE_LAST = '\uDCFF';
    private static final int ASCII_END = 0x80;
    private static final int BYTE_MASK = 0xFF;
    private static final int OCTAL_DIGIT_BITS = 3;
    private static final int OCTAL_DIGIT_MASK = 7;

    private Quoting() {
    }

    /** As GNU ls prints a name on a terminal: bare when nothing in it needs quoting ("plain", 'a b', 'a'$'\n''b'). */
    static String shellEscape(String name) {
        return needsQuotes(name, false) ? quoted(name, false) : name;
    }

    /** As coreutils names a file in a message: always quoted ('x', "it's", 'a'$'\033''b'). */
    static String shellEscapeAlways(String name) {
        return quoted(name, false);
    }

    /** As coreutils names a file that a colon follows in a message ("f: Invalid argument", 'a:b': ...). */
    static String shellEscapeColon(String name) {
        return needsQuotes(name, true) ? quoted(name, true) : name;
    }

    /**
     * The name as it is when it holds nothing a terminal would act on, else
     * as {@link #shellEscape} quotes it: for output GNU prints raw (stat,
     * readlink, cmp), which must still not reach a terminal raw.
     */
    static String shellEscapeIfUnprintable(String name) {
        for (int i = 0; i < name.length(); i += Character.charCount(name.codePointAt(i))) {
            if (!isPrintable(name.codePointAt(i))) {
                return shellEscape(name);
            }
        }
        return name;
    }

    /** Whether a shell would read the name as anything but itself (or a terminal act on it). */
    private static boolean needsQuotes(String name, boolean colon) {
        int length = name.length();
        if (length == 0) {
            return true;
        }
        for (int i = 0; i < length; i += Character.charCount(name.codePointAt(i))) {
            int c = name.codePointAt(i);
            if (!isPrintable(c)) {
                return true;
            }
            switch (c) {
                case ' ': case '!': case '"': case '$': case '&': case '\'': case '(': case ')': case '*':
                case ';': case '<': case '=': case '>': case '?': case '[': case '\\': case '^': case '`':
                case '|':
                    return true;
                case '#': case '~':
                    if (i == 0) {
                        return true;
                    }
                    break;
                case '{': case '}':
                    if (length == 1) {
                        return true;
                    }
                    break;
                case ':':
                    if (colon) {
                        return true;
                    }
                    break;
                default:
                    break;
            }
        }
        return false;
    }

    /**
     * The name in single quotes, a quote inside as '\'' and what cannot be
     * printed as $'\n' or $'\ooo' per byte; a name whose only trouble is a
     * single quote goes in double quotes instead ("it's"), as GNU does.
     */
    private static String quoted(String name, boolean colon) {
        SingleQuoted first = new SingleQuoted(name, false);
        if (!first.singleQuote) {
            return first.text;
        }
        if (first.doubleQuotesWillDo) {
            return "\"" + (colon ? name.replace(":", "\\:") : name) + "\"";
        }
        // GNU writes a name holding a quote a second time, starting in the
        // state the first pass ended in ('''it'\''s'$'\n'): so is its output here.
        return first.endsInEscape ? new SingleQuoted(name, true).text : first.text;
    }

    /** One pass of single quoting over a name, and what it found. */
    private static final class SingleQuoted {
        final String text;
        boolean singleQuote;
        boolean doubleQuotesWillDo = true;
        boolean endsInEscape;

        SingleQuoted(String name, boolean inEscapeAtStart) {
            StringBuilder quoted = new StringBuilder(name.length() + 2).append('\'');
            boolean inEscape = inEscapeAtStart;
            for (int i = 0; i < name.length(); i += Character.charCount(name.codePointAt(i))) {
                int c = name.codePointAt(i);
                if (!isPrintable(c)) {
                    if (!inEscape) {
                        quoted.append("'$'");
                        inEscape = true;
                    }
                    appendEscape(quoted, c);
                    doubleQuotesWillDo = false;
                    continue;
                }
                if (c == '\'') {
                    quoted.append("'\\''"); // also ends a $'...' part
                    inEscape = false;
                    singleQuote = true;
                    continue;
                }
                if (inEscape) {
                    quoted.append("''"); // closes $'...' and opens a quoted part again
                    inEscape = false;
                }
                quoted.appendCodePoint(c);
                doubleQuotesWillDo &= fitsDoubleQuotes(c, i, name.length());
            }
            endsInEscape = inEscape;
            text = quoted.append('\'').toString();
        }
    }

    /** Whether a printable character leaves a double-quoted name as it is. */
    private static boolean fitsDoubleQuotes(int c, int index, int length) {
        switch (c) {
            case '!': case '"': case '$': case '&': case '(': case ')': case '*': case ';': case '<':
            case '=': case '>': case '?': case '[': case '\\': case '^': case '`': case '|':
                return false;
            case '#': case '~':
                return index == 0;
            case '{': case '}':
                return length == 1;
            default:
                return true;
        }
    }

    /** One unprintable character inside $'...': its C escape, or each of its bytes in octal. */
    private static void appendEscape(StringBuilder text, int c) {
        switch (c) {
            case '\u0007': text.append("\\a"); return;
            case '\b': text.append("\\b"); return;
            case '\f': text.append("\\f"); return;
            case '\n': text.append("\\n"); return;
            case '\r': text.append("\\r"); return;
            case '\t': text.append("\\t"); return;
            case '\u000B': text.append("\\v"); return;
            default:
                break;
        }
        for (byte b : bytesOf(c)) {
            int value = b & BYTE_MASK;
            text.append('\\')
                    .append((char) ('0' + (value >> 2 * OCTAL_DIGIT_BITS)))
                    .append((char) ('0' + (value >> OCTAL_DIGIT_BITS & OCTAL_DIGIT_MASK)))
                    .append((char) ('0' + (value & OCTAL_DIGIT_MASK)));
        }
    }

    /**
     * The bytes the name holds for one character: the byte itself for an
     * escaped byte, and otherwise what the library writes for the character
     * (UTF-8; a lone surrogate as its three modified UTF-8 bytes).
     */
    private static byte[] bytesOf(int c) {
        if (c >= ESCAPED_BYTE_FIRST && c <= ESCAPED_BYTE_LAST) {
            return new byte[] {(byte) (c - 0xDC00)};
        }
        if (c < ASCII_END) {
            return new byte[] {(byte) c};
        }
        if (Character.isSurrogate((char) c)) {
            return new byte[] {(byte) (0xE0 | c >> 12), (byte) (0x80 | c >> 6 & 0x3F), (byte) (0x80 | c & 0x3F)};
        }
        return new String(Character.toChars(c)).getBytes(StandardCharsets.UTF_8);
    }

    /**
     * What the C library's iswprint says in a UTF-8 locale: not a control
     * character, a line or paragraph separator, an unassigned code point, or a
     * surrogate (which here stands for a byte that is not UTF-8).
     */
    private static boolean isPrintable(int c) {
        switch (Character.getType(c)) {
            case Character.CONTROL:
            case Character.LINE_SEPARATOR:
            case Character.PARAGRAPH_SEPARATOR:
            case Character.UNASSIGNED:
            case Character.SURROGATE:
                return false;
            default:
                return true;
        }
    }
}
