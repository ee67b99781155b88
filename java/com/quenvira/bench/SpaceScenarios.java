package com.quenvira.bench;

import java.io.IOException;
import java.io.RandomAccessFile;
import java.nio.charset.StandardCharsets;
import java.nio.file.FileStore;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.Locale;

/**
 * Copies whose space counts as much as their time: a sparse file, and a file
 * on XFS made with {@code mkfs.xfs -m reflink=1} in an image mounted through a
 * loop device. The space each copy takes is noted under the table.
 */
final class SpaceScenarios {
    private static final long SPARSE_SIZE = 2 * BenchFiles.GIB;
    private static final long SPARSE_DATA = 4 * BenchFiles.MIB;
    private static final int SPARSE_REGIONS = 4;
    private static final long REFLINK_SIZE = 512 * BenchFiles.MIB;
    private static final long REFLINK_IMAGE_SIZE = 1280 * BenchFiles.MIB;
    private static final int BLOCK_UNIT = 512;
    private static final int MAX_SETTLE_POLLS = 50;
    private static final long SETTLE_POLL_MILLIS = 100;

    private final Path root;
    private final Measurement measurement;

    /** Scenarios whose files are made in {@code root}, measured and noted in {@code measurement}. */
    SpaceScenarios(Path root, Measurement measurement) {
        this.root = root;
        this.measurement = measurement;
    }

    /** What a copier's copy takes, in bytes. */
    interface SpaceOf {
        long bytes(Contender contender) throws IOException;
    }

    static String sparseTitle() {
        return "copy " + BenchFiles.sizeName(SPARSE_SIZE) + " sparse, " + BenchFiles.sizeName(SPARSE_DATA) + " data";
    }

    static String reflinkTitle() {
        return "copy " + BenchFiles.sizeName(REFLINK_SIZE) + ", XFS reflink=1 (loop mount)";
    }

    /** A file of SPARSE_SIZE holding SPARSE_DATA in four regions, the rest holes. */
    void sparseCopy() throws IOException {
        Path source = root.resolve("sparse");
        byte[] region = new byte[(int) (SPARSE_DATA / SPARSE_REGIONS)];
        Arrays.fill(region, (byte) 's');
        try (RandomAccessFile file = new RandomAccessFile(source.toFile(), "rw")) {
            for (int i = 0; i < SPARSE_REGIONS; i++) {
                file.seek(i * (SPARSE_SIZE / SPARSE_REGIONS) + i * 12345L);
                file.write(region);
            }
            file.setLength(SPARSE_SIZE);
        }
        Scenario scenario = new Scenario(sparseTitle(), "GiB/s", (double) SPARSE_SIZE / BenchFiles.GIB, true,
                CopyScenarios.copiers(source, root));
        measurement.measure(scenario);
        noteSpace(scenario, contender -> blocksOf(root.resolve(CopyScenarios.targetOf(contender))),
                "space each copy occupies");
        Files.delete(source);
    }

    /** A copy on XFS made with reflink=1, in an image mounted through a loop device; left out where refused. */
    void reflinkCopy() throws IOException {
        Path image = root.resolve("xfs.img");
        Path mount = root.resolve("xfs");
        try (RandomAccessFile file = new RandomAccessFile(image.toFile(), "rw")) {
            file.setLength(REFLINK_IMAGE_SIZE);
        }
        Files.createDirectory(mount);
        String refused = null;
        if (!Processes.tryCommand("mkfs.xfs", "-q", "-f", "-m", "reflink=1", image.toString())) {
            refused = "mkfs.xfs -m reflink=1 failed or is not installed (apt-get install xfsprogs)";
        } else if (!Processes.tryCommand("mount", "-o", "loop", image.toString(), mount.toString())) {
            refused = "mounting a loop device is refused here (needs root and /dev/loop*)";
        }
        if (refused != null) {
            String message = reflinkTitle() + ": skipped, " + refused;
            System.err.println(message);
            measurement.note(message);
            Files.delete(image);
            return;
        }
        try {
            Path source = mount.resolve("source");
            BenchFiles.writeFile(source, REFLINK_SIZE);
            Scenario scenario = new Scenario(reflinkTitle(), "GiB/s", (double) REFLINK_SIZE / BenchFiles.GIB, true,
                    CopyScenarios.copiers(source, mount));
            measurement.measure(scenario);
            FileStore store = Files.getFileStore(mount);
            noteSpace(scenario, contender -> {
                Path target = mount.resolve(CopyScenarios.targetOf(contender));
                Files.deleteIfExists(target);
                long before = settledUnallocatedSpace(store, mount);
                contender.operation().run();
                return before - settledUnallocatedSpace(store, mount);
            }, "space each copy adds to the file system");
        } finally {
            Processes.tryCommand("umount", mount.toString());
            Files.deleteIfExists(image);
        }
    }

    /**
     * The free space of a file system once written out and settled: XFS frees a
     * deleted file's blocks in the background, so a copy measured right after its
     * previous target was deleted would seem to take nothing.
     */
    private static long settledUnallocatedSpace(FileStore store, Path mount) throws IOException {
        Processes.command("sync", "-f", mount.toString());
        long previous = store.getUnallocatedSpace();
        for (int i = 0; i < MAX_SETTLE_POLLS; i++) {
            try {
                Thread.sleep(SETTLE_POLL_MILLIS);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
                break;
            }
            Processes.command("sync", "-f", mount.toString());
            long current = store.getUnallocatedSpace();
            if (current == previous) {
                break;
            }
            previous = current;
        }
        return previous;
    }

    /** One note: the scenario's title, {@code what}, and the space of each contender's copy. */
    private void noteSpace(Scenario scenario, SpaceOf space, String what) throws IOException {
        StringBuilder line = new StringBuilder(scenario.title()).append(": ").append(what).append(':');
        String separator = " ";
        for (Contender contender : scenario.contenders()) {
            line.append(separator).append(String.format(Locale.ROOT, "%.1f MiB (%s)",
                    space.bytes(contender) / (double) BenchFiles.MIB, contender.name()));
            separator = ", ";
        }
        measurement.note(line.toString());
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
        return Long.parseLong(out) * BLOCK_UNIT;
    }
}
