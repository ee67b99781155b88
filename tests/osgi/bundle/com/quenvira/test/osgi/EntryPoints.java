package com.quenvira.test.osgi;

import com.quenvira.interfaces.ISyncProgressMonitor;
import com.quenvira.internal.io.BaseFileSystem;
import com.quenvira.io.FileInfo;
import com.quenvira.io.FileInfoEx;
import com.quenvira.io.Principal;
import com.quenvira.test.NativeMethod;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.attribute.FileTime;
import java.nio.file.attribute.PosixFileAttributes;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Random;
import java.util.Set;
import java.util.stream.Stream;
import org.eclipse.core.runtime.IProgressMonitor;
import org.eclipse.core.runtime.NullProgressMonitor;
import org.eclipse.core.runtime.SubMonitor;
import org.osgi.framework.Bundle;
import org.osgi.framework.FrameworkUtil;

/**
 * Every entry point of {@link BaseFileSystem} called from a bundle, with
 * Eclipse's own {@link NullProgressMonitor} and {@link SubMonitor}, each result
 * checked, and each ticked off in a {@link NativeMethod.Calls}, which must
 * name none never called. The report has one line per check ("ok: ..." or "FAILED: ..."),
 * then one "mapped: PATH" line per libbasefs.so file this process has mapped.
 */
final class EntryPoints {
    private static final int MIB = 1024 * 1024;
    private static final int COPY_SIZE = 3 * MIB + 12345;
    private static final int ENTRIES = 6;
    private static final String LIBRARY_FILE = "libbasefs.so";

    private final List<String> report = new ArrayList<>();
    private final NativeMethod.Calls calls = new NativeMethod.Calls();

    String run() throws IOException {
        Path dir = Files.createTempDirectory("basefs-osgi-files-");
        try {
            classesComeFromTheirBundles();
            calls.made(NativeMethod.INIT_STATIC);
            BaseFileSystem.nInitStatic();
            check("nInitStatic", true);
            fileInfo(dir);
            listing(dir);
            setFileInfo(dir);
            symbolicLinks(dir);
            copy(dir);
            compare(dir);
            principals(dir);
            check("every native method called (missing: " + calls.missing() + ")", calls.missing().isEmpty());
            String mismatches = NativeMethod.mismatches();
            check("the table of native methods matches BaseFileSystem"
                    + (mismatches.isEmpty() ? "" : ": " + mismatches), mismatches.isEmpty());
        } catch (Throwable e) {
            // The checks that ran stay in the report; the cause ends it.
            check("no exception: " + e, false);
        } finally {
            delete(dir);
        }
        for (String mapped : mappedLibraries()) {
            report.add("mapped: " + mapped);
        }
        return String.join("\n", report);
    }

    private void check(String what, boolean ok) {
        report.add((ok ? "ok: " : "FAILED: ") + what);
    }

    private static String bundleOf(Class<?> c) {
        Bundle bundle = FrameworkUtil.getBundle(c);
        return bundle == null ? "(no bundle)" : bundle.getSymbolicName();
    }

    /** The library's classes, the host classes and Eclipse's monitor each from the bundle that exports them. */
    private void classesComeFromTheirBundles() {
        check("BaseFileSystem from com.quenvira.basefs", bundleOf(BaseFileSystem.class).equals("com.quenvira.basefs"));
        check("FileInfo from com.quenvira.basefs.host", bundleOf(FileInfo.class).equals("com.quenvira.basefs.host"));
        check("ISyncProgressMonitor from com.quenvira.basefs.host",
                bundleOf(ISyncProgressMonitor.class).equals("com.quenvira.basefs.host"));
        check("IProgressMonitor from org.eclipse.equinox.common (" + bundleOf(IProgressMonitor.class) + ")",
                bundleOf(IProgressMonitor.class).equals("org.eclipse.equinox.common"));
    }

    private void fileInfo(Path dir) throws IOException {
        Path file = Files.write(dir.resolve(".hidden.txt"), "hello".getBytes());
        String name = ".hidden.txt";
        calls.made(NativeMethod.GET_FILE_INFO);
        FileInfo info = BaseFileSystem.nGetFileInfo(file.toString(), name, 0);
        check("nGetFileInfo: size, name object, hidden", info.getClass() == FileInfo.class && info.getSize() == 5
                && info.getName() == name && info.isHidden() && !info.isDirectory());
        FileInfo ex = BaseFileSystem.nGetFileInfo(file.toString(), name, BaseFileSystem.INFO_OWNER | BaseFileSystem.INFO_GROUP);
        int uid = (Integer) Files.getAttribute(file, "unix:uid");
        int gid = (Integer) Files.getAttribute(file, "unix:gid");
        check("nGetFileInfo with owner and group: FileInfoEx", ex instanceof FileInfoEx
                && ((FileInfoEx) ex).getOwner() == uid && ((FileInfoEx) ex).getGroup() == gid);
        try {
            BaseFileSystem.nGetFileInfo(dir.resolve("missing").toString(), "missing", 0);
            check("nGetFileInfo of a missing file throws", false);
        } catch (IOException e) {
            check("nGetFileInfo of a missing file: " + e.getMessage(), "Path does not exist [2]".equals(e.getMessage()));
        }
    }

    private void listing(Path dir) throws IOException {
        Path listed = Files.createDirectory(dir.resolve("listed"));
        Set<String> names = new LinkedHashSet<>();
        for (int i = 0; i < ENTRIES; i++) {
            names.add(Files.createFile(listed.resolve("entry-" + i)).getFileName().toString());
        }
        calls.made(NativeMethod.LIST_FILE_INFOS);
        FileInfo[] plain = BaseFileSystem.nListFileInfos(listed.toString(), 0, null, 0);
        check("nListFileInfos without a monitor: every entry", namesOf(plain).equals(names));
        FileInfo[] withNull = BaseFileSystem.nListFileInfos(listed + "/", 0, new NullProgressMonitor(), 1);
        check("nListFileInfos with a NullProgressMonitor: every entry", namesOf(withNull).equals(names));
        SubMonitor progress = SubMonitor.convert(new NullProgressMonitor(), "listing", 2);
        FileInfo[] withSub = BaseFileSystem.nListFileInfos(listed.toString(), BaseFileSystem.INFO_OWNER,
                progress.split(1), 1);
        check("nListFileInfos with a SubMonitor: every entry, FileInfoEx",
                namesOf(withSub).equals(names) && Arrays.stream(withSub).allMatch(f -> f instanceof FileInfoEx));

        NullProgressMonitor canceled = new NullProgressMonitor();
        canceled.setCanceled(true);
        FileInfo[] stopped = BaseFileSystem.nListFileInfos(listed.toString(), 0, canceled, 1);
        check("nListFileInfos stopped by setCanceled(true): " + stopped.length + " of " + ENTRIES,
                stopped.length < ENTRIES);
        NullProgressMonitor root = new NullProgressMonitor();
        SubMonitor child = SubMonitor.convert(root, 100).newChild(50);
        root.setCanceled(true);
        FileInfo[] stoppedChild = BaseFileSystem.nListFileInfos(listed.toString(), 0, child, 1);
        check("nListFileInfos stopped through a SubMonitor of a canceled monitor: " + stoppedChild.length
                + " of " + ENTRIES, stoppedChild.length < ENTRIES);
    }

    private static Set<String> namesOf(FileInfo[] infos) {
        Set<String> names = new LinkedHashSet<>();
        Arrays.stream(infos).map(FileInfo::getName).sorted().forEach(names::add);
        return names;
    }

    private void setFileInfo(Path dir) throws IOException {
        Path file = Files.createFile(dir.resolve("times"));
        long modified = 1_000_000_000_000L;
        int ownerReadWrite = FileInfo.ATTR_OWNER_READ | FileInfo.ATTR_OWNER_WRITE;
        calls.made(NativeMethod.SET_FILE_INFO);
        BaseFileSystem.nSetFileInfo(file.toString(), BaseFileSystem.INFO_MODIFIED | BaseFileSystem.INFO_ATTRIBUTES,
                modified, 0, 0, ownerReadWrite);
        FileTime actual = Files.getLastModifiedTime(file);
        int mode = (Integer) Files.getAttribute(file, "unix:mode") & 07777;
        check("nSetFileInfo: time and mode 0600 (" + actual.toMillis() + ", " + Integer.toOctalString(mode) + ")",
                actual.toMillis() == modified && mode == 0600);
    }

    private void symbolicLinks(Path dir) throws IOException {
        String link = dir.resolve("link").toString();
        calls.made(NativeMethod.CREATE_SYMBOLIC_LINK);
        BaseFileSystem.nCreateSymbolicLink(link, "some/target");
        check("nCreateSymbolicLink", Files.isSymbolicLink(Paths.get(link)));
        calls.made(NativeMethod.READ_SYMBOLIC_LINK);
        check("nReadSymbolicLink", "some/target".equals(BaseFileSystem.nReadSymbolicLink(link)));
    }

    /** Progress of a copy reported to a SubMonitor, as an Eclipse job would; stops once it is canceled. */
    private static final class CopyProgress implements ISyncProgressMonitor {
        private final SubMonitor monitor;
        private final long stopAfter;
        private long steps;
        private long bytes;

        CopyProgress(IProgressMonitor parent, long stopAfter) {
            this.monitor = SubMonitor.convert(parent, "copy", COPY_SIZE);
            this.stopAfter = stopAfter;
        }

        @Override
        public boolean bytesTransferred(long transferred) {
            steps++;
            bytes += transferred;
            monitor.worked((int) transferred);
            if (steps == stopAfter) {
                monitor.setCanceled(true);
            }
            return !monitor.isCanceled();
        }
    }

    private void copy(Path dir) throws IOException {
        byte[] data = new byte[COPY_SIZE];
        new Random(18).nextBytes(data);
        Path source = Files.write(dir.resolve("source"), data);
        Path copy = dir.resolve("copy");
        CopyProgress progress = new CopyProgress(new NullProgressMonitor(), -1);
        calls.made(NativeMethod.COPY_FILE_CALLBACK);
        long copied = BaseFileSystem.nCopyFileCallback(source.toString(), copy.toString(),
                BaseFileSystem.COPY_EXCLUSIVE, progress);
        check("nCopyFileCallback with an ISyncProgressMonitor: " + copied + " bytes, " + progress.steps + " steps",
                copied == COPY_SIZE && progress.steps == 4 && Arrays.equals(data, Files.readAllBytes(copy)));
        try {
            BaseFileSystem.nCopyFileCallback(source.toString(), copy.toString(), BaseFileSystem.COPY_EXCLUSIVE, null);
            check("nCopyFileCallback COPY_EXCLUSIVE onto an existing file throws", false);
        } catch (IOException e) {
            check("nCopyFileCallback COPY_EXCLUSIVE: " + e.getMessage(), "Path already exists [17]".equals(e.getMessage()));
        }
        NullProgressMonitor canceledLater = new NullProgressMonitor();
        CopyProgress stopping = new CopyProgress(canceledLater, 2);
        long stopped = BaseFileSystem.nCopyFileCallback(source.toString(), dir.resolve("stopped").toString(), 0, stopping);
        check("nCopyFileCallback stopped by setCanceled(true) after 2 steps: " + stopped + " bytes",
                stopped == 2L * MIB && canceledLater.isCanceled() && Files.size(dir.resolve("stopped")) == 2L * MIB);
    }

    private void compare(Path dir) throws IOException {
        String source = dir.resolve("source").toString();
        String copy = dir.resolve("copy").toString();
        calls.made(NativeMethod.COMPARE_BYTE_BY_BYTE);
        check("nCompareByteByByte of identical files, NullProgressMonitor",
                BaseFileSystem.nCompareByteByByte(source, copy, new NullProgressMonitor()));
        check("nCompareByteByByte of identical files, SubMonitor",
                BaseFileSystem.nCompareByteByByte(source, copy, SubMonitor.convert(new NullProgressMonitor(), 1)));
        check("nCompareByteByByte of different files",
                !BaseFileSystem.nCompareByteByByte(source, dir.resolve("stopped").toString(), null));
        NullProgressMonitor canceled = new NullProgressMonitor();
        canceled.setCanceled(true);
        check("nCompareByteByByte of identical files stopped by setCanceled(true) answers false",
                !BaseFileSystem.nCompareByteByByte(source, copy, canceled));
    }

    private void principals(Path dir) throws IOException {
        int uid = (Integer) Files.getAttribute(dir, "unix:uid");
        int gid = (Integer) Files.getAttribute(dir, "unix:gid");
        String user = Files.getOwner(dir).getName();
        String group = Files.readAttributes(dir, PosixFileAttributes.class).group().getName();
        Object owner = new Object();
        calls.made(NativeMethod.GET_USER);
        Principal u = BaseFileSystem.nGetUser(owner, uid);
        check("nGetUser " + uid + ": " + u.getName(), u.getOwner() == owner && user.equals(u.getName()));
        calls.made(NativeMethod.GET_GROUP);
        Principal g = BaseFileSystem.nGetGroup(owner, gid);
        check("nGetGroup " + gid + ": " + g.getName(), g.getOwner() == owner && group.equals(g.getName()));
    }

    /** The libbasefs.so files this process has mapped, by path as /proc/self/maps gives it. */
    private static Set<String> mappedLibraries() throws IOException {
        Set<String> paths = new LinkedHashSet<>();
        for (String line : Files.readAllLines(Paths.get("/proc/self/maps"))) {
            int start = line.indexOf('/');
            if (start >= 0 && line.contains(LIBRARY_FILE)) {
                paths.add(line.substring(start));
            }
        }
        return paths;
    }

    private static void delete(Path dir) throws IOException {
        try (Stream<Path> all = Files.walk(dir)) {
            for (Path p : (Iterable<Path>) all.sorted(Comparator.reverseOrder())::iterator) {
                Files.delete(p);
            }
        }
    }
}
