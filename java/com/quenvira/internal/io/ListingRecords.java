package com.quenvira.internal.io;

import com.quenvira.io.FileInfo;
import com.quenvira.io.FileInfoEx;
import java.lang.annotation.Native;
import java.lang.invoke.MethodHandles;
import java.lang.invoke.VarHandle;
import java.lang.reflect.Modifier;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;

/**
 * Makes a listing's records in compiled Java from the batches that the native
 * listing writes: a record made here costs a few nanoseconds, one made through
 * JNI a crossing into the VM for its name and another for the record. Called by
 * libbasefs.so only, which selects this way in {@code nInitStatic} when this class
 * has the layout it writes and can reach the host's constructors.
 *
 * <p>A batch holds entries one after the other, each starting at a multiple of
 * {@link #ENTRY_ALIGNMENT}: a header of {@link #HEADER_BYTES} bytes in the
 * machine's byte order, then the name, as bytes below 0x80 (one character each)
 * or as UTF-16 units ({@link #FLAG_UTF16_NAME}).
 */
final class ListingRecords {
    // @Native: javac writes these into a C header that the batch writer is checked against.
    /** Changes with any change of the layout below; the library compares it with its own. */
    @Native static final int LAYOUT_VERSION = 1;
    @Native static final int OFFSET_ATTRIBUTES = 0;
    @Native static final int OFFSET_NAME_LENGTH = 4;
    @Native static final int OFFSET_FLAGS = 8;
    @Native static final int OFFSET_OWNER = 12;
    @Native static final int OFFSET_SIZE = 16;
    @Native static final int OFFSET_MODIFIED = 24;
    @Native static final int OFFSET_ACCESSED = 32;
    @Native static final int OFFSET_GROUP = 40;
    @Native static final int HEADER_BYTES = 48;
    @Native static final int ENTRY_ALIGNMENT = 8;
    /** The name is UTF-16 units, not bytes below 0x80. */
    @Native static final int FLAG_UTF16_NAME = 0x1;
    /** The entry could not be examined: a plain FileInfo whatever the listing asked for. */
    @Native static final int FLAG_FALLBACK = 0x2;

    private static final VarHandle INT = MethodHandles.byteArrayViewVarHandle(int[].class, ByteOrder.nativeOrder());
    private static final VarHandle LONG = MethodHandles.byteArrayViewVarHandle(long[].class, ByteOrder.nativeOrder());
    private static final VarHandle CHAR = MethodHandles.byteArrayViewVarHandle(char[].class, ByteOrder.nativeOrder());

    private ListingRecords() {
    }

    /**
     * Makes the first {@code entries} records of {@code batch} and stores them into
     * {@code records} from index {@code start}, in the batch's order. An exception
     * of a constructor, or an {@code ArrayStoreException} of the array, ends the batch.
     *
     * @param extended whether examined entries get a {@code FileInfoEx}
     */
    static void make(byte[] batch, int entries, Object[] records, int start, boolean extended) {
        int offset = 0;
        for (int i = 0; i < entries; i++) {
            int nameLength = (int) INT.get(batch, offset + OFFSET_NAME_LENGTH);
            int flags = (int) INT.get(batch, offset + OFFSET_FLAGS);
            int nameOffset = offset + HEADER_BYTES;
            String name;
            int nameBytes;
            if ((flags & FLAG_UTF16_NAME) == 0) {
                name = new String(batch, nameOffset, nameLength, StandardCharsets.ISO_8859_1);
                nameBytes = nameLength;
            } else {
                name = utf16(batch, nameOffset, nameLength);
                nameBytes = nameLength * Character.BYTES;
            }
            int attributes = (int) INT.get(batch, offset + OFFSET_ATTRIBUTES);
            long size = (long) LONG.get(batch, offset + OFFSET_SIZE);
            long modified = (long) LONG.get(batch, offset + OFFSET_MODIFIED);
            if (extended && (flags & FLAG_FALLBACK) == 0) {
                records[start + i] = new FileInfoEx(name, attributes, size, modified,
                        (long) LONG.get(batch, offset + OFFSET_ACCESSED), 0L,
                        (int) INT.get(batch, offset + OFFSET_OWNER), (int) INT.get(batch, offset + OFFSET_GROUP));
            } else {
                records[start + i] = new FileInfo(name, attributes, size, modified);
            }
            offset = align(nameOffset + nameBytes);
        }
    }

    /**
     * One file's record, as JNI would make it: called for a single file, where an
     * upcall here costs less than JNI's allocation and its upcall into the constructor.
     */
    static FileInfo record(String name, int attributes, long size, long modified) {
        return new FileInfo(name, attributes, size, modified);
    }

    /** One file's extended record, as JNI would make it: Linux reports no creation time. */
    static FileInfoEx extendedRecord(String name, int attributes, long size, long modified, long accessed, int owner,
            int group) {
        return new FileInfoEx(name, attributes, size, modified, accessed, 0L, owner, group);
    }

    /** Whether the host classes loaded here let this class make their records as JNI would. */
    static boolean canMakeRecords() {
        return canMakeRecords(FileInfo.class, FileInfoEx.class);
    }

    /**
     * Whether both record classes and their constructors are public, as bytecode
     * needs and JNI does not, and an extended record is a record.
     */
    static boolean canMakeRecords(Class<?> info, Class<?> infoEx) {
        if (!Modifier.isPublic(info.getModifiers()) || !Modifier.isPublic(infoEx.getModifiers())
                || !info.isAssignableFrom(infoEx)) {
            return false;
        }
        try {
            info.getConstructor(String.class, int.class, long.class, long.class);
            infoEx.getConstructor(String.class, int.class, long.class, long.class, long.class, long.class,
                    int.class, int.class);
            return true;
        } catch (NoSuchMethodException e) {
            return false;
        }
    }

    /** Whether these are the very classes this class makes, as a class loader elsewhere may see others. */
    static boolean makesRecordsOf(Class<?> info, Class<?> infoEx) {
        return info == FileInfo.class && infoEx == FileInfoEx.class;
    }

    private static String utf16(byte[] batch, int offset, int length) {
        char[] units = new char[length];
        for (int i = 0; i < length; i++) {
            units[i] = (char) CHAR.get(batch, offset + i * Character.BYTES);
        }
        return new String(units);
    }

    private static int align(int offset) {
        return (offset + ENTRY_ALIGNMENT - 1) & -ENTRY_ALIGNMENT;
    }
}
