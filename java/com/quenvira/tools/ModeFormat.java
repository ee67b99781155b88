package com.quenvira.tools;

import com.quenvira.io.FileInfo;

/** Converts between attribute words and the mode strings and octal modes a Linux user knows. */
final class ModeFormat {
    /** Attribute bits of the nine permission bits, in the order of "rwxrwxrwx". */
    private static final int[] PERMISSION_BITS = {
        FileInfo.ATTR_OWNER_READ, FileInfo.ATTR_OWNER_WRITE, FileInfo.ATTR_OWNER_EXECUTE,
        FileInfo.ATTR_GROUP_READ, FileInfo.ATTR_GROUP_WRITE, FileInfo.ATTR_GROUP_EXECUTE,
        FileInfo.ATTR_OTHERS_READ, FileInfo.ATTR_OTHERS_WRITE, FileInfo.ATTR_OTHERS_EXECUTE,
    };
    /** Attribute bits of the twelve mode bits 04000 down to 01. */
    private static final int[] MODE_BITS = {
        FileInfo.ATTR_SET_UID, FileInfo.ATTR_SET_GID, FileInfo.ATTR_STICKY,
        FileInfo.ATTR_OWNER_READ, FileInfo.ATTR_OWNER_WRITE, FileInfo.ATTR_OWNER_EXECUTE,
        FileInfo.ATTR_GROUP_READ, FileInfo.ATTR_GROUP_WRITE, FileInfo.ATTR_GROUP_EXECUTE,
        FileInfo.ATTR_OTHERS_READ, FileInfo.ATTR_OTHERS_WRITE, FileInfo.ATTR_OTHERS_EXECUTE,
    };
    private static final int HIGHEST_MODE_BIT = 04000;
    private static final int OWNER_EXECUTE_INDEX = 2;
    private static final int GROUP_EXECUTE_INDEX = 5;
    private static final int OTHERS_EXECUTE_INDEX = 8;

    private ModeFormat() {
    }

    /** "drwxr-sr-t" and the like, of the type letter ls -l shows ({@link FileType#letter}) and the attribute word. */
    static String modeString(char type, int attributes) {
        StringBuilder mode = new StringBuilder(10);
        mode.append(type);
        String letters = "rwxrwxrwx";
        for (int i = 0; i < PERMISSION_BITS.length; i++) {
            mode.append((attributes & PERMISSION_BITS[i]) != 0 ? letters.charAt(i) : '-');
        }
        special(mode, attributes, FileInfo.ATTR_SET_UID, OWNER_EXECUTE_INDEX, 's');
        special(mode, attributes, FileInfo.ATTR_SET_GID, GROUP_EXECUTE_INDEX, 's');
        special(mode, attributes, FileInfo.ATTR_STICKY, OTHERS_EXECUTE_INDEX, 't');
        return mode.toString();
    }

    private static void special(StringBuilder mode, int attributes, int bit, int executeIndex, char letter) {
        if ((attributes & bit) == 0) {
            return;
        }
        int at = executeIndex + 1; // after the type letter
        boolean executable = mode.charAt(at) != '-';
        mode.setCharAt(at, executable ? letter : Character.toUpperCase(letter));
    }

    /** The octal mode (for example 0755) of an attribute word. */
    static int octalMode(int attributes) {
        int mode = 0;
        int bit = HIGHEST_MODE_BIT;
        for (int attribute : MODE_BITS) {
            if ((attributes & attribute) != 0) {
                mode |= bit;
            }
            bit >>= 1;
        }
        return mode;
    }

    /** The attribute word of a mode's 07777 bits. */
    static int attributesOfMode(int mode) {
        int attributes = 0;
        int bit = HIGHEST_MODE_BIT;
        for (int attribute : MODE_BITS) {
            if ((mode & bit) != 0) {
                attributes |= attribute;
            }
            bit >>= 1;
        }
        return attributes;
    }
}
