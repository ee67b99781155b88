package com.quenvira.tools;

import com.quenvira.internal.io.FileComparison;
import java.io.File;
import java.io.FileDescriptor;
import java.io.FileInputStream;
import java.io.FilterInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.PrintStream;
import java.nio.channels.FileChannel;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.List;
import java.util.Map;

/**
 * cmp [-l|-s] [-n LIMIT] A B: compares two files byte by byte and reports the
 * first difference (-l: every differing byte; -n: within the first LIMIT
 * bytes) as GNU cmp does; "-" is standard input from where it stands. Exit
 * status 0 same, 1 different, 2 trouble.
 */
final class Cmp extends Command {
    private static final Map<String, Character> LONG_OPTIONS = Map.of("verbose", 'l', "bytes", 'n',
            "silent", 's', "quiet", 's');
    private static final String STANDARD_INPUT = "-";
    /** Where Linux shows what standard input is open on. */
    private static final String STANDARD_INPUT_FILE = "/dev/stdin";
    private static final int OCTAL_BYTE_WIDTH = 3;

    private final PrintStream progressOut;
    private final boolean interactive;
    private FileInputStream standardInput;

    /** {@code interactive}: a person watches, and sees a progress bar on {@code progressOut}. */
    Cmp(Output out, Messages messages, PrintStream progressOut, boolean interactive) {
        super(out, messages);
        this.progressOut = progressOut;
        this.interactive = interactive;
    }

    @Override
    int run(List<String> args) {
        Options options = Options.parse(LongOptions.toShort(args, LONG_OPTIONS, "n"), "sl", "n");
        List<String> operands = options.operands;
        if (options.has('l') && options.has('s')) {
            throw new UsageError("options -l and -s are incompatible");
        }
        long limit = limit(options.value('n'));
        options.requireOperands(1, "missing operand after 'cmp'");
        options.requireOperands(2, "missing operand after " + Quoting.shellEscapeAlways(operands.get(0)));
        if (operands.size() > 2) {
            throw new UsageError("extra operand " + Quoting.shellEscapeAlways(operands.get(2)));
        }
        String first = operands.get(0);
        String second = operands.get(1);
        if (first.equals(STANDARD_INPUT) && second.equals(STANDARD_INPUT)) {
            return BaseFs.EXIT_OK; // one stream at one offset: GNU cmp reads nothing either
        }
        boolean silent = options.has('s');
        boolean listing = options.has('l');
        boolean inJava = listing || options.value('n') != null || first.equals(STANDARD_INPUT)
                || second.equals(STANDARD_INPUT) || drainedByReading(first) || drainedByReading(second);
        long total = Math.min(limit, Math.max(new File(first).length(), inJava ? new File(second).length() : 0));
        boolean barShown = interactive && !silent && !listing && !first.equals(STANDARD_INPUT)
                && !second.equals(STANDARD_INPUT);
        Progress progress = new Progress("cmp", total, barShown, progressOut);
        InterruptHook hook = InterruptHook.install(progress, messages, null);
        try {
            return inJava ? compareOnce(first, second, silent, listing, limit, progress)
                    : compareWhole(first, second, silent, progress);
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

    /** The bytes -n allows (all without it); a count GNU cmp refuses is a usage error. */
    private static long limit(String text) {
        if (text == null) {
            return Long.MAX_VALUE;
        }
        try {
            return ByteCount.parse(text);
        } catch (IllegalArgumentException e) {
            throw new UsageError("invalid --bytes value " + Quoting.shellEscapeAlways(text));
        }
    }

    /** Whether reading the operand uses it up (a pipe, a FIFO, a device): there, but no regular file or directory. */
    private static boolean drainedByReading(String path) {
        File file = new File(path);
        return file.exists() && !file.isFile() && !file.isDirectory();
    }

    /**
     * Regular files and directories: the library reads each once, and says
     * whether they differ and where.
     */
    private int compareWhole(String first, String second, boolean silent, Progress progress) throws IOException {
        long[] where = FileComparison.firstDifference(first, second, progress);
        progress.finish();
        if (progress.stopRequested()) {
            return interruptedStatus();
        }
        if (where == null) {
            return BaseFs.EXIT_OK;
        }
        if (!silent) {
            report(first, second, Difference.of(where), true);
        }
        return BaseFs.EXIT_FAILURE;
    }

    /**
     * A pipe cannot be read a second time, and the library compares whole files
     * only: both operands are read once, in Java, up to the first difference
     * (-l: to the end) or the limit.
     */
    private int compareOnce(String first, String second, boolean silent, boolean listing, long limit,
            Progress progress) throws IOException {
        Difference difference;
        try (InputStream a = open(first); InputStream b = open(second)) {
            Difference.Listing lines = listing ? lister(offsetWidth(limit, first, second)) : null;
            difference = Difference.find(a, b, limit, progress, lines);
        }
        progress.finish();
        if (difference == null) {
            return interruptedStatus();
        }
        if (!difference.found) {
            return BaseFs.EXIT_OK;
        }
        if (!silent && (!listing || difference.ended >= 0)) {
            report(first, second, difference, !listing);
        }
        return BaseFs.EXIT_FAILURE;
    }

    /** The operand to read: standard input for "-", left open, from where it stands. */
    private InputStream open(String operand) throws IOException {
        if (!operand.equals(STANDARD_INPUT)) {
            return Files.newInputStream(Paths.get(operand));
        }
        return new FilterInputStream(standardInput()) {
            @Override
            public void close() {
                // Standard input stays open: it is not the command's to close.
            }
        };
    }

    /** Descriptor 0 read directly: System.in's buffer would take bytes before anyone asked for them. */
    private FileInputStream standardInput() {
        if (standardInput == null) {
            standardInput = new FileInputStream(FileDescriptor.in);
        }
        return standardInput;
    }

    /**
     * The width of cmp -l's byte numbers, as GNU's: the digits of the limit or,
     * if fewer, of the bytes left in the shortest operand that is a regular file.
     */
    private int offsetWidth(long limit, String first, String second) throws IOException {
        long largest = limit;
        for (String operand : List.of(first, second)) {
            long left = bytesLeft(operand);
            if (left >= 0) {
                largest = Math.min(largest, left);
            }
        }
        return Long.toString(Math.max(largest, 0)).length();
    }

    /** The bytes of a regular file from where it will be read; -1 for anything else. */
    private long bytesLeft(String operand) throws IOException {
        if (!operand.equals(STANDARD_INPUT)) {
            File file = new File(operand);
            return file.isFile() ? file.length() : -1;
        }
        if (!new File(STANDARD_INPUT_FILE).isFile()) {
            return -1;
        }
        FileChannel channel = standardInput().getChannel();
        return channel.size() - channel.position();
    }

    /** cmp -l's line for each differing byte: its number right-aligned, then both bytes in octal. */
    private Difference.Listing lister(int width) {
        return (number, first, second) -> {
            String digits = Long.toString(number);
            out.spaces(width - digits.length()).print(digits).print(' ');
            octal(first).print(' ');
            octal(second).println();
        };
    }

    private Output octal(int value) {
        String digits = Integer.toOctalString(value);
        return out.spaces(OCTAL_BYTE_WIDTH - digits.length()).print(digits);
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
     * {@code withLine}: the EOF message names the line (not for -l).
     */
    private void report(String first, String second, Difference difference, boolean withLine) {
        if (difference.ended >= 0) {
            messages.complain(difference.endMessage(Quoting.shellEscapeIfUnprintable(first),
                    Quoting.shellEscapeIfUnprintable(second), withLine));
        } else {
            out.println(difference.differMessage(printed(first), printed(second)));
        }
    }

    /**
     * Which of two files a comparison failed on: cmp opens both, then reads, so
     * a file that cannot be opened comes before a directory, which cannot be
     * read. Standard input is open already.
     */
    private static String culprit(int number, String first, String second) {
        for (String path : List.of(first, second)) {
            File file = new File(path);
            if (!path.equals(STANDARD_INPUT) && (!file.exists() || !file.canRead())) {
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
