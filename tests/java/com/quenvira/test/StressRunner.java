package com.quenvira.test;

import com.quenvira.internal.io.BaseFileSystem;
import com.quenvira.io.FileInfo;
import com.quenvira.io.FileInfoEx;
import com.quenvira.io.Principal;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.attribute.FileTime;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.TreeMap;
import java.util.TreeSet;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicLong;
import java.util.stream.Collectors;
import java.util.stream.Stream;

/**
 * Load for the library: threads that each run rounds of mixed calls of every
 * native method at once, on a private tree per thread and on files shared by
 * all of them, checking every result against what the JDK itself sees. A
 * native method of {@link NativeMethod} that no round called is a failure too.
 * Failures are counted (the first few described), never thrown.
 */
public final class StressRunner {
    /** Native calls made by every round, each counted as it is made. */
    public static final int CALLS_PER_ROUND = 15;

    private static final int MAX_REPORTED = 20;
    private static final int PRIVATE_FILES = 10;
    private static final int PRIVATE_ENTRIES = PRIVATE_FILES + 1; // and one directory
    private static final int LISTING_CHECK_INTERVAL = 3;
    private static final long COPY_STEP = BaseFileSystem.COPY_STEP_SIZE;
    private static final long COMPARE_BLOCK = BaseFileSystem.COMPARE_BLOCK_SIZE;
    private static final int OLD_CONTENTS_SIZE = 300 * 1024;
    private static final long BASE_TIME = 1_000_000_000_000L; // whole seconds: milliseconds are dropped
    private static final int TIME_BITS = BaseFileSystem.INFO_MODIFIED | BaseFileSystem.INFO_ACCESSED;
    private static final int EXTENDED = BaseFileSystem.INFO_ACCESSED | BaseFileSystem.INFO_OWNER
            | BaseFileSystem.INFO_GROUP;

    private static final AtomicInteger RUNS = new AtomicInteger();

    private final int run = RUNS.incrementAndGet();
    private final AtomicLong calls = new AtomicLong();
    private final NativeMethod.Calls nativeCalls = new NativeMethod.Calls();
    private final AtomicLong failures = new AtomicLong();
    private final List<String> reported = new ArrayList<>();

    private final Path root;
    private final Path shared;
    private final Set<String> sharedNames;
    private final List<String> copySources;
    private final Map<String, byte[]> sharedContents = new TreeMap<>();
    private final String userName;
    private final String groupName;

    private StressRunner(Path root, String userName, String groupName) throws IOException {
        this.root = root;
        this.shared = root.resolve("shared");
        this.userName = userName;
        this.groupName = groupName;
        try (Stream<Path> entries = Files.list(shared)) {
            sharedNames = entries.map(p -> p.getFileName().toString()).collect(Collectors.toCollection(TreeSet::new));
        }
        for (String name : sharedNames) {
            sharedContents.put(name, Files.readAllBytes(shared.resolve(name)));
        }
        copySources = sharedNames.stream().filter(n -> !n.endsWith(".diff")).collect(Collectors.toList());
    }

    /**
     * Runs {@code rounds} rounds on each of {@code threads} threads, all started
     * together. {@code root} holds the directory "shared" (files "X" and, for
     * each non-empty one, "X.diff" of the same size with other contents);
     * each thread of each run makes its own tree beside it. The names are those of user 0
     * and group 0.
     */
    public static StressRunner run(String root, int threads, int rounds, String userName, String groupName)
            throws Exception {
        StressRunner runner = new StressRunner(Paths.get(root), userName, groupName);
        CyclicBarrier start = new CyclicBarrier(threads);
        List<Thread> workers = new ArrayList<>();
        for (int t = 0; t < threads; t++) {
            final int index = t;
            Thread worker = new Thread(() -> runner.work(index, rounds, start), "stress-" + t);
            workers.add(worker);
            worker.start();
        }
        for (Thread worker : workers) {
            worker.join();
        }
        for (NativeMethod method : runner.nativeCalls.missing()) {
            runner.fail(method.methodName() + " never called");
        }
        return runner;
    }

    public long calls() {
        return calls.get();
    }

    public long failures() {
        return failures.get();
    }

    public synchronized String report() {
        return String.join("\n", reported);
    }

    private synchronized void fail(String what) {
        failures.incrementAndGet();
        if (reported.size() < MAX_REPORTED) {
            reported.add(Thread.currentThread().getName() + ": " + what);
        }
    }

    /** Counts a call of {@code method} about to be made. */
    private void call(NativeMethod method) {
        calls.incrementAndGet();
        nativeCalls.made(method);
    }

    private void check(boolean condition, String what) {
        if (!condition) {
            fail(what);
        }
    }

    private void work(int index, int rounds, CyclicBarrier start) {
        try {
            Path tree = root.resolve("run-" + run + "-thread-" + index);
            Files.createDirectory(tree);
            Files.createDirectory(tree.resolve("sub"));
            for (int i = 0; i < PRIVATE_FILES; i++) {
                Files.write(tree.resolve("f" + i), new byte[i * 37]);
            }
            start.await();
            for (int round = 0; round < rounds; round++) {
                try {
                    round(index, round, tree);
                } catch (Exception e) {
                    fail("round " + round + ": unexpected " + e);
                }
            }
        } catch (Exception e) {
            fail("cannot run: " + e);
        }
    }

    /** One round: exactly CALLS_PER_ROUND native calls, each result checked. */
    private void round(int index, int round, Path tree) throws IOException {
        final String where = "round " + round + ": ";
        final String dir = tree + "/";
        final CountingMonitor monitor = new CountingMonitor();

        // The private tree, with or without a monitor and extended records.
        boolean withMonitor = round % 2 == 0;
        int mask = round % 2 == 1 ? EXTENDED : 0;
        call(NativeMethod.LIST_FILE_INFOS);
        FileInfo[] own = BaseFileSystem.nListFileInfos(dir, mask, withMonitor ? monitor : null, LISTING_CHECK_INTERVAL);
        checkPrivateListing(own, mask, tree, where);
        check(monitor.cancelChecks == (withMonitor ? PRIVATE_ENTRIES / LISTING_CHECK_INTERVAL : 0),
                where + "listing asked the monitor " + monitor.cancelChecks + " times");

        // The shared files, listed by all threads at once.
        call(NativeMethod.LIST_FILE_INFOS);
        FileInfo[] common = BaseFileSystem.nListFileInfos(shared + "/", 0, null, 0);
        Map<String, Long> listed = new TreeMap<>();
        for (FileInfo info : common) {
            listed.put(info.getName(), info.getSize());
        }
        check(listed.keySet().equals(sharedNames), where + "shared listing " + listed.keySet());
        for (Map.Entry<String, Long> entry : listed.entrySet()) {
            byte[] contents = sharedContents.get(entry.getKey());
            check(contents != null && contents.length == entry.getValue(), where + "shared size of " + entry.getKey());
        }

        // Times and permissions set, then read back by the library and by the JDK.
        int fileIndex = round % PRIVATE_FILES;
        Path file = tree.resolve("f" + fileIndex);
        call(NativeMethod.GET_FILE_INFO);
        FileInfo before = BaseFileSystem.nGetFileInfo(file.toString(), "f" + fileIndex, EXTENDED);
        check(before instanceof FileInfoEx && before.getSize() == fileIndex * 37L
                && ((FileInfoEx) before).getOwner() == (Integer) Files.getAttribute(file, "unix:uid"),
                where + "file info " + before);
        long modified = BASE_TIME + (index * 100_000L + round) * 1000;
        long accessed = modified + 86_400_000L;
        int mode = StressModes.MODES[round % StressModes.MODES.length];
        call(NativeMethod.SET_FILE_INFO);
        BaseFileSystem.nSetFileInfo(file.toString(), TIME_BITS | BaseFileSystem.INFO_ATTRIBUTES, modified, accessed,
                0, StressModes.attributesOf(mode));
        call(NativeMethod.GET_FILE_INFO);
        FileInfo after = BaseFileSystem.nGetFileInfo(file.toString(), "f" + fileIndex, BaseFileSystem.INFO_ACCESSED);
        check(after.getModified() == modified && ((FileInfoEx) after).getAccessed() == accessed,
                where + "times read back " + after);
        check(StressModes.hasMode(after, mode), where + "permissions " + after);
        check(Files.getLastModifiedTime(file).equals(FileTime.fromMillis(modified)), where + "JDK's modified time");
        check(((Integer) Files.getAttribute(file, "unix:mode") & 07777) == mode, where + "JDK's mode");

        // A link made and read back.
        Path link = tree.resolve("link");
        String target = "target-" + index + "-" + round + "/\u00e9\uD83D\uDE00";
        call(NativeMethod.CREATE_SYMBOLIC_LINK);
        BaseFileSystem.nCreateSymbolicLink(link.toString(), target);
        call(NativeMethod.READ_SYMBOLIC_LINK);
        String read = BaseFileSystem.nReadSymbolicLink(link.toString());
        check(target.equals(read), where + "link target " + read);
        check(Files.readSymbolicLink(link).toString().equals(target), where + "JDK's link target");
        Files.delete(link);

        // A shared file copied (sometimes over longer old contents), then compared.
        String name = copySources.get(round % copySources.size());
        byte[] contents = sharedContents.get(name);
        Path copy = tree.resolve("copy");
        if (round % 4 == 1) {
            Files.write(copy, new byte[OLD_CONTENTS_SIZE]);
        }
        boolean exclusive = round % 4 == 0;
        boolean copyMonitor = round % 3 == 0;
        call(NativeMethod.COPY_FILE_CALLBACK);
        long copied = BaseFileSystem.nCopyFileCallback(shared.resolve(name).toString(), copy.toString(),
                exclusive ? BaseFileSystem.COPY_EXCLUSIVE : 0, copyMonitor ? monitor : null);
        check(copied == contents.length, where + "copied " + copied + " of " + name);
        check(Arrays.equals(contents, Files.readAllBytes(copy)), where + "copy of " + name + " differs");
        long steps = (contents.length + COPY_STEP - 1) / COPY_STEP;
        check(monitor.steps == (copyMonitor ? steps : 0) && monitor.bytes == monitor.steps * COPY_STEP,
                where + "copy reported " + monitor.steps + " steps");

        monitor.cancelChecks = 0;
        boolean compareMonitor = round % 2 == 1;
        call(NativeMethod.COMPARE_BYTE_BY_BYTE);
        boolean same = BaseFileSystem.nCompareByteByByte(shared.resolve(name).toString(), copy.toString(),
                compareMonitor ? monitor : null);
        check(same, where + "copy of " + name + " compared different");
        long blocks = contents.length / COMPARE_BLOCK + 1;
        check(monitor.cancelChecks == (compareMonitor ? blocks : 0),
                where + "compare asked " + monitor.cancelChecks + " times for " + name);
        String other = contents.length > 0 ? name + ".diff" : copySources.get(copySources.size() - 1);
        call(NativeMethod.COMPARE_BYTE_BY_BYTE);
        check(!BaseFileSystem.nCompareByteByByte(copy.toString(), shared.resolve(other).toString(), null),
                where + name + " compared equal to " + other);

        // Failures reported as exceptions, also under load.
        call(NativeMethod.COPY_FILE_CALLBACK);
        expectIOException(() -> BaseFileSystem.nCopyFileCallback(shared.resolve(name).toString(), copy.toString(),
                BaseFileSystem.COPY_EXCLUSIVE, null), "Path already exists [17]", where + "exclusive copy");
        Files.delete(copy);
        call(NativeMethod.GET_FILE_INFO);
        expectIOException(() -> BaseFileSystem.nGetFileInfo(tree.resolve("missing").toString(), "missing", 0),
                "Path does not exist [2]", where + "missing file");

        // Initialisation asked for again while the other threads work: it is done already.
        call(NativeMethod.INIT_STATIC);
        BaseFileSystem.nInitStatic();

        // User and group 0, each carrying its own owner object.
        Object owner = new Object();
        call(NativeMethod.GET_USER);
        Principal user = BaseFileSystem.nGetUser(owner, 0);
        check(user.getOwner() == owner && userName.equals(user.getName()), where + "user " + user);
        call(NativeMethod.GET_GROUP);
        Principal group = BaseFileSystem.nGetGroup(owner, 0);
        check(group.getOwner() == owner && groupName.equals(group.getName()), where + "group " + group);
    }

    private void checkPrivateListing(FileInfo[] records, int mask, Path tree, String where) throws IOException {
        Map<String, FileInfo> byName = new TreeMap<>();
        for (FileInfo info : records) {
            byName.put(info.getName(), info);
        }
        check(records.length == PRIVATE_ENTRIES && byName.size() == PRIVATE_ENTRIES,
                where + "private listing " + byName.keySet());
        FileInfo sub = byName.get("sub");
        check(sub != null && sub.isDirectory() && sub.getSize() == 0, where + "sub " + sub);
        int uid = (Integer) Files.getAttribute(tree, "unix:uid");
        for (int i = 0; i < PRIVATE_FILES; i++) {
            FileInfo info = byName.get("f" + i);
            check(info != null && !info.isDirectory() && info.getSize() == i * 37L, where + "f" + i + " " + info);
            if (info != null && mask != 0) {
                check(info instanceof FileInfoEx && ((FileInfoEx) info).getOwner() == uid, where + "owner " + info);
            }
        }
    }

    private void expectIOException(NativeCall call, String message, String what) {
        try {
            call.run();
            fail(what + ": no exception");
        } catch (IOException e) {
            check(message.equals(e.getMessage()), what + ": " + e.getMessage());
        }
    }
}
