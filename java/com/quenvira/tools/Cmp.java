package com.quenvira.tools;

import com.quenvira.internal.io.BaseFileSystem;
import java.io.File;
import java.io.IOException;
import java.io.PrintStream;
import java.util.List;

/**
 * cmp [-s] A B: compares two files byte by byte and reports the first
 * difference as GNU cmp does; exit status 0 same, 1 different, 2 trouble.
 */
final class Cmp extends Command {
    private final PrintStream progressOut;
    private final boolean interactive;

    /** {@code interactive}: a person watches, and sees a progress bar on {@code progressOut}. */
    Cmp(Output out, Messages messages, PrintStream progressOut, boolean interactive) {
        super(out, messages);
        this.progressOut = progressOut;
        this.interactive = interactive;
    }

    @Override
    int run(List<String> args) {
        Options options = Options.parse(args, "s", "");
        List<String> operands = options.operands;
        options.requireOperands(1, "missing operand after 'cmp'");
        options.requireOperands(2, "missing operand after " + Quoting.shellEscapeAlways(operands.get(0)));
        if (operands.size() > 2) {
            throw new UsageError("extra operand " + Quoting.shellEscapeAlways(operands.get(2)));
        }
        String first = operands.get(0);
        String second = operands.get(1);
        boolean silent = options.has('s');
        boolean once = drainedByReading(first) || drainedByReading(second);
        long total = Math.max(new File(first).length(), once ? new File(second).length() : 0);
        Progress progress = new Progress("cmp", total, interactive && !silent, progressOut);
        InterruptHook hook = InterruptHook.install(progress, messages, null);
        try {
            return once ? compareOnce(first, second, silent, progress) : compareTwice(first, second, silent, progress);
        } catch (IOException e) {
            progress.finish();
            // GNU cmp names the file and the reason: "cmp: /etc: Is a directory".
            messages.complain(Quoting.shellEscapeIfUnprintable(culprit(SystemError.number(e), first, second)) + ": "
                    + SystemError.reason(e));
            return BaseFs.EXIT_TROUBLE;
        } finally {
            hook.release();
        }
    }

    /** Whether reading the operand uses it up (a pipe, a FIFO, a device): there, but no regular file or directory. */
    private static boolean drainedByReading(String path) {
        File file = new File(path);
        return file.exists() && !file.isFile() && !file.isDirectory();
    }

    /**
     * Regular files and directories: the library says whether they differ, and
     * only then are they read again from the start to find where.
     */
    private int compareTwice(String first, String second, boolean silent, Progress progress) throws IOException {
        boolean same = BaseFileSystem.nCompareByteByByte(first, second, progress);
        progress.finish();
        if (progress.stopRequested()) {
            return interruptedStatus();
        }
        if (same) {
            return BaseFs.EXIT_OK;
        }
        if (silent) {
            return BaseFs.EXIT_FAILURE;
        }
        progress.restart();
        Difference difference = Difference.find(first, second, progress);
        progress.finish();
        if (difference == null) {
            return interruptedStatus();
        }
        report(first, second, difference);
        return BaseFs.EXIT_FAILURE;
    }

    /** A pipe cannot be read a second time: both operands are read once, in Java, up to the first difference. */
    private int compareOnce(String first, String second, boolean silent, Progress progress) throws IOException {
        Difference difference = Difference.find(first, second, progress);
        progress.finish();
        if (difference == null) {
            return interruptedStatus();
        }
        if (!difference.found) {
            return BaseFs.EXIT_OK;
        }
        if (!silent) {
            report(first, second, difference);
        }
        return BaseFs.EXIT_FAILURE;
    }

    @Override
    boolean namesProgramInTryHelp() {
        return true; // "cmp: Try 'cmp --help' for more information."
    }

    /** Ctrl-C stopped the comparison: the JVM is exiting with the signal's status, and GNU cmp says nothing. */
    private int interruptedStatus() {
        markInterrupted();
        return BaseFs.EXIT_TROUBLE;
    }

    /**
     * GNU cmp prints the names as they are; one holding a control character
     * is quoted in a message, and in the output when that is a terminal.
     */
    private void report(String first, String second, Difference difference) {
        if (!difference.found) {
            out.println(printed(first) + " " + printed(second) + " differ"); // changed meanwhile: no position to tell
        } else if (difference.ended >= 0) {
            messages.complain(difference.endMessage(Quoting.shellEscapeIfUnprintable(first),
                    Quoting.shellEscapeIfUnprintable(second)));
        } else {
            out.println(difference.differMessage(printed(first), printed(second)));
        }
    }

    /**
     * Which of two files a comparison failed on: cmp opens both, then reads, so
     * a file that cannot be opened comes before a directory, which cannot be read.
     */
    private static String culprit(int number, String first, String second) {
        for (String path : List.of(first, second)) {
            File file = new File(path);
            if (!file.exists() || !file.canRead()) {
                return path;
            }
        }
        if (number == SystemError.EISDIR) {
            return new File(first).isDirectory() ? first : second;
        }
        return first;
    }

    @Override
    String usage() {
        return """
                Usage: basefs cmp [OPTION]... FILE1 FILE2
                Compare two files byte by byte.

                  -l              output byte numbers and differing byte values
                  -n LIMIT        compare at most LIMIT bytes
                  -s              suppress all normal output
                      --help      display this help and exit

                A FILE of '-' is standard input.
                Exit status is 0 if inputs are the same, 1 if different, 2 if trouble.
                """;
    }
}
