package com.quenvira.test;

import com.quenvira.io.FileInfo;
import com.quenvira.io.FileInfoEx;

/**
 * Stand-ins for the library's record-making class, each wrong in one way, and
 * look-alikes of the host's record classes, for the tests of how nInitStatic
 * chooses the way listings make their records.
 */
public final class RecordMakers {
    private RecordMakers() {
    }

    /** The right layout, but a make that stores nothing. */
    public static final class StoresNothing {
        static final int LAYOUT_VERSION = 1;

        static void make(byte[] batch, int entries, Object[] records, int start, boolean extended) {
        }

        static boolean canMakeRecords() {
            return true;
        }
    }

    /** A layout the library does not write. */
    public static final class OtherLayout {
        static final int LAYOUT_VERSION = -1;

        static void make(byte[] batch, int entries, Object[] records, int start, boolean extended) {
        }

        static boolean canMakeRecords() {
            return true;
        }
    }

    /** The right layout, but no method to make records with. */
    public static final class NoMake {
        static final int LAYOUT_VERSION = 1;

        static boolean canMakeRecords() {
            return true;
        }
    }

    /** A static initialiser that fails: ExceptionInInitializerError, a LinkageError. */
    public static final class FailingInitialiser {
        static final int LAYOUT_VERSION;

        static {
            if (Boolean.parseBoolean("true")) {
                throw new IllegalStateException("initialiser failed");
            }
            LAYOUT_VERSION = 1;
        }

        static void make(byte[] batch, int entries, Object[] records, int start, boolean extended) {
        }

        static boolean canMakeRecords() {
            return true;
        }
    }

    /** Cannot reach the host's records. */
    public static final class CannotMake {
        static final int LAYOUT_VERSION = 1;

        static void make(byte[] batch, int entries, Object[] records, int start, boolean extended) {
        }

        static boolean canMakeRecords() {
            return false;
        }
    }

    /** A failure that is no linkage problem: it must fail the initialisation. */
    public static final class CheckRunsOutOfMemory {
        static final int LAYOUT_VERSION = 1;

        static void make(byte[] batch, int entries, Object[] records, int start, boolean extended) {
        }

        static boolean canMakeRecords() {
            throw new OutOfMemoryError("check ran out of memory");
        }
    }

    /** A maker of an older release: no factories of single records. */
    public static final class NoFactories {
        static final int LAYOUT_VERSION = 1;

        static void make(byte[] batch, int entries, Object[] records, int start, boolean extended) {
        }

        static boolean canMakeRecords() {
            return true;
        }
    }

    /** A maker that sees other classes of the host's names; its factories make nothing and count their calls. */
    public static final class OtherRecordClasses {
        static final int LAYOUT_VERSION = 1;
        static int calls;

        static void make(byte[] batch, int entries, Object[] records, int start, boolean extended) {
        }

        static FileInfo record(String name, int attributes, long size, long modified) {
            calls++;
            return null;
        }

        static FileInfoEx extendedRecord(String name, int attributes, long size, long modified, long accessed,
                int owner, int group) {
            calls++;
            return null;
        }

        static boolean canMakeRecords() {
            return true;
        }

        static boolean makesRecordsOf(Class<?> info, Class<?> infoEx) {
            return false;
        }
    }

    /** Factories of single records whose records cannot be made. */
    public static final class FactoryThrows {
        static FileInfo record(String name, int attributes, long size, long modified) {
            throw new IllegalStateException("plain");
        }

        static FileInfoEx extendedRecord(String name, int attributes, long size, long modified, long accessed,
                int owner, int group) {
            throw new IllegalStateException("extended");
        }
    }

    /** Record classes as the host's should be. */
    public static class PublicInfo {
        public PublicInfo(String name, int attributes, long size, long modified) {
        }
    }

    public static class PublicInfoEx extends PublicInfo {
        public PublicInfoEx(String name, int attributes, long size, long modified, long accessed, long created,
                int owner, int group) {
            super(name, attributes, size, modified);
        }
    }

    /** A record class that bytecode of another package cannot name. */
    static class HiddenInfo {
        public HiddenInfo(String name, int attributes, long size, long modified) {
        }
    }

    /** An extended record whose constructor is not public. */
    public static class ClosedInfoEx extends PublicInfo {
        ClosedInfoEx(String name, int attributes, long size, long modified, long accessed, long created,
                int owner, int group) {
            super(name, attributes, size, modified);
        }
    }

    /** An extended record that is no record. */
    public static class UnrelatedInfoEx {
        public UnrelatedInfoEx(String name, int attributes, long size, long modified, long accessed, long created,
                int owner, int group) {
        }
    }
}
