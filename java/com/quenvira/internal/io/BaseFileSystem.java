package com.quenvira.internal.io;

import com.quenvira.interfaces.ISyncProgressMonitor;
import com.quenvira.io.FileInfo;
import com.quenvira.io.Principal;
import java.io.IOException;
import org.eclipse.core.runtime.IProgressMonitor;

/**
 * The native file-system operations of libbasefs.so.
 *
 * <p>Loading this class loads the library, bound to this class's loader: from the
 * absolute path in the system property {@value #LIBRARY_PATH_PROPERTY} when it is
 * set (and from nowhere else), otherwise inside an OSGi framework from the bundle's
 * native code, otherwise from the copy the natives jar carries for the machine's
 * architecture, written for the moment of loading to a private directory inside the
 * real path of {@value #EXTRACT_DIRECTORY_PROPERTY} (default {@code java.io.tmpdir}),
 * otherwise, for Debian's jars in /usr/share/java, from Debian's packaged library,
 * otherwise from the absolute elements of {@code java.library.path} (see {@code NativeLibraryLoader}).
 * When no way works, or the JVM denies native access (JDK 24 and later, without
 * {@code --enable-native-access=ALL-UNNAMED}), loading fails with an {@code UnsatisfiedLinkError} that says why.
 * Call {@link #nInitStatic()} once, before any other method; until it has
 * succeeded every other method throws {@code IllegalStateException("Not initialized")}.
 *
 * <p>Every failure is reported by an exception; operating-system errors are
 * {@code IOException}s whose message is a description and the error number,
 * for example "Path does not exist [2]". A monitor's own exception ends the
 * operation that asked it and reaches the caller.
 *
 * <p>Each method here says what it takes, returns and throws; what each operation does
 * on every kind of file, and every message, is told once, in docs/operations.md in the
 * source distribution.
 */
public final class BaseFileSystem {
    /** System property naming the library file to load instead of searching java.library.path. */
    public static final String LIBRARY_PATH_PROPERTY = "com.quenvira.basefs.library";
    /** Name of the library for {@link System#loadLibrary}. */
    public static final String LIBRARY_NAME = "basefs";
    /** System property naming the directory the jar's copy of the library is written to for loading. */
    public static final String EXTRACT_DIRECTORY_PROPERTY = "com.quenvira.basefs.tmpdir";

    /** Info mask: set the permissions from the attribute word. */
    public static final int INFO_ATTRIBUTES = 0x01;
    /** Info mask: set the modification time. */
    public static final int INFO_MODIFIED = 0x04;
    /** Info mask: report or set the access time. */
    public static final int INFO_ACCESSED = 0x08;
    /** Info mask: ask for a {@code FileInfoEx} record. */
    public static final int INFO_EXTENDED = 0x10;
    /** Info mask: report the owner's user ID. */
    public static final int INFO_OWNER = 0x20;
    /** Info mask: report the group ID. */
    public static final int INFO_GROUP = 0x40;

    /** Copy flag: fail with "Path already exists [17]" when the destination exists. */
    public static final int COPY_EXCLUSIVE = 0x1;

    /**
     * The bytes of one step of a copy with a monitor: {@code bytesTransferred} hears this much
     * per step of data, also for a shorter last one, and the whole span of a step that ends
     * beyond a hole.
     */
    public static final int COPY_STEP_SIZE = 1024 * 1024;
    /** The bytes of one block of a comparison: a monitor is asked once per block. */
    public static final int COMPARE_BLOCK_SIZE = 64 * 1024;

    static {
        NativeLibraryLoader.load();
    }

    private BaseFileSystem() {
    }

    /**
     * Resolves the host classes the library uses. Runs once per process; a failure
     * (the JVM's NoClassDefFoundError or NoSuchMethodError) is not retried.
     *
     * @throws NoClassDefFoundError when a host class is missing
     * @throws NoSuchMethodError when a host class lacks a constructor or method the library calls
     */
    public static native void nInitStatic();

    /**
     * One file's metadata; a symbolic link is examined itself, not its target.
     *
     * @param path the file's full path
     * @param name the name stored in the record (the same object), also tested for a leading dot
     * @param infoMask {@code INFO_*} bits; any of ACCESSED, EXTENDED, OWNER, GROUP gives a {@code FileInfoEx}
     * @return the file's record
     * @throws IllegalStateException "Not initialized", until {@link #nInitStatic()} has succeeded
     * @throws NullPointerException when {@code path} or {@code name} is null
     * @throws IOException when the file cannot be examined, such as "Path does not exist [2]"
     */
    public static native FileInfo nGetFileInfo(String path, String name, int infoMask) throws IOException;

    /**
     * Records of every entry of a directory but "." and "..", in directory order.
     *
     * @param path the directory, with or without a trailing "/" (each entry is examined relative to it)
     * @param infoMask {@code INFO_*} bits, as for {@link #nGetFileInfo}
     * @param monitor asked every {@code checkInterval} entries whether to stop, or null
     * @param checkInterval the entries between two questions to the monitor (1 or less: every entry)
     * @return one record per entry, or those gathered until the monitor stopped the listing
     * @throws IllegalStateException "Not initialized", until {@link #nInitStatic()} has succeeded
     * @throws NullPointerException when {@code path} is null
     * @throws IllegalArgumentException when {@code monitor} is no {@code IProgressMonitor}
     * @throws IOException when the directory cannot be opened or read
     */
    public static native FileInfo[] nListFileInfos(String path, int infoMask, IProgressMonitor monitor,
            int checkInterval) throws IOException;

    /**
     * Sets the times of the file (of a link itself) and then its permissions (of a link's target),
     * as chosen by {@code INFO_MODIFIED}, {@code INFO_ACCESSED} and {@code INFO_ATTRIBUTES}.
     *
     * @param path the file's full path
     * @param infoMask which of the values below to set; 0 sets nothing
     * @param modified the modification time in milliseconds since the epoch
     * @param accessed the access time in milliseconds since the epoch
     * @param created ignored: Linux has no settable creation time
     * @param attributes the permission bits ({@code FileInfo.ATTR_*}) to set
     * @throws IllegalStateException "Not initialized", until {@link #nInitStatic()} has succeeded
     * @throws NullPointerException when {@code path} is null
     * @throws IOException when the times or the permissions cannot be set (after failed times
     *         the permissions are left alone)
     */
    public static native void nSetFileInfo(String path, int infoMask, long modified, long accessed,
            long created, int attributes) throws IOException;

    /**
     * The target text of a symbolic link.
     *
     * @param path the link's full path
     * @return the target text, exactly as stored
     * @throws IllegalStateException "Not initialized", until {@link #nInitStatic()} has succeeded
     * @throws NullPointerException when {@code path} is null
     * @throws IOException when the file is not a symbolic link, its target is too long, or it cannot be read
     */
    public static native String nReadSymbolicLink(String path) throws IOException;

    /**
     * Creates a symbolic link; its target need not exist.
     *
     * @param linkPath the full path of the new link
     * @param targetPath the link's target text
     * @throws IllegalStateException "Not initialized", until {@link #nInitStatic()} has succeeded
     * @throws NullPointerException when either argument is null
     * @throws IOException when the link cannot be created, such as "Path already exists [17]"
     */
    public static native void nCreateSymbolicLink(String linkPath, String targetPath) throws IOException;

    /**
     * Copies a file's contents inside the kernel, as {@code cp} does: a new destination gets the
     * source's permission bits less the umask and never a set-ID bit, holes stay holes.
     *
     * @param src the source's full path
     * @param dst the destination's full path
     * @param copyFlags {@link #COPY_EXCLUSIVE} or 0
     * @param monitor told of each {@link #COPY_STEP_SIZE} step and able to stop the copy, or null
     * @return the number of bytes of the source copied, holes included
     * @throws IllegalStateException "Not initialized", until {@link #nInitStatic()} has succeeded
     * @throws NullPointerException when {@code src} or {@code dst} is null
     * @throws IllegalArgumentException when {@code monitor} is no {@code ISyncProgressMonitor}
     * @throws IOException when a file cannot be opened, the source is a directory, or a transfer fails
     * @throws OutOfMemoryError when the copy's buffer cannot be allocated
     */
    public static native long nCopyFileCallback(String src, String dst, int copyFlags,
            ISyncProgressMonitor monitor) throws IOException;

    /**
     * Compares two files' contents.
     *
     * @param file1 the first file's full path
     * @param file2 the second file's full path
     * @param monitor asked after every {@link #COMPARE_BLOCK_SIZE} block whether to stop, or null
     * @return true only when both files have identical contents; false when they differ or the
     *         monitor stopped the comparison
     * @throws IllegalStateException "Not initialized", until {@link #nInitStatic()} has succeeded
     * @throws NullPointerException when either path is null
     * @throws IllegalArgumentException when {@code monitor} is no {@code IProgressMonitor}
     * @throws IOException when a file cannot be opened or read
     * @throws OutOfMemoryError when the comparison's buffers cannot be allocated
     */
    public static native boolean nCompareByteByByte(String file1, String file2, IProgressMonitor monitor)
            throws IOException;

    /**
     * The name of a user.
     *
     * @param owner any object, carried unchanged into the result (possibly null)
     * @param uid the numeric user ID; a negative one is the unsigned ID it encodes
     * @return the user's name with {@code owner}
     * @throws IllegalStateException "Not initialized", until {@link #nInitStatic()} has succeeded
     * @throws IOException "User does not exist", or the lookup's error
     */
    public static native Principal nGetUser(Object owner, int uid) throws IOException;

    /**
     * The name of a group.
     *
     * @param owner any object, carried unchanged into the result (possibly null)
     * @param gid the numeric group ID; a negative one is the unsigned ID it encodes
     * @return the group's name with {@code owner}
     * @throws IllegalStateException "Not initialized", until {@link #nInitStatic()} has succeeded
     * @throws IOException "Group does not exist", or the lookup's error
     */
    public static native Principal nGetGroup(Object owner, int gid) throws IOException;
}
