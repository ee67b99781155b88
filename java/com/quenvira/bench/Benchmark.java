package com.quenvira.bench;

import com.quenvira.interfaces.ISyncProgressMonitor;
import com.quenvira.internal.io.BaseFileSystem;
import java.io.File;
import java.io.IOException;
import java.io.OutputStream;
import java.io.PrintStream;
import java.io.RandomAccessFile;
import java.nio.charset.StandardCharsets;
import java.nio.file.DirectoryStream;
import java.nio.file.FileStore;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.PosixFileAttributes;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.List;
import java.util.Locale;
import org.eclipse.core.runtime.IProgressMonitor;

/**
 * Measures the library against the JDK and against plain C loops, in one run on
 * one machine, so that every figure is read as a ratio. Each scenario warms up,
 * then runs rounds in which every contender runs once, in a rotating order.
 *
 * <pre>
 * basefs-bench [--quick] [--markdown FILE] [--dir DIR] [--only TEXT]
 * </pre>
 *
 * {@code --only} runs the scenarios whose title contains TEXT ("list", "metadata", "step by step", "copy",
 * "compare", "reflink"). The "step by step" scenarios put rows between the library and its C floor that
 * each add one JNI step, so that the differences between rows tell what each step costs.
 * The reflink scenario mounts an XFS image made with {@code mkfs.xfs -m reflink=1} through a loop
 * device, which needs root; where that is refused it says so and is left out.
 */
public final class Benchmark {
    private static final long MIB = 1024 * 1024;
    private static final long GIB = 1024 * MIB;
    private static final double NANOS_PER_SECOND = 1e9;
    private static final double NANOS_PER_MICRO = 1e3;
    private static final int METADATA_BATCH = 20_000;
    private static final int WRITE_CHUNK = (int) (4 * MIB);
    private static final String JDK_PREFIX = "JDK";
    private static final String C_PREFIX = "C ";
    private static final long SPARSE_SIZE = 2 * GIB;
    private static final long SPARSE_DATA = 4 * MIB;
    private static final long REFLINK_SIZE = 512 * MIB;
    private static final long REFLINK_IMAGE_SIZE = 1280 * MIB;

    /** One timed operation; returns a value that every contender of a scenario must agree on. */
    interface Operation {
        long run() throws IOException;
    }

    /** Work done before each timed run and not timed (removing an earlier copy). */
    interface Preparation {
        void run() throws IOException;
    }

    record Contender(String name, Preparation prepare, Operation operation) {
        static Contender of(String name, Operation operation) {
            return new Contender(name, () -> { }, operation);
        }
    }

    record Scenario(String title, String unit, double unitsPerRun, boolean throughput, List<Contender> contenders) {
    }

    record Result(Scenario scenario, Contender contender, long[] nanos) {
        long median() {
            return nanos[nanos.length / 2];
        }

        /** Microseconds per unit, or GiB per second for throughput scenarios. */
        double perUnit() {
            return scenario.throughput() ? scenario.unitsPerRun() / (median() / NANOS_PER_SECOND)
                    : median() / NANOS_PER_MICRO / scenario.unitsPerRun();
        }
    }

    private final boolean quick;
    private final Path root;
    private final String only;
    /** Lines printed under the table: space taken by copies, scenarios left out. */
    private final List<String> notes = new ArrayList<>();
    private final int warmups;
    private final int rounds;
    private final List<Result> results = new ArrayList<>();

    private Benchmark(boolean quick, Path root, String only) {
        this.quick = quick;
        this.root = root;
        this.only = only;
        this.warmups = quick ? 1 : 2;
        this.rounds = quick ? 5 : 9;
    }

    public static void main(String[] args) throws Exception {
        boolean quick = false;
        String markdown = null;
        String dir = System.getProperty("java.io.tmpdir");
        String only = "";
        for (int i = 0; i < args.length; i++) {
            switch (args[i]) {
                case "--quick": quick = true; break;
                case "--markdown": markdown = args[++i]; break;
                case "--dir": dir = args[++i]; break;
                case "--only": only = args[++i]; break;
                default:
                    System.err.println("usage: basefs-bench [--quick] [--markdown FILE] [--dir DIR] [--only TEXT]");
                    System.exit(2);
            }
        }
        BaseFileSystem.nInitStatic();
        Path root = Files.createTempDirectory(Paths.get(dir), "basefs-bench-");
        try {
            Benchmark benchmark = new Benchmark(quick, root, only);
            benchmark.runAll();
            benchmark.printTable(System.out);
            if (markdown != null) {
                try (PrintStream out = new PrintStream(Files.newOutputStream(Paths.get(markdown)), true,
                        StandardCharsets.UTF_8)) {
                    benchmark.printMarkdown(out);
                }
            }
        } finally {
            deleteTree(root);
        }
    }

    private boolean wanted(String title) {
        return title.contains(only);
    }

    private void runAll() throws IOException {
        int[] directorySizes = quick ? new int[] {1_000, 10_000} : new int[] {1_000, 10_000, 100_000};
        for (int entries : directorySizes) {
            if (wanted(String.format(Locale.ROOT, "list %,d entries", entries))) {
                measure(listing(entries));
            }
        }
        for (int entries : directorySizes) {
            if (entries >= 10_000 && wanted(String.format(Locale.ROOT, "list %,d entries, step by step", entries))) {
                measure(listingSteps(entries));
            }
        }
        if (wanted("one file's metadata")) {
            measure(metadata());
        }
        if (wanted("one file's metadata, step by step")) {
            measure(metadataSteps());
        }
        long[] fileSizes = quick ? new long[] {64 * MIB} : new long[] {64 * MIB, GIB};
        for (long size : fileSizes) {
            Path source = writeFile("source-" + size, size);
            if (wanted("copy " + sizeName(size))) {
                measure(copy(source, size));
            }
            if (wanted("compare " + sizeName(size))) {
                Path twin = writeFile("twin-" + size, size);
                measure(compare(source, twin, size));
                Files.delete(twin);
            }
            Files.delete(source);
        }
        if (wanted(sparseTitle())) {
            sparseCopy();
        }
        if (wanted(reflinkTitle())) {
            reflinkCopy();
        }
    }

    // ---- scenarios ---------------------------------------------------------

    /** A directory of {@code entries} empty files, made once for the scenarios that list it. */
    private Path entriesDirectory(int entries) throws IOException {
        Path dir = root.resolve("dir-" + entries);
        if (!Files.isDirectory(dir)) {
            Files.createDirectory(dir);
            for (int i = 0; i < entries; i++) {
                Files.createFile(dir.resolve(String.format(Locale.ROOT, "entry-%07d.dat", i)));
            }
        }
        return dir;
    }

    private Scenario listing(int entries) throws IOException {
        Path dir = entriesDirectory(entries);
        String path = dir + "/";
        List<Contender> contenders = List.of(
                Contender.of("basefs nListFileInfos mask 0", () -> BaseFileSystem.nListFileInfos(path, 0, null, 0).length),
                Contender.of("basefs nListFileInfos mask 0x78",
                        () -> BaseFileSystem.nListFileInfos(path, 0x78, null, 0).length),
                Contender.of("JDK newDirectoryStream + readAttributes(Posix)", () -> jdkListWithAttributes(dir)),
                Contender.of("JDK File.listFiles (names only)", () -> new File(path).listFiles().length),
                Contender.of("C readdir + lstat(full path)", () -> NativeLoops.readdirLstat(path)),
                Contender.of("C getdents64 + fstatat", () -> NativeLoops.getdentsFstatat(path)));
        return new Scenario(String.format(Locale.ROOT, "list %,d entries", entries), "µs/entry", entries, false,
                contenders);
    }

    /**
     * The library's listing and the C loop with the JNI steps between them: the differences
     * between the rows are what each step costs per entry.
     */
    private Scenario listingSteps(int entries) throws IOException {
        Path dir = entriesDirectory(entries);
        String path = dir + "/";
        List<Contender> contenders = List.of(
                Contender.of("C getdents64 + fstatat", () -> NativeLoops.getdentsFstatat(path)),
                Contender.of("C step 0: readdir + fstatat on the directory", () -> NativeLoops.listSteps(path, 0, entries)),
                Contender.of("C step 1: + record written into a batch", () -> NativeLoops.listSteps(path, 1, entries)),
                Contender.of("C step 2: + records made in Java, one upcall per batch",
                        () -> NativeLoops.listSteps(path, 2, entries)),
                Contender.of("basefs nListFileInfos mask 0", () -> BaseFileSystem.nListFileInfos(path, 0, null, 0).length));
        return new Scenario(String.format(Locale.ROOT, "list %,d entries, step by step", entries), "µs/entry", entries,
                false, contenders);
    }

    private static long jdkListWithAttributes(Path dir) throws IOException {
        long count = 0;
        try (DirectoryStream<Path> stream = Files.newDirectoryStream(dir)) {
            for (Path entry : stream) {
                PosixFileAttributes attributes =
                        Files.readAttributes(entry, PosixFileAttributes.class, LinkOption.NOFOLLOW_LINKS);
                if (attributes.size() >= 0) {
                    count++;
                }
            }
        }
        return count;
    }

    private Scenario metadata() throws IOException {
        Path file = Files.write(root.resolve("metadata.txt"), new byte[] {1, 2, 3});
        String path = file.toString();
        String name = file.getFileName().toString();
        List<Contender> contenders = List.of(
                Contender.of("basefs nGetFileInfo", () -> {
                    long sizes = 0;
                    for (int i = 0; i < METADATA_BATCH; i++) {
                        sizes += BaseFileSystem.nGetFileInfo(path, name, 0).getSize();
                    }
                    return sizes;
                }),
                Contender.of("JDK Files.readAttributes(Posix), cached Path", () -> {
                    long sizes = 0;
                    for (int i = 0; i < METADATA_BATCH; i++) {
                        sizes += Files.readAttributes(file, PosixFileAttributes.class, LinkOption.NOFOLLOW_LINKS)
                                .size();
                    }
                    return sizes;
                }),
                // What a caller holding the path as a String pays, as it does for nGetFileInfo.
                Contender.of("JDK Files.readAttributes(Path.of(s), Posix)", () -> {
                    long sizes = 0;
                    for (int i = 0; i < METADATA_BATCH; i++) {
                        sizes += Files.readAttributes(Path.of(path), PosixFileAttributes.class,
                                LinkOption.NOFOLLOW_LINKS).size();
                    }
                    return sizes;
                }),
                Contender.of("C lstat", () -> 3L * NativeLoops.lstatRepeated(path, METADATA_BATCH)));
        return new Scenario("one file's metadata", "µs/call", METADATA_BATCH, false, contenders);
    }

    /**
     * nGetFileInfo and the C loop with the steps between them, one native call per file: the
     * differences between the rows are what each step costs.
     */
    private Scenario metadataSteps() throws IOException {
        Path file = Files.write(root.resolve("metadata-steps.txt"), new byte[] {1, 2, 3});
        String path = file.toString();
        String name = file.getFileName().toString();
        String[] steps = {
            "C step 0: one native call per file, nothing done",
            "C step 1: + path converted (GetStringLength, GetStringRegion)",
            "C step 2: + lstat",
            "C step 3: + name's first character (GetStringLength, GetStringRegion)",
            "C step 4: + FileInfo record (NewObjectA)",
        };
        List<Contender> contenders = new ArrayList<>();
        contenders.add(Contender.of("C lstat, all in one native call",
                () -> 3L * NativeLoops.lstatRepeated(path, METADATA_BATCH)));
        for (int step = 0; step < steps.length; step++) {
            int steps0 = step;
            contenders.add(Contender.of(steps[step], () -> {
                long sizes = 0;
                for (int i = 0; i < METADATA_BATCH; i++) {
                    sizes += NativeLoops.statSteps(path, name, steps0);
                }
                return sizes;
            }));
        }
        contenders.add(Contender.of("basefs nGetFileInfo", () -> {
            long sizes = 0;
            for (int i = 0; i < METADATA_BATCH; i++) {
                sizes += BaseFileSystem.nGetFileInfo(path, name, 0).getSize();
            }
            return sizes;
        }));
        return new Scenario("one file's metadata, step by step", "µs/call", METADATA_BATCH, false, contenders);
    }

    private Scenario copy(Path source, long size) {
        String from = source.toString();
        ISyncProgressMonitor monitor = bytes -> true;
        List<Contender> contenders = List.of(
                copying("basefs nCopyFileCallback", "copy-plain",
                        to -> BaseFileSystem.nCopyFileCallback(from, to.toString(), 0, null)),
                copying("basefs nCopyFileCallback + monitor", "copy-monitor",
                        to -> BaseFileSystem.nCopyFileCallback(from, to.toString(), 0, monitor)),
                copying("JDK Files.copy", "copy-jdk", to -> {
                    Files.copy(source, to, StandardCopyOption.REPLACE_EXISTING);
                    return Files.size(to);
                }),
                copying("C sendfile 1 MiB steps", "copy-c", to -> NativeLoops.sendfileSteps(from, to.toString())));
        return new Scenario("copy " + sizeName(size), "GiB/s", (double) size / GIB, true, contenders);
    }

    interface CopyTo {
        long run(Path target) throws IOException;
    }

    /** A copy contender that writes a fresh target: the earlier one is removed before timing. */
    private Contender copying(String name, String targetName, CopyTo copy) {
        return copying(name, root.resolve(targetName), copy);
    }

    private static Contender copying(String name, Path target, CopyTo copy) {
        return new Contender(name, () -> Files.deleteIfExists(target), () -> copy.run(target));
    }

    /** The library with and without a monitor, Files.copy and cp, each into a target in {@code dir}. */
    private static List<Contender> copiers(Path source, Path dir) {
        String from = source.toString();
        ISyncProgressMonitor monitor = bytes -> true;
        return List.of(
                copying("basefs nCopyFileCallback", dir.resolve("copy-plain"),
                        to -> BaseFileSystem.nCopyFileCallback(from, to.toString(), 0, null)),
                copying("basefs nCopyFileCallback + monitor", dir.resolve("copy-monitor"),
                        to -> BaseFileSystem.nCopyFileCallback(from, to.toString(), 0, monitor)),
                copying("JDK Files.copy", dir.resolve("copy-jdk"), to -> {
                    Files.copy(source, to, StandardCopyOption.REPLACE_EXISTING);
                    return Files.size(to);
                }),
                copying("cp (coreutils)", dir.resolve("copy-cp"), to -> {
                    command("cp", from, to.toString());
                    return Files.size(to);
                }));
    }

    private static String sparseTitle() {
        return "copy " + sizeName(SPARSE_SIZE) + " sparse, " + sizeName(SPARSE_DATA) + " data";
    }

    /** A file of SPARSE_SIZE holding SPARSE_DATA in four regions, the rest holes. */
    private void sparseCopy() throws IOException {
        Path source = root.resolve("sparse");
        byte[] region = new byte[(int) (SPARSE_DATA / 4)];
        Arrays.fill(region, (byte) 's');
        try (RandomAccessFile file = new RandomAccessFile(source.toFile(), "rw")) {
            for (int i = 0; i < 4; i++) {
                file.seek(i * (SPARSE_SIZE / 4) + i * 12345L);
                file.write(region);
            }
            file.setLength(SPARSE_SIZE);
        }
        Scenario scenario = new Scenario(sparseTitle(), "GiB/s", (double) SPARSE_SIZE / GIB, true,
                copiers(source, root));
        measure(scenario);
        noteSpace(scenario, contender -> blocksOf(root.resolve(targetOf(contender))), "space each copy occupies");
        Files.delete(source);
    }

    private static String reflinkTitle() {
        return "copy " + sizeName(REFLINK_SIZE) + ", XFS reflink=1 (loop mount)";
    }

    /** A copy on XFS made with reflink=1, in an image mounted through a loop device. */
    private void reflinkCopy() throws IOException {
        Path image = root.resolve("xfs.img");
        Path mount = root.resolve("xfs");
        try (RandomAccessFile file = new RandomAccessFile(image.toFile(), "rw")) {
            file.setLength(REFLINK_IMAGE_SIZE);
        }
        Files.createDirectory(mount);
        String refused = null;
        if (!tryCommand("mkfs.xfs", "-q", "-f", "-m", "reflink=1", image.toString())) {
            refused = "mkfs.xfs -m reflink=1 failed or is not installed (apt-get install xfsprogs)";
        } else if (!tryCommand("mount", "-o", "loop", image.toString(), mount.toString())) {
            refused = "mounting a loop device is refused here (needs root and /dev/loop*)";
        }
        if (refused != null) {
            String message = reflinkTitle() + ": skipped, " + refused;
            System.err.println(message);
            notes.add(message);
            Files.delete(image);
            return;
        }
        try {
            Path source = mount.resolve("source");
            writeFile(source, REFLINK_SIZE);
            Scenario scenario = new Scenario(reflinkTitle(), "GiB/s", (double) REFLINK_SIZE / GIB, true,
                    copiers(source, mount));
            measure(scenario);
            FileStore store = Files.getFileStore(mount);
            noteSpace(scenario, contender -> {
                Path target = mount.resolve(targetOf(contender));
                Files.deleteIfExists(target);
                long before = settledUnallocatedSpace(store, mount);
                contender.operation().run();
                return before - settledUnallocatedSpace(store, mount);
            }, "space each copy adds to the file system");
        } finally {
            tryCommand("umount", mount.toString());
            Files.deleteIfExists(image);
        }
    }

    /**
     * The free space of a file system once written out and settled: XFS frees a
     * deleted file's blocks in the background, so a copy measured right after its
     * previous target was deleted would seem to take nothing.
     */
    private static long settledUnallocatedSpace(FileStore store, Path mount) throws IOException {
        final int maxPolls = 50;
        final long pollMillis = 100;
        command("sync", "-f", mount.toString());
        long previous = store.getUnallocatedSpace();
        for (int i = 0; i < maxPolls; i++) {
            try {
                Thread.sleep(pollMillis);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
                break;
            }
            command("sync", "-f", mount.toString());
            long current = store.getUnallocatedSpace();
            if (current == previous) {
                break;
            }
            previous = current;
        }
        return previous;
    }

    /** The file name each copier writes (see copiers). */
    private static String targetOf(Contender contender) {
        String name = contender.name();
        return name.startsWith("JDK") ? "copy-jdk" : name.startsWith("cp") ? "copy-cp"
                : name.endsWith("monitor") ? "copy-monitor" : "copy-plain";
    }

    interface SpaceOf {
        long bytes(Contender contender) throws IOException;
    }

    private void noteSpace(Scenario scenario, SpaceOf space, String what) throws IOException {
        StringBuilder line = new StringBuilder(scenario.title()).append(": ").append(what).append(':');
        String separator = " ";
        for (Contender contender : scenario.contenders()) {
            line.append(separator).append(String.format(Locale.ROOT, "%.1f MiB (%s)",
                    space.bytes(contender) / (double) MIB, contender.name()));
            separator = ", ";
        }
        notes.add(line.toString());
    }

    /** The bytes the file's blocks occupy (st_blocks, in 512-byte units). */
    private static long blocksOf(Path file) throws IOException {
        Process process = new ProcessBuilder("stat", "-c", "%b", file.toString()).start();
        String out = new String(process.getInputStream().readAllBytes(), StandardCharsets.UTF_8).trim();
        try {
            process.waitFor();
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
        return Long.parseLong(out) * 512;
    }

    private static boolean tryCommand(String... command) throws IOException {
        Process process = new ProcessBuilder(command).redirectErrorStream(true)
                .redirectOutput(ProcessBuilder.Redirect.DISCARD).start();
        try {
            return process.waitFor() == 0;
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            return false;
        }
    }

    private static void command(String... command) throws IOException {
        if (!tryCommand(command)) {
            throw new IOException("failed: " + String.join(" ", command));
        }
    }

    private Scenario compare(Path first, Path second, long size) {
        String a = first.toString();
        String b = second.toString();
        IProgressMonitor monitor = () -> false;
        List<Contender> contenders = List.of(
                Contender.of("basefs nCompareByteByByte", () -> BaseFileSystem.nCompareByteByByte(a, b, null) ? 1 : 0),
                Contender.of("basefs nCompareByteByByte + monitor",
                        () -> BaseFileSystem.nCompareByteByByte(a, b, monitor) ? 1 : 0),
                Contender.of("JDK Files.mismatch", () -> Files.mismatch(first, second) == -1 ? 1 : 0),
                Contender.of("C fread 64 KiB + memcmp", () -> NativeLoops.freadMemcmp(a, b) ? 1 : 0));
        return new Scenario("compare " + sizeName(size), "GiB/s", (double) size / GIB, true, contenders);
    }

    // ---- measuring -----------------------------------------------------------

    private void measure(Scenario scenario) throws IOException {
        System.err.println("measuring: " + scenario.title());
        List<Contender> contenders = scenario.contenders();
        long[] expected = {Long.MIN_VALUE};
        for (int i = 0; i < warmups; i++) {
            for (Contender contender : contenders) {
                timeOnce(scenario, contender, expected);
            }
        }
        long[][] samples = new long[contenders.size()][rounds];
        for (int round = 0; round < rounds; round++) {
            // Rotate the order so that no contender always runs after the same one.
            for (int k = 0; k < contenders.size(); k++) {
                int index = (k + round) % contenders.size();
                samples[index][round] = timeOnce(scenario, contenders.get(index), expected);
            }
        }
        for (int i = 0; i < contenders.size(); i++) {
            Arrays.sort(samples[i]);
            results.add(new Result(scenario, contenders.get(i), samples[i]));
        }
    }

    private static long timeOnce(Scenario scenario, Contender contender, long[] expected) throws IOException {
        contender.prepare().run();
        long start = System.nanoTime();
        long value = contender.operation().run();
        long elapsed = System.nanoTime() - start;
        if (expected[0] == Long.MIN_VALUE) {
            expected[0] = value;
        } else if (value != expected[0]) {
            throw new IllegalStateException(scenario.title() + ": " + contender.name() + " gave " + value
                    + ", expected " + expected[0]);
        }
        return elapsed;
    }

    // ---- reporting -----------------------------------------------------------

    private static final String[] HEADER = {"scenario", "contender", "median ms", "min ms", "max ms", "per unit",
        "× vs JDK", "× C cost"};

    private List<String[]> rows() {
        List<String[]> rows = new ArrayList<>();
        for (Result result : results) {
            Scenario scenario = result.scenario();
            Result jdk = find(scenario, JDK_PREFIX);
            Result floor = find(scenario, C_PREFIX);
            rows.add(new String[] {
                scenario.title(),
                result.contender().name(),
                millis(result.median()),
                millis(result.nanos()[0]),
                millis(result.nanos()[result.nanos().length - 1]),
                String.format(Locale.ROOT, "%.3f %s", result.perUnit(), scenario.unit()),
                // Above 1: faster than the JDK's first contender in this scenario.
                jdk == null ? "" : String.format(Locale.ROOT, "%.2f", (double) jdk.median() / result.median()),
                // Above 1: slower than the C loop (the floor).
                floor == null ? "" : String.format(Locale.ROOT, "%.2f", (double) result.median() / floor.median()),
            });
        }
        return rows;
    }

    private Result find(Scenario scenario, String prefix) {
        return results.stream().filter(r -> r.scenario() == scenario && r.contender().name().startsWith(prefix))
                .findFirst().orElse(null);
    }

    private static String millis(long nanos) {
        return String.format(Locale.ROOT, "%.2f", nanos / 1e6);
    }

    private void printTable(PrintStream out) {
        List<String[]> rows = rows();
        int[] widths = new int[HEADER.length];
        for (String[] row : concat(HEADER, rows)) {
            for (int i = 0; i < row.length; i++) {
                widths[i] = Math.max(widths[i], row[i].length());
            }
        }
        for (String[] row : concat(HEADER, rows)) {
            StringBuilder line = new StringBuilder();
            for (int i = 0; i < row.length; i++) {
                String cell = i < 2 ? pad(row[i], widths[i], false) : pad(row[i], widths[i], true);
                line.append(cell).append(i + 1 < row.length ? "  " : "");
            }
            out.println(line.toString().stripTrailing());
        }
        out.println(describeMachine());
        notes.forEach(out::println);
    }

    private void printMarkdown(PrintStream out) {
        out.println("| " + String.join(" | ", HEADER) + " |");
        out.println("|---|---|" + "---:|".repeat(HEADER.length - 2));
        for (String[] row : rows()) {
            out.println("| " + String.join(" | ", row) + " |");
        }
        out.println();
        out.println(describeMachine());
        for (String note : notes) {
            out.println();
            out.println(note);
        }
    }

    private String describeMachine() {
        return String.format(Locale.ROOT, "%d rounds after %d warm-up runs; %d cores, %s %s, JDK %s, files in %s%s",
                rounds, warmups, Runtime.getRuntime().availableProcessors(), System.getProperty("os.name"),
                System.getProperty("os.version"), System.getProperty("java.version"), root.getParent(),
                quick ? " (--quick)" : "");
    }

    private static List<String[]> concat(String[] header, List<String[]> rows) {
        List<String[]> all = new ArrayList<>();
        all.add(header);
        all.addAll(rows);
        return all;
    }

    private static String pad(String text, int width, boolean right) {
        String space = " ".repeat(Math.max(0, width - text.length()));
        return right ? space + text : text + space;
    }

    // ---- files -----------------------------------------------------------------

    private Path writeFile(String name, long size) throws IOException {
        return writeFile(root.resolve(name), size);
    }

    private static Path writeFile(Path file, long size) throws IOException {
        byte[] chunk = new byte[WRITE_CHUNK];
        for (int i = 0; i < chunk.length; i++) {
            chunk[i] = (byte) (i * 31 + 7);
        }
        try (OutputStream out = Files.newOutputStream(file)) {
            for (long written = 0; written < size; written += chunk.length) {
                out.write(chunk, 0, (int) Math.min(chunk.length, size - written));
            }
        }
        return file;
    }

    private static String sizeName(long size) {
        return size >= GIB ? size / GIB + " GiB" : size / MIB + " MiB";
    }

    private static void deleteTree(Path root) throws IOException {
        try (var paths = Files.walk(root)) {
            for (Path path : paths.sorted(Comparator.reverseOrder()).toList()) {
                Files.deleteIfExists(path);
            }
        }
    }
}
