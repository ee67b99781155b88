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
 * for example "Path does not exist [2]".
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
     */
    public static native void nInitStatic();

    /**
     * One file's metadata; a symbolic link is examined itself, not its target.
     *
     * @param path the file's full path
     * @param name the name stored in the record (the same object), also tested for a leading dot
     * @param infoMask {@code INFO_*} bits; any of ACCESSED, EXTENDED, OWNER, GROUP gives a {@code FileInfoEx}
     */
    public static native FileInfo nGetFileInfo(String path, String name, int infoMask) throws IOException;

    /**
     * Records of every entry of a directory but "." and "..".
     *
     * @param path the directory, with or without a trailing "/" (each entry is examined relative to it)
     * @param monitor asked every {@code checkInterval} entries whether to stop, or null
     */
    public static native FileInfo[] nListFileInfos(String path, int infoMask, IProgressMonitor monitor,
            int checkInterval) throws IOException;

    /**
     * Sets the times of the file (of a link itself) and then its permissions (of a link's target),
     * as chosen by {@code INFO_MODIFIED}, {@code INFO_ACCESSED} and {@code INFO_ATTRIBUTES}.
     *
     * @param created ignored: Linux has no settable creation time
     */
    public static native void nSetFileInfo(String path, int infoMask, long modified, long accessed,
            long created, int attributes) throws IOException;

    /** The target text of a symbolic link. */
    public static native String nReadSymbolicLink(String path) throws IOException;

    /** Creates a symbolic link at {@code linkPath} whose target text is {@code targetPath}. */
    public static native void nCreateSymbolicLink(String linkPath, String targetPath) throws IOException;

    /**
     * Copies a file's contents inside the kernel.
     *
     * @param copyFlags {@link #COPY_EXCLUSIVE} or 0
     * @param monitor told of each 1 MiB step and able to stop the copy, or null
     * @return the number of bytes copied
     */
    public static native long nCopyFileCallback(String src, String dst, int copyFlags,
            ISyncProgressMonitor monitor) throws IOException;

    /** True only when both files have identical contents; the monitor is asked after every 64 KiB block. */
    public static native boolean nCompareByteByByte(String file1, String file2, IProgressMonitor monitor) throws IOException;

    /** The name of a user; the result carries {@code owner} unchanged. */
    public static native Principal nGetUser(Object owner, int uid) throws IOException;

    /** The name of a group; the result carries {@code owner} unchanged. */
    public static native Principal nGetGroup(Object owner, int gid) throws IOException;
}
