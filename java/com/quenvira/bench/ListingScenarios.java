package com.quenvira.bench;

import com.quenvira.internal.io.BaseFileSystem;
import java.io.File;
import java.io.IOException;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFileAttributes;
import java.util.List;
import java.util.Locale;

/** Listing a directory of empty files: the library against the JDK and C, and the JNI steps between them. */
final class ListingScenarios {
    private final Path root;

    /** Scenarios whose directories are made in {@code root}. */
    ListingScenarios(Path root) {
        this.root = root;
    }

    static String title(int entries) {
        return String.format(Locale.ROOT, "list %,d entries", entries);
    }

    static String stepsTitle(int entries) {
        return String.format(Locale.ROOT, "list %,d entries, step by step", entries);
    }

    Scenario listing(int entries) throws IOException {
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
        return new Scenario(title(entries), "µs/entry", entries, false, contenders);
    }

    /**
     * The library's listing and the C loop with the JNI steps between them: the differences
     * between the rows are what each step costs per entry.
     */
    Scenario listingSteps(int entries) throws IOException {
        Path dir = entriesDirectory(entries);
        String path = dir + "/";
        List<Contender> contenders = List.of(
                Contender.of("C getdents64 + fstatat", () -> NativeLoops.getdentsFstatat(path)),
                Contender.of("C step 0: readdir + fstatat on the directory", () -> NativeLoops.listSteps(path, 0, entries)),
                Contender.of("C step 1: + record written into a batch", () -> NativeLoops.listSteps(path, 1, entries)),
                Contender.of("C step 2: + records made in Java, one upcall per batch",
                        () -> NativeLoops.listSteps(path, 2, entries)),
                Contender.of("basefs nListFileInfos mask 0", () -> BaseFileSystem.nListFileInfos(path, 0, null, 0).length));
        return new Scenario(stepsTitle(entries), "µs/entry", entries, false, contenders);
    }

    /** A directory of {@code entries} empty files, made once for the scenarios that list it. */
    Path entriesDirectory(int entries) throws IOException {
        Path dir = root.resolve("dir-" + entries);
        if (!Files.isDirectory(dir)) {
            Files.createDirectory(dir);
            for (int i = 0; i < entries; i++) {
                Files.createFile(dir.resolve(String.format(Locale.ROOT, "entry-%07d.dat", i)));
            }
        }
        return dir;
    }

    static long jdkListWithAttributes(Path dir) throws IOException {
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
}
