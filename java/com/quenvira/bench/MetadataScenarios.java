package com.quenvira.bench;

import com.quenvira.internal.io.BaseFileSystem;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFileAttributes;
import java.util.ArrayList;
import java.util.List;

/** One file's metadata asked many times: the library against the JDK and C, and the JNI steps between them. */
final class MetadataScenarios {
    static final String TITLE = "one file's metadata";
    static final String STEPS_TITLE = "one file's metadata, step by step";
    private static final int BATCH = 20_000;
    /** The extended record: access time, owner and group (0x78). */
    private static final int EXTENDED_MASK = BaseFileSystem.INFO_ACCESSED | BaseFileSystem.INFO_EXTENDED
            | BaseFileSystem.INFO_OWNER | BaseFileSystem.INFO_GROUP;
    private static final String[] STEPS = {
        "C step 0: one native call per file, nothing done",
        "C step 1: + path converted (GetStringLength, GetStringRegion)",
        "C step 2: + lstat",
        "C step 3: + name's first character (GetStringLength, GetStringRegion)",
        "C step 4: + FileInfo record (NewObjectA)",
        "C step 5: step 3 + FileInfo record (static factory upcall, ExceptionCheck)",
    };

    private final Path root;

    /** Scenarios whose files are made in {@code root}. */
    MetadataScenarios(Path root) {
        this.root = root;
    }

    Scenario metadata() throws IOException {
        Path file = Files.write(root.resolve("metadata.txt"), new byte[] {1, 2, 3});
        String path = file.toString();
        List<Contender> contenders = List.of(
                library(path, file.getFileName().toString()),
                library("basefs nGetFileInfo, info mask 0x78", path, file.getFileName().toString(), EXTENDED_MASK),
                Contender.of("JDK Files.readAttributes(Posix), cached Path", () -> {
                    long sizes = 0;
                    for (int i = 0; i < BATCH; i++) {
                        sizes += Files.readAttributes(file, PosixFileAttributes.class, LinkOption.NOFOLLOW_LINKS)
                                .size();
                    }
                    return sizes;
                }),
                // What a caller holding the path as a String pays, as it does for nGetFileInfo.
                Contender.of("JDK Files.readAttributes(Path.of(s), Posix)", () -> {
                    long sizes = 0;
                    for (int i = 0; i < BATCH; i++) {
                        sizes += Files.readAttributes(Path.of(path), PosixFileAttributes.class,
                                LinkOption.NOFOLLOW_LINKS).size();
                    }
                    return sizes;
                }),
                Contender.of("C lstat", () -> 3L * NativeLoops.lstatRepeated(path, BATCH)));
        return new Scenario(TITLE, "µs/call", BATCH, false, contenders);
    }

    /**
     * nGetFileInfo and the C loop with the steps between them, one native call per file: the
     * differences between the rows are what each step costs.
     */
    Scenario metadataSteps() throws IOException {
        Path file = Files.write(root.resolve("metadata-steps.txt"), new byte[] {1, 2, 3});
        String path = file.toString();
        String name = file.getFileName().toString();
        List<Contender> contenders = new ArrayList<>();
        contenders.add(Contender.of("C lstat, all in one native call", () -> 3L * NativeLoops.lstatRepeated(path, BATCH)));
        for (int step = 0; step < STEPS.length; step++) {
            int steps = step;
            contenders.add(Contender.of(STEPS[step], () -> {
                long sizes = 0;
                for (int i = 0; i < BATCH; i++) {
                    sizes += NativeLoops.statSteps(path, name, steps);
                }
                return sizes;
            }));
        }
        contenders.add(library(path, name));
        return new Scenario(STEPS_TITLE, "µs/call", BATCH, false, contenders);
    }

    private static Contender library(String path, String name) {
        return library("basefs nGetFileInfo", path, name, 0);
    }

    /** nGetFileInfo of the file with {@code mask}, BATCH times; returns the sizes added up. */
    private static Contender library(String label, String path, String name, int mask) {
        return Contender.of(label, () -> {
            long sizes = 0;
            for (int i = 0; i < BATCH; i++) {
                sizes += BaseFileSystem.nGetFileInfo(path, name, mask).getSize();
            }
            return sizes;
        });
    }
}
