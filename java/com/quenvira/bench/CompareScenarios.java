package com.quenvira.bench;

import com.quenvira.internal.io.BaseFileSystem;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import org.eclipse.core.runtime.IProgressMonitor;

/** Comparing two equal files byte by byte: the library, with and without a monitor, against the JDK and C. */
final class CompareScenarios {
    private CompareScenarios() {
    }

    static String title(long size) {
        return "compare " + BenchFiles.sizeName(size);
    }

    static Scenario compare(Path first, Path second, long size) {
        String a = first.toString();
        String b = second.toString();
        IProgressMonitor monitor = () -> false;
        List<Contender> contenders = List.of(
                Contender.of("basefs nCompareByteByByte", () -> BaseFileSystem.nCompareByteByByte(a, b, null) ? 1 : 0),
                Contender.of("basefs nCompareByteByByte + monitor",
                        () -> BaseFileSystem.nCompareByteByByte(a, b, monitor) ? 1 : 0),
                Contender.of("JDK Files.mismatch", () -> Files.mismatch(first, second) == -1 ? 1 : 0),
                Contender.of("C fread 64 KiB + memcmp", () -> NativeLoops.freadMemcmp(a, b) ? 1 : 0));
        return new Scenario(title(size), "GiB/s", (double) size / BenchFiles.GIB, true, contenders);
    }
}
