package com.quenvira.tools;

import com.quenvira.internal.io.BaseFileSystem;
import com.quenvira.io.FileInfoEx;
import java.io.IOException;
import java.time.Instant;
import java.time.ZoneId;
import java.time.format.DateTimeFormatter;
import java.util.ArrayList;
import java.util.List;

/**
 * stat -c FORMAT: the directives whose values the library gives, in GNU
 * stat's words (%n %s %F %a %A %U %G %u %g %x %y %X %Y %%). Times are whole
 * seconds, the library's precision, so %x and %y have no fraction of a second.
 */
final class StatFormat {
    /** The directives this format knows; GNU's others (%i, %b, %w...) are refused. */
    private static final String SUPPORTED = "nsFaAUGugxyXY%";
    /** The characters of a printf directive between "%" and its letter: flags, width, precision. */
    private static final String MODIFIERS = "-#+ 0'I.0123456789";
    /** What GNU stat prints for an ID without a name. */
    private static final String UNKNOWN_NAME = "UNKNOWN";
    private static final DateTimeFormatter TIME_FORMAT = DateTimeFormatter.ofPattern("yyyy-MM-dd HH:mm:ss xx");
    private static final long MILLIS_PER_SECOND = 1000;

    /** Literal text as String, directives as Character. */
    private final List<Object> parts;

    private StatFormat(List<Object> parts) {
        this.parts = parts;
    }

    /**
     * The format of {@code text}; a "%" at its very end is printed as it is, as GNU does.
     *
     * @throws IllegalArgumentException naming the first directive that is not supported
     */
    static StatFormat parse(String text) {
        List<Object> parts = new ArrayList<>();
        StringBuilder literal = new StringBuilder();
        for (int i = 0; i < text.length(); i++) {
            char c = text.charAt(i);
            if (c != '%' || i + 1 == text.length()) {
                literal.append(c);
                continue;
            }
            char directive = text.charAt(i + 1);
            if (SUPPORTED.indexOf(directive) < 0) {
                throw new IllegalArgumentException("stat: unsupported directive "
                        + Quoting.shellEscapeAlways(directiveAt(text, i)) + " in format");
            }
            i++;
            if (directive == '%') {
                literal.append('%');
                continue;
            }
            if (literal.length() > 0) {
                parts.add(literal.toString());
                literal.setLength(0);
            }
            parts.add(directive);
        }
        if (literal.length() > 0) {
            parts.add(literal.toString());
        }
        return new StatFormat(parts);
    }

    /** The whole directive starting at the "%" at {@code start}: modifiers and the letter after them. */
    private static String directiveAt(String text, int start) {
        int end = start + 1;
        while (end < text.length() && MODIFIERS.indexOf(text.charAt(end)) >= 0) {
            end++;
        }
        return text.substring(start, Math.min(end + 1, text.length()));
    }

    /** The line for one file: {@code name} as it is to be printed, its record and type. */
    String render(String name, FileInfoEx info, FileType type) {
        StringBuilder line = new StringBuilder();
        for (Object part : parts) {
            if (part instanceof String) {
                line.append((String) part);
            } else {
                line.append(value((Character) part, name, info, type));
            }
        }
        return line.toString();
    }

    private static String value(char directive, String name, FileInfoEx info, FileType type) {
        switch (directive) {
            case 'n': return name;
            case 's': return Long.toString(info.getSize());
            case 'F': return typeWords(info, type);
            case 'a': return Integer.toOctalString(ModeFormat.octalMode(info.getAttributes()));
            case 'A': return ModeFormat.modeString(type.letter, info.getAttributes());
            case 'U': return userName(info.getOwner());
            case 'G': return groupName(info.getGroup());
            case 'u': return Integer.toUnsignedString(info.getOwner());
            case 'g': return Integer.toUnsignedString(info.getGroup());
            case 'x': return time(info.getAccessed());
            case 'y': return time(info.getModified());
            case 'X': return Long.toString(Math.floorDiv(info.getAccessed(), MILLIS_PER_SECOND));
            case 'Y': return Long.toString(Math.floorDiv(info.getModified(), MILLIS_PER_SECOND));
            default: throw new IllegalStateException("directive not parsed: " + directive);
        }
    }

    /** GNU's %F: an empty regular file is "regular empty file". */
    static String typeWords(FileInfoEx info, FileType type) {
        return type == FileType.REGULAR && info.getSize() == 0 ? "regular empty file" : type.description;
    }

    private static String time(long millis) {
        return Instant.ofEpochMilli(millis).atZone(ZoneId.systemDefault()).format(TIME_FORMAT);
    }

    private static String userName(int id) {
        try {
            return BaseFileSystem.nGetUser(null, id).getName();
        } catch (IOException e) {
            return UNKNOWN_NAME;
        }
    }

    private static String groupName(int id) {
        try {
            return BaseFileSystem.nGetGroup(null, id).getName();
        } catch (IOException e) {
            return UNKNOWN_NAME;
        }
    }
}
