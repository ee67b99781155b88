package com.quenvira.bench;

import com.quenvira.internal.io.BaseFileSystem;
import com.quenvira.internal.io.Watcher;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.WatchService;

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
 * "compare", "reflink", "watch", "FUSE", "cold"). The "step by step" scenarios put rows between the library and its C floor that
 * each add one JNI step, so that the differences between rows tell what each step costs.
 * The slow scenario mounts a FUSE passthrough that adds a fixed latency to every request (built where
 * libfuse3 is installed); the cold one drops the kernel's caches before every run (root).
 * The reflink scenario mounts an XFS image made with {@code mkfs.xfs -m reflink=1} through a loop
 * device, which needs root; where that is refused it says so and is left out.
 */
public final class Benchmark {
    private static final int STEPS_MIN_ENTRIES = 10_000;
    private static final int SLOW_ENTRIES_QUICK = 1_000;
    private static final int SLOW_ENTRIES = 5_000;
    private static final int COLD_ENTRIES_QUICK = 10_000;
    private static final int COLD_ENTRIES = 30_000;
    private static final int QUICK_WARMUPS = 1;
    private static final int QUICK_ROUNDS = 5;
    private static final int WARMUPS = 2;
    private static final int ROUNDS = 9;

    private final boolean quick;
    private final Path root;
    private final String only;
    private final Measurement measurement;

    private Benchmark(boolean quick, Path root, String only) {
        this.quick = quick;
        this.root = root;
        this.only = only;
        this.measurement = quick ? new Measurement(QUICK_WARMUPS, QUICK_ROUNDS) : new Measurement(WARMUPS, ROUNDS);
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
            Report report = new Report(benchmark.measurement, root, quick);
            report.printTable(System.out);
            if (markdown != null) {
                try (PrintStream out = new PrintStream(Files.newOutputStream(Paths.get(markdown)), true,
                        StandardCharsets.UTF_8)) {
                    report.printMarkdown(out);
                }
            }
        } finally {
            BenchFiles.deleteTree(root);
        }
    }

    private boolean wanted(String title) {
        return title.contains(only);
    }

    /** Measures each scenario that --only leaves in, in the order of the table. */
    private void runAll() throws IOException {
        int[] directorySizes = quick ? new int[] {1_000, 10_000} : new int[] {1_000, 10_000, 100_000};
        ListingScenarios listings = new ListingScenarios(root);
        for (int entries : directorySizes) {
            if (wanted(ListingScenarios.title(entries))) {
                measurement.measure(listings.listing(entries));
            }
        }
        for (int entries : directorySizes) {
            if (entries >= STEPS_MIN_ENTRIES && wanted(ListingScenarios.stepsTitle(entries))) {
                measurement.measure(listings.listingSteps(entries));
            }
        }
        LatencyScenarios latency = new LatencyScenarios(listings, root, measurement);
        int slowEntries = quick ? SLOW_ENTRIES_QUICK : SLOW_ENTRIES;
        if (wanted(LatencyScenarios.slowTitle(slowEntries))) {
            latency.slow(slowEntries);
        }
        int coldEntries = quick ? COLD_ENTRIES_QUICK : COLD_ENTRIES;
        if (wanted(LatencyScenarios.coldTitle(coldEntries))) {
            latency.cold(coldEntries);
        }
        MetadataScenarios metadata = new MetadataScenarios(root);
        if (wanted(MetadataScenarios.TITLE)) {
            measurement.measure(metadata.metadata());
        }
        if (wanted(MetadataScenarios.STEPS_TITLE)) {
            measurement.measure(metadata.metadataSteps());
        }
        long[] fileSizes = quick ? new long[] {64 * BenchFiles.MIB} : new long[] {64 * BenchFiles.MIB, BenchFiles.GIB};
        for (long size : fileSizes) {
            measureCopyAndCompare(size);
        }
        if (wanted(WatchScenarios.REGISTER_TITLE) || wanted(WatchScenarios.EVENTS_TITLE)
                || wanted(WatchScenarios.DELAY_TITLE)) {
            measureWatching();
        }
        SpaceScenarios space = new SpaceScenarios(root, measurement);
        if (wanted(SpaceScenarios.sparseTitle())) {
            space.sparseCopy();
        }
        if (wanted(SpaceScenarios.reflinkTitle())) {
            space.reflinkCopy();
        }
    }

    /** Registration, events and their delay, on one tree watched by both. */
    private void measureWatching() throws IOException {
        WatchScenarios watching = new WatchScenarios(root);
        if (wanted(WatchScenarios.REGISTER_TITLE)) {
            measurement.measure(watching.register());
        }
        try (Watcher watcher = Watcher.open(root.resolve("watched").toString());
                WatchService service = watching.registeredService()) {
            if (wanted(WatchScenarios.EVENTS_TITLE)) {
                measurement.measure(watching.events(watcher, service));
            }
            if (wanted(WatchScenarios.DELAY_TITLE)) {
                watching.delays(watcher, service, measurement);
            }
        }
    }

    /** The copy and the comparison of a file of {@code size}, written for them and removed after. */
    private void measureCopyAndCompare(long size) throws IOException {
        Path source = BenchFiles.writeFile(root.resolve("source-" + size), size);
        if (wanted(CopyScenarios.title(size))) {
            measurement.measure(CopyScenarios.copy(source, size, root));
        }
        if (wanted(CompareScenarios.title(size))) {
            Path twin = BenchFiles.writeFile(root.resolve("twin-" + size), size);
            measurement.measure(CompareScenarios.compare(source, twin, size));
            Files.delete(twin);
        }
        Files.delete(source);
    }
}
