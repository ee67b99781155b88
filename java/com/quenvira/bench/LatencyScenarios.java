package com.quenvira.bench;

import com.quenvira.internal.io.BaseFileSystem;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.Locale;
import java.util.concurrent.TimeUnit;

/**
 * Listings where each examination waits: on a FUSE passthrough that adds a fixed latency to every
 * request (standing for NFS, SMB, sshfs), and on a local directory whose caches are dropped before
 * every run. Either is left out, with a note, where this machine cannot provide it.
 */
final class LatencyScenarios {
    static final int LATENCY_MICROS = 200;
    private static final long MOUNT_WAIT_MILLIS = 10_000;
    private static final Path DROP_CACHES = Path.of("/proc/sys/vm/drop_caches");

    private final ListingScenarios listings;
    private final Path root;
    private final Measurement measurement;

    LatencyScenarios(ListingScenarios listings, Path root, Measurement measurement) {
        this.listings = listings;
        this.root = root;
        this.measurement = measurement;
    }

    static String slowTitle(int entries) {
        return String.format(Locale.ROOT, "list %,d entries, FUSE + %d µs per request", entries, LATENCY_MICROS);
    }

    static String coldTitle(int entries) {
        return String.format(Locale.ROOT, "list %,d entries, cold cache", entries);
    }

    /** The listing contenders on a slow file system mounted for the scenario and unmounted after. */
    void slow(int entries) throws IOException {
        String program = System.getProperty("com.quenvira.basefs.bench.slowfs", "");
        if (program.isEmpty()) {
            measurement.note(slowTitle(entries) + ": left out, the build found no libfuse3 (libfuse3-dev)");
            return;
        }
        if (!Files.exists(Path.of("/dev/fuse"))) {
            measurement.note(slowTitle(entries) + ": left out, this machine has no /dev/fuse");
            return;
        }
        Path source = listings.entriesDirectory(entries);
        Path mountPoint = Files.createDirectory(root.resolve("slow-" + entries));
        Process server = new ProcessBuilder(program, source.toString(), mountPoint.toString(),
                Integer.toString(LATENCY_MICROS)).redirectErrorStream(true)
                .redirectOutput(ProcessBuilder.Redirect.DISCARD).start();
        try {
            if (!awaitMount(mountPoint, server)) {
                measurement.note(slowTitle(entries) + ": left out, the FUSE file system could not be mounted");
                return;
            }
            measurement.measure(new Scenario(slowTitle(entries), "µs/entry", entries, false,
                    contenders(mountPoint)));
        } finally {
            unmount(mountPoint, server);
        }
    }

    /** The listing contenders on a local directory whose caches are dropped before each run. */
    void cold(int entries) throws IOException {
        if (!Files.isWritable(DROP_CACHES)) {
            measurement.note(coldTitle(entries) + ": left out, " + DROP_CACHES + " cannot be written here");
            return;
        }
        Path dir = listings.entriesDirectory(entries);
        List<Contender> contenders = contenders(dir).stream()
                .map(c -> new Contender(c.name(), LatencyScenarios::dropCaches, c.operation())).toList();
        measurement.measure(new Scenario(coldTitle(entries), "µs/entry", entries, false, contenders));
    }

    private static List<Contender> contenders(Path dir) {
        String path = dir + "/";
        return List.of(
                Contender.of("basefs nListFileInfos mask 0", () -> BaseFileSystem.nListFileInfos(path, 0, null, 0).length),
                Contender.of("JDK newDirectoryStream + readAttributes(Posix)", () -> ListingScenarios.jdkListWithAttributes(dir)),
                Contender.of("C getdents64 + fstatat", () -> NativeLoops.getdentsFstatat(path)));
    }

    private static void dropCaches() throws IOException {
        Processes.command("sync");
        Files.writeString(DROP_CACHES, "3\n", StandardCharsets.US_ASCII);
    }

    /** Whether the mount point shows up in the mount table before the server ends or time runs out. */
    private static boolean awaitMount(Path mountPoint, Process server) throws IOException {
        String entry = " " + mountPoint + " ";
        long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(MOUNT_WAIT_MILLIS);
        while (System.nanoTime() < deadline && server.isAlive()) {
            for (String line : Files.readAllLines(Path.of("/proc/self/mounts"))) {
                if (line.contains(entry)) {
                    return true;
                }
            }
            try {
                Thread.sleep(20);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
                return false;
            }
        }
        return false;
    }

    private static void unmount(Path mountPoint, Process server) throws IOException {
        if (!Processes.tryCommand("fusermount3", "-u", mountPoint.toString())
                && !Processes.tryCommand("umount", mountPoint.toString())) {
            Processes.tryCommand("umount", "-l", mountPoint.toString());
        }
        try {
            if (!server.waitFor(MOUNT_WAIT_MILLIS, TimeUnit.MILLISECONDS)) {
                server.destroyForcibly().waitFor();
            }
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
        Files.deleteIfExists(mountPoint);
    }
}
