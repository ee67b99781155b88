package com.quenvira.test;

import com.quenvira.io.FileInfo;

/** The modes the stress rounds set, and the permission bits of the records they expect. */
final class StressModes {
    static final int[] MODES = {0644, 0600, 0755, 0640, 0444, 0700};
    /** Permission bits of a mode, in the order of the attribute bits from 0x10000 up. */
    private static final int[] MODE_BITS = {0400, 0200, 0100, 040, 020, 010, 04, 02, 01, 04000, 02000, 01000};
    private static final int PERMISSION_ATTRIBUTES = 0x0FFF0000;

    private StressModes() {
    }

    /** The attribute bits of a mode's permission bits. */
    static int attributesOf(int mode) {
        int attributes = 0;
        for (int i = 0; i < MODE_BITS.length; i++) {
            if ((mode & MODE_BITS[i]) != 0) {
                attributes |= FileInfo.ATTR_OWNER_READ << i;
            }
        }
        return attributes;
    }

    /** Whether the record's permission bits are those of {@code mode}. */
    static boolean hasMode(FileInfo info, int mode) {
        return (info.getAttributes() & PERMISSION_ATTRIBUTES) == attributesOf(mode);
    }
}
