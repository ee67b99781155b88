package com.quenvira.bench;

import com.quenvira.internal.io.WatchEvent;
import com.quenvira.internal.io.Watcher;
import java.io.IOException;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardWatchEventKinds;
import java.nio.file.WatchKey;
import java.nio.file.WatchService;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.stream.Stream;

/**
 * Watching a tree of 10,000 directories: registering it, and receiving the
 * same changes, through the library's Watcher (polled on this thread) and the
 * JDK's WatchService (one registration per directory, its own thread).
 */
final class WatchScenarios {
    static final String REGISTER_TITLE = "watch: register 10,000 directories";
    static final String EVENTS_TITLE = "watch: 2,000 creations received";
    static final String DELAY_TITLE = "watch: delay from a change to its report";
    private static final int TOP = 100;
    private static final int BELOW = 100;
    private static final int FILES = 2_000;
    private static final int DELAY_SAMPLES = 2_000;

    private final Path tree;
    private final List<Path> directories = new ArrayList<>();
    private int generation;

    WatchScenarios(Path root) throws IOException {
        tree = Files.createDirectory(root.resolve("watched"));
        directories.add(tree);
        for (int d = 0; d < TOP; d++) {
            Path top = Files.createDirectory(tree.resolve("d" + d));
            directories.add(top);
            for (int e = 0; e < BELOW; e++) {
                directories.add(Files.createDirectory(top.resolve("e" + e)));
            }
        }
    }

    Scenario register() {
        List<Contender> contenders = List.of(
                Contender.of("basefs Watcher.open", () -> {
                    try (Watcher watcher = Watcher.open(tree.toString())) {
                        return watcher.poll(0).size();
                    }
                }),
                Contender.of("JDK WatchService, each directory registered", () -> {
                    try (WatchService service = FileSystems.getDefault().newWatchService()) {
                        registerAll(service);
                        return 0;
                    }
                }));
        return new Scenario(REGISTER_TITLE, "directory", directories.size(), false, contenders);
    }

    /**
     * The same files made for each contender in turn, untimed; then the time to receive the report of
     * each: the library reads and decodes the kernel's queue in the poll, the JDK's thread already has.
     */
    Scenario events(Watcher watcher, WatchService service) throws IOException {
        List<Contender> contenders = List.of(
                new Contender("basefs Watcher.poll", () -> prepare(watcher, service), () -> {
                    int seen = 0;
                    while (seen < FILES) {
                        for (WatchEvent event : watcher.poll(-1)) {
                            seen += event.kind() == WatchEvent.Kind.CREATED ? 1 : 0;
                        }
                    }
                    return seen;
                }),
                new Contender("JDK WatchService.take", () -> prepare(watcher, service), () -> {
                    int seen = 0;
                    while (seen < FILES) {
                        seen += takeCreated(service);
                    }
                    return seen;
                }));
        return new Scenario(EVENTS_TITLE, "event", FILES, false, contenders);
    }

    /** Median and 99th percentile of the delay from a file's creation to its report, as notes. */
    void delays(Watcher watcher, WatchService service, Measurement measurement) throws IOException {
        drain(watcher, service);
        long[] library = new long[DELAY_SAMPLES];
        long[] jdk = new long[DELAY_SAMPLES];
        for (int i = 0; i < DELAY_SAMPLES; i++) {
            // Each measures a creation of its own; the other's report of it is taken untimed.
            Path directory = directories.get(1 + i * 7 % (directories.size() - 1));
            Path forLibrary = directory.resolve("late" + i);
            Path forJdk = directory.resolve("later" + i);
            long start = System.nanoTime();
            Files.createFile(forLibrary);
            int reported = watcher.poll(-1).size();
            library[i] = System.nanoTime() - start;
            int taken = takeEvents(service);
            start = System.nanoTime();
            Files.createFile(forJdk);
            taken += takeEvents(service);
            jdk[i] = System.nanoTime() - start;
            Files.delete(forLibrary);
            Files.delete(forJdk);
            while (reported < 4) {
                reported += watcher.poll(-1).size();
            }
            while (taken < 4) {
                taken += takeEvents(service);
            }
        }
        measurement.note(DELAY_TITLE + " (" + DELAY_SAMPLES + " files each): basefs Watcher.poll "
                + percentiles(library) + "; JDK WatchService.take " + percentiles(jdk));
    }

    WatchService registeredService() throws IOException {
        WatchService service = FileSystems.getDefault().newWatchService();
        registerAll(service);
        return service;
    }

    private void registerAll(WatchService service) throws IOException {
        for (Path directory : directories) {
            directory.register(service, StandardWatchEventKinds.ENTRY_CREATE, StandardWatchEventKinds.ENTRY_DELETE,
                    StandardWatchEventKinds.ENTRY_MODIFY);
        }
    }

    private void prepare(Watcher watcher, WatchService service) throws IOException {
        drain(watcher, service);
        createFiles();
    }

    private void createFiles() throws IOException {
        int made = generation++;
        for (int i = 0; i < FILES; i++) {
            Files.createFile(directories.get(1 + i * 7 % (directories.size() - 1)).resolve("f" + made + "_" + i));
        }
    }

    /** Removes the files of earlier runs, untimed, and empties both queues of what that brought. */
    private void drain(Watcher watcher, WatchService service) throws IOException {
        for (Path directory : directories.subList(1, directories.size())) {
            try (Stream<Path> files = Files.list(directory)) {
                for (Path file : (Iterable<Path>) files::iterator) {
                    if (Files.isRegularFile(file)) {
                        Files.delete(file);
                    }
                }
            }
        }
        while (!watcher.poll(50).isEmpty()) {
            // nothing to keep
        }
        drainJdk(service);
    }

    private static void drainJdk(WatchService service) {
        try {
            for (WatchKey key; (key = service.poll(50, TimeUnit.MILLISECONDS)) != null;) {
                key.pollEvents();
                key.reset();
            }
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    /** Waits for the JDK's next reports of changes; returns how many it brought. */
    private static int takeEvents(WatchService service) throws IOException {
        try {
            WatchKey key = service.take();
            int seen = key.pollEvents().size();
            key.reset();
            return seen;
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new IOException(e);
        }
    }

    private static int takeCreated(WatchService service) throws IOException {
        try {
            WatchKey key = service.take();
            int created = 0;
            for (java.nio.file.WatchEvent<?> event : key.pollEvents()) {
                created += event.kind() == StandardWatchEventKinds.ENTRY_CREATE ? 1 : 0;
            }
            key.reset();
            return created;
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new IOException(e);
        }
    }

    private static String percentiles(long[] nanos) {
        long[] sorted = nanos.clone();
        Arrays.sort(sorted);
        return String.format("median %.1f µs, p99 %.1f µs", sorted[sorted.length / 2] / 1e3,
                sorted[sorted.length * 99 / 100] / 1e3);
    }
}
