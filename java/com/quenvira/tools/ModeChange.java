package com.quenvira.tools;

import java.util.ArrayList;
import java.util.List;

/**
 * A chmod MODE, octal or symbolic, as GNU chmod reads and applies it:
 * comma-separated clauses of the form [ugoa]*([-+=]([rwxXst]*|[ugo]|[0-7]+))+,
 * or an octal number alone. Without a "who" a clause leaves alone the bits the
 * umask holds. A directory keeps its set-user-ID and set-group-ID bits unless
 * the mode names them: "755" keeps them, "00755", "=755" and "g-s" do not.
 */
final class ModeChange {
    private static final int SET_UID = 04000;
    private static final int SET_GID = 02000;
    private static final int STICKY = 01000;
    private static final int USER = 0700;
    private static final int GROUP = 0070;
    private static final int OTHERS = 0007;
    private static final int READ = 0444;
    private static final int WRITE = 0222;
    private static final int EXECUTE = 0111;
    private static final int PERMISSIONS = 0777;
    private static final int ALL = 07777;
    private static final int OCTAL = 8;
    /** An octal mode of fewer digits than this leaves a directory's set-ID bits unless it sets them. */
    private static final int DIGITS_THAT_CLEAR_SET_ID = 5;

    /** How a clause's value is taken. */
    private enum Kind {
        /** As written. */
        ORDINARY,
        /** The bits of one class (u, g or o) of the file's mode, copied to the others. */
        COPY,
        /** Execute as well when the file is a directory or someone may execute it (X). */
        EXECUTE_IF_ANY
    }

    /** One operation: '+', '-' or '=' of {@code value} on the bits {@code affected} (0: none named). */
    private static final class Clause {
        final char op;
        final Kind kind;
        final int affected;
        final int value;
        final int mentioned;

        Clause(char op, Kind kind, int affected, int value, int mentioned) {
            this.op = op;
            this.kind = kind;
            this.affected = affected;
            this.value = value;
            this.mentioned = mentioned;
        }
    }

    private final List<Clause> clauses;
    private final boolean needsUmask;

    private ModeChange(List<Clause> clauses) {
        this.clauses = clauses;
        boolean anyWithoutWho = false;
        for (Clause clause : clauses) {
            anyWithoutWho |= clause.affected == 0;
        }
        this.needsUmask = anyWithoutWho;
    }

    /** Whether some clause names no "who", so that the umask matters. */
    boolean needsUmask() {
        return needsUmask;
    }

    /** The mode of {@code text}; throws {@link IllegalArgumentException} with chmod's message when it is none. */
    static ModeChange parse(String text) {
        ModeChange change = text.isEmpty() ? null : isOctalDigit(text.charAt(0)) ? octal(text) : symbolic(text);
        if (change == null) {
            throw new IllegalArgumentException("invalid mode: " + Quoting.shellEscapeAlways(text));
        }
        return change;
    }

    private static ModeChange octal(String text) {
        int mode = 0;
        for (int i = 0; i < text.length(); i++) {
            char c = text.charAt(i);
            if (!isOctalDigit(c)) {
                return null;
            }
            mode = mode * OCTAL + (c - '0');
            if (mode > ALL) {
                return null;
            }
        }
        int mentioned = text.length() < DIGITS_THAT_CLEAR_SET_ID
                ? (mode & (SET_UID | SET_GID)) | STICKY | PERMISSIONS : ALL;
        return new ModeChange(List.of(new Clause('=', Kind.ORDINARY, ALL, mode, mentioned)));
    }

    /** GNU's grammar, read one clause after another; null for text it does not allow. */
    private static ModeChange symbolic(String text) {
        List<Clause> clauses = new ArrayList<>();
        int at = 0;
        int length = text.length();
        while (true) {
            int affected = 0;
            for (; at < length && "ugoa".indexOf(text.charAt(at)) >= 0; at++) {
                affected |= who(text.charAt(at));
            }
            if (at == length || "+-=".indexOf(text.charAt(at)) < 0) {
                return null;
            }
            while (at < length && "+-=".indexOf(text.charAt(at)) >= 0) {
                char op = text.charAt(at++);
                char c = at < length ? text.charAt(at) : ',';
                if (isOctalDigit(c)) {
                    int value = 0;
                    for (; at < length && isOctalDigit(text.charAt(at)); at++) {
                        value = value * OCTAL + (text.charAt(at) - '0');
                        if (value > ALL) {
                            return null;
                        }
                    }
                    // "-6000" and the like: digits only after an operator and no "who".
                    if (affected != 0 || (at < length && text.charAt(at) != ',')) {
                        return null;
                    }
                    clauses.add(new Clause(op, Kind.ORDINARY, ALL, value, ALL));
                    continue;
                }
                if (c == 'u' || c == 'g' || c == 'o') {
                    at++;
                    int value = c == 'u' ? USER : c == 'g' ? GROUP : OTHERS;
                    clauses.add(new Clause(op, Kind.COPY, affected, value, affected != 0 ? affected & value : value));
                    continue;
                }
                int value = 0;
                Kind kind = Kind.ORDINARY;
                for (; at < length && "rwxXst".indexOf(text.charAt(at)) >= 0; at++) {
                    char letter = text.charAt(at);
                    if (letter == 'X') {
                        kind = Kind.EXECUTE_IF_ANY;
                    } else {
                        value |= letterBits(letter);
                    }
                }
                clauses.add(new Clause(op, kind, affected, value, affected != 0 ? affected & value : value));
            }
            if (at == length) {
                return new ModeChange(clauses);
            }
            if (text.charAt(at) != ',') {
                return null;
            }
            at++;
        }
    }

    private static boolean isOctalDigit(char c) {
        return c >= '0' && c <= '7';
    }

    private static int who(char c) {
        switch (c) {
            case 'u': return SET_UID | USER;
            case 'g': return SET_GID | GROUP;
            case 'o': return STICKY | OTHERS;
            default: return ALL;
        }
    }

    private static int letterBits(char letter) {
        switch (letter) {
            case 'r': return READ;
            case 'w': return WRITE;
            case 'x': return EXECUTE;
            case 's': return SET_UID | SET_GID;
            default: return STICKY;
        }
    }

    /**
     * The mode (07777 bits) that a file of mode {@code mode} gets; {@code umask}
     * limits the clauses that name no "who".
     */
    int apply(int mode, boolean directory, int umask) {
        int result = mode & ALL;
        for (Clause clause : clauses) {
            int keptSetId = (directory ? SET_UID | SET_GID : 0) & ~clause.mentioned;
            int value = clause.value;
            if (clause.kind == Kind.COPY) {
                value &= result;
                value |= ((value & READ) != 0 ? READ : 0) | ((value & WRITE) != 0 ? WRITE : 0)
                        | ((value & EXECUTE) != 0 ? EXECUTE : 0);
            } else if (clause.kind == Kind.EXECUTE_IF_ANY && ((result & EXECUTE) != 0 || directory)) {
                value |= EXECUTE;
            }
            value &= (clause.affected != 0 ? clause.affected : ~umask) & ~keptSetId;
            switch (clause.op) {
                case '=':
                    int preserved = (clause.affected != 0 ? ~clause.affected : 0) | keptSetId;
                    result = (result & preserved) | value;
                    break;
                case '+':
                    result |= value;
                    break;
                default:
                    result &= ~value;
                    break;
            }
        }
        return result & ALL;
    }
}
