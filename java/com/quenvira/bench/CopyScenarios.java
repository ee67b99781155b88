package com.quenvira.bench;

import com.quenvira.interfaces.ISyncProgressMonitor;
import com.quenvira.internal.io.BaseFileSystem;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.List;

/**
 * Copying a file: the library, with and without a monitor, against the JDK and
 * C or cp; each contender writes a target of its own, removed before each run.
 */
final class CopyScenarios {
    private CopyScenarios() {
    }

    /** What a contender does to the target it is given; returns the bytes copied. */
    interface CopyTo {
        long run(Path target) throws IOException;
    }

    static String title(long size) {
        return "copy " + BenchFiles.sizeName(size);
    }

    /** The library, Files.copy and C's sendfile loop, each into a target in {@code dir}. */
    static Scenario copy(Path source, long size, Path dir) {
        String from = source.toString();
        ISyncProgressMonitor monitor = bytes -> true;
        List<Contender> contenders = List.of(
                copying("basefs nCopyFileCallback", dir.resolve("copy-plain"),
                        to -> BaseFileSystem.nCopyFileCallback(from, to.toString(), 0, null)),
                copying("basefs nCopyFileCallback + monitor", dir.resolve("copy-monitor"),
                        to -> BaseFileSystem.nCopyFileCallback(from, to.toString(), 0, monitor)),
                jdkCopying(source, dir),
                copying("C sendfile 1 MiB steps", dir.resolve("copy-c"),
                        to -> NativeLoops.sendfileSteps(from, to.toString())));
        return new Scenario(title(size), "GiB/s", (double) size / BenchFiles.GIB, true, contenders);
    }

    /** The library with and without a monitor, Files.copy and cp, each into a target in {@code dir}. */
    static List<Contender> copiers(Path source, Path dir) {
        String from = source.toString();
        ISyncProgressMonitor monitor = bytes -> true;
        return List.of(
                copying("basefs nCopyFileCallback", dir.resolve("copy-plain"),
                        to -> BaseFileSystem.nCopyFileCallback(from, to.toString(), 0, null)),
                copying("basefs nCopyFileCallback + monitor", dir.resolve("copy-monitor"),
                        to -> BaseFileSystem.nCopyFileCallback(from, to.toString(), 0, monitor)),
                jdkCopying(source, dir),
                copying("cp (coreutils)", dir.resolve("copy-cp"), to -> {
                    Processes.command("cp", from, to.toString());
                    return Files.size(to);
                }));
    }

    /** The file name each of the copiers writes. */
    static String targetOf(Contender contender) {
        String name = contender.name();
        return name.startsWith("JDK") ? "copy-jdk" : name.startsWith("cp") ? "copy-cp"
                : name.endsWith("monitor") ? "copy-monitor" : "copy-plain";
    }

    private static Contender jdkCopying(Path source, Path dir) {
        return copying("JDK Files.copy", dir.resolve("copy-jdk"), to -> {
            Files.copy(source, to, StandardCopyOption.REPLACE_EXISTING);
            return Files.size(to);
        });
    }

    /** A copy contender that writes a fresh target: the earlier one is removed before timing. */
    private static Contender copying(String name, Path target, CopyTo copy) {
        return new Contender(name, () -> Files.deleteIfExists(target), () -> copy.run(target));
    }
}
