package com.quenvira.tools;

import com.quenvira.internal.io.BaseFileSystem;
import com.quenvira.io.FileInfo;
import com.quenvira.io.FileInfoEx;
import com.quenvira.io.Principal;
import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.PrintStream;
import java.time.Instant;
import java.time.LocalDate;
import java.time.LocalDateTime;
import java.time.ZoneId;
import java.time.format.DateTimeFormatter;
import java.time.format.DateTimeParseException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/**
 * basefs: coreutils-like commands over the native library. Every file-system
 * operation is one call of a {@link BaseFileSystem} native method.
 */
public final class BaseFs {
    static final String PROGRAM = "basefs";
    static final int EXIT_OK = 0;
    static final int EXIT_FAILURE = 1;
    static final int EXIT_TROUBLE = 2;
    static final int EXIT_INTERRUPTED = 130;
    private static final int OWNER_AND_GROUP = BaseFileSystem.INFO_OWNER | BaseFileSystem.INFO_GROUP;
    private static final int EVERYTHING = BaseFileSystem.INFO_ACCESSED | OWNER_AND_GROUP;
    private static final long INTERRUPT_GRACE_SECONDS = 10;
    private static final DateTimeFormatter TIME_FORMAT = DateTimeFormatter.ofPattern("yyyy-MM-dd HH:mm");
    private static final DateTimeFormatter FULL_TIME_FORMAT = DateTimeFormatter.ofPattern("yyyy-MM-dd HH:mm:ss");
    private static final String USAGE = String.join("\n",
            "usage: basefs COMMAND [ARGUMENT...]",
            "  ls [-l] [-a] [-n] [DIR...]       list directories",
            "  stat PATH...                     show what the library knows of each path",
            "  touch [-d TIME] [-a|-m] PATH...  set times (now, or TIME: 2024-05-01, '2024-05-01 12:00:00', @SECONDS)",
            "  chmod MODE PATH...               set permissions from an octal MODE",
            "  ln -s TARGET LINK                create a symbolic link",
            "  readlink PATH                    print a symbolic link's target",
            "  user ID...   group ID...         names of numeric user and group IDs",
            "  cp [-n] SRC DST                  copy a file inside the kernel (-n: fail if DST exists)",
            "  cmp A B                          compare two files byte by byte (exit 0 same, 1 different)");

    private final PrintStream out;
    private final PrintStream err;
    private final boolean interactive;
    private final Map<Integer, String> userNames = new HashMap<>();
    private final Map<Integer, String> groupNames = new HashMap<>();
    private boolean interrupted;

    BaseFs(PrintStream out, PrintStream err, boolean interactive) {
        this.out = out;
        this.err = err;
        this.interactive = interactive;
    }

    public static void main(String[] args) {
        if (args.length == 1 && args[0].equals("--version")) {
            // Needs no library: the versions come from the jars' manifests.
            System.out.println(version());
            return;
        }
        try {
            BaseFileSystem.nInitStatic();
        } catch (UnsatisfiedLinkError e) {
            // The library's own message says what was tried and what to change; a stack adds nothing.
            System.err.println(PROGRAM + ": " + e.getMessage());
            System.exit(EXIT_TROUBLE);
        }
        BaseFs tool = new BaseFs(System.out, System.err, System.console() != null);
        int status = tool.run(args);
        System.out.flush();
        if (!tool.interrupted) {
            // After Ctrl-C the JVM is already shutting down with the signal's status.
            System.exit(status);
        }
    }

    /** The tool's version and that of the library jar it runs with, as their manifests give them. */
    static String version() {
        return PROGRAM + " " + versionOf(BaseFs.class) + "\nlibrary " + versionOf(BaseFileSystem.class);
    }

    private static String versionOf(Class<?> c) {
        String version = c.getPackage().getImplementationVersion();
        return version != null ? version : "(unknown version)";
    }

    int run(String[] args) {
        if (args.length == 0) {
            err.println(USAGE);
            return EXIT_TROUBLE;
        }
        List<String> rest = new ArrayList<>(Arrays.asList(args).subList(1, args.length));
        try {
            switch (args[0]) {
                case "ls": return ls(rest);
                case "stat": return stat(rest);
                case "touch": return touch(rest);
                case "chmod": return chmod(rest);
                case "ln": return ln(rest);
                case "readlink": return readlink(rest);
                case "user": return principals(rest, true);
                case "group": return principals(rest, false);
                case "cp": return cp(rest);
                case "cmp": return cmp(rest);
                case "help": case "--help": case "-h":
                    out.println(USAGE);
                    return EXIT_OK;
                default:
                    return usage("unknown command '" + args[0] + "'");
            }
        } catch (IllegalArgumentException e) {
            return usage(e.getMessage());
        }
    }

    private int usage(String problem) {
        err.println(PROGRAM + ": " + problem);
        err.println(USAGE);
        return EXIT_TROUBLE;
    }

    private int fail(String what, String path, IOException e) {
        err.println(PROGRAM + ": " + what + " '" + path + "': " + e.getMessage());
        return EXIT_FAILURE;
    }

    // ---- ls --------------------------------------------------------------

    private int ls(List<String> args) {
        Options options = Options.parse(args, "lan", "");
        boolean longFormat = options.has('l');
        List<String> dirs = options.operands.isEmpty() ? List.of(".") : options.operands;
        int status = EXIT_OK;
        boolean first = true;
        for (String dir : dirs) {
            FileInfo[] entries;
            try {
                entries = BaseFileSystem.nListFileInfos(withSlash(dir), longFormat ? OWNER_AND_GROUP : 0, null, 0);
            } catch (IOException e) {
                FileInfo single = singleFile(dir, longFormat);
                if (single == null) {
                    status = fail("cannot access", dir, e);
                    continue;
                }
                printEntries(new FileInfo[] {single}, "", options, true);
                continue;
            }
            if (dirs.size() > 1) {
                out.println((first ? "" : "\n") + dir + ":");
            }
            first = false;
            printEntries(entries, withSlash(dir), options, false);
        }
        return status;
    }

    /** A path that is not a directory, listed as itself; null when it cannot be examined. */
    private FileInfo singleFile(String path, boolean longFormat) {
        try {
            FileInfo info = BaseFileSystem.nGetFileInfo(path, path, longFormat ? OWNER_AND_GROUP : 0);
            return info.isDirectory() ? null : info;
        } catch (IOException e) {
            return null;
        }
    }

    private void printEntries(FileInfo[] entries, String dir, Options options, boolean explicit) {
        List<FileInfo> shown = new ArrayList<>();
        for (FileInfo entry : entries) {
            if (explicit || options.has('a') || !entry.isHidden()) {
                shown.add(entry);
            }
        }
        shown.sort(Comparator.comparing(FileInfo::getName));
        if (!options.has('l')) {
            shown.forEach(entry -> out.println(entry.getName()));
            return;
        }
        List<String[]> rows = new ArrayList<>();
        int[] widths = new int[4];
        for (FileInfo entry : shown) {
            String[] row = {
                ModeFormat.modeString(entry.getAttributes()),
                ownerOf(entry, options.has('n')),
                groupOf(entry, options.has('n')),
                Long.toString(entry.getSize()),
            };
            for (int i = 0; i < widths.length; i++) {
                widths[i] = Math.max(widths[i], row[i].length());
            }
            rows.add(row);
        }
        for (int i = 0; i < shown.size(); i++) {
            FileInfo entry = shown.get(i);
            String[] row = rows.get(i);
            String name = entry.getName();
            if (entry.isSymbolicLink()) {
                name += " -> " + linkTarget(dir + entry.getName());
            }
            out.printf("%s %-" + widths[1] + "s %-" + widths[2] + "s %" + widths[3] + "s %s %s%n", row[0], row[1],
                    row[2], row[3], formatTime(entry.getModified(), TIME_FORMAT), name);
        }
    }

    private String ownerOf(FileInfo entry, boolean numeric) {
        int id = entry instanceof FileInfoEx ? ((FileInfoEx) entry).getOwner() : 0;
        return numeric ? Integer.toUnsignedString(id) : name(userNames, id, true);
    }

    private String groupOf(FileInfo entry, boolean numeric) {
        int id = entry instanceof FileInfoEx ? ((FileInfoEx) entry).getGroup() : 0;
        return numeric ? Integer.toUnsignedString(id) : name(groupNames, id, false);
    }

    /** Looks each ID up once per run; an ID without a name prints as its number. */
    private String name(Map<Integer, String> cache, int id, boolean user) {
        return cache.computeIfAbsent(id, key -> {
            try {
                Principal principal = user ? BaseFileSystem.nGetUser(this, key) : BaseFileSystem.nGetGroup(this, key);
                return principal.getName();
            } catch (IOException e) {
                return Integer.toUnsignedString(key);
            }
        });
    }

    private static String linkTarget(String path) {
        try {
            return BaseFileSystem.nReadSymbolicLink(path);
        } catch (IOException e) {
            return "?";
        }
    }

    // ---- stat ------------------------------------------------------------

    private int stat(List<String> args) {
        Options options = Options.parse(args, "", "");
        options.requireOperands(1, "stat needs a PATH");
        int status = EXIT_OK;
        for (String path : options.operands) {
            FileInfoEx info;
            try {
                info = (FileInfoEx) BaseFileSystem.nGetFileInfo(path, baseName(path), EVERYTHING);
            } catch (IOException e) {
                status = fail("cannot stat", path, e);
                continue;
            }
            String type = info.isDirectory() ? "directory" : info.isSymbolicLink() ? "symbolic link" : "file";
            out.println("  File: " + path + (info.isSymbolicLink() ? " -> " + linkTarget(path) : ""));
            out.println("  Type: " + type + (info.isHidden() ? ", hidden" : "") + "   Size: " + info.getSize());
            out.printf("  Mode: (%04o/%s)  Uid: (%s/%s)  Gid: (%s/%s)%n", ModeFormat.octalMode(info.getAttributes()),
                    ModeFormat.modeString(info.getAttributes()), Integer.toUnsignedString(info.getOwner()),
                    name(userNames, info.getOwner(), true), Integer.toUnsignedString(info.getGroup()),
                    name(groupNames, info.getGroup(), false));
            out.println("Access: " + formatTime(info.getAccessed(), FULL_TIME_FORMAT));
            out.println("Modify: " + formatTime(info.getModified(), FULL_TIME_FORMAT));
        }
        return status;
    }

    // ---- touch, chmod, ln, readlink ---------------------------------------

    private int touch(List<String> args) {
        Options options = Options.parse(args, "am", "d");
        options.requireOperands(1, "touch needs a PATH");
        long time = options.value('d') == null ? System.currentTimeMillis() : parseTime(options.value('d'));
        int mask = 0;
        if (options.has('a') || !options.has('m')) {
            mask |= BaseFileSystem.INFO_ACCESSED;
        }
        if (options.has('m') || !options.has('a')) {
            mask |= BaseFileSystem.INFO_MODIFIED;
        }
        int status = EXIT_OK;
        for (String path : options.operands) {
            try {
                if (!new File(path).exists() && !isLink(path)) {
                    new FileOutputStream(path, true).close(); // touch creates what is missing
                }
                BaseFileSystem.nSetFileInfo(path, mask, time, time, 0, 0);
            } catch (IOException e) {
                status = fail("cannot touch", path, e);
            }
        }
        return status;
    }

    private static boolean isLink(String path) {
        try {
            return BaseFileSystem.nGetFileInfo(path, path, 0).isSymbolicLink();
        } catch (IOException e) {
            return false;
        }
    }

    private int chmod(List<String> args) {
        Options options = Options.parse(args, "", "");
        options.requireOperands(2, "chmod needs a MODE and a PATH");
        int attributes = ModeFormat.attributesOfOctal(options.operands.get(0));
        int status = EXIT_OK;
        for (String path : options.operands.subList(1, options.operands.size())) {
            try {
                BaseFileSystem.nSetFileInfo(path, BaseFileSystem.INFO_ATTRIBUTES, 0, 0, 0, attributes);
            } catch (IOException e) {
                status = fail("cannot change permissions of", path, e);
            }
        }
        return status;
    }

    private int ln(List<String> args) {
        Options options = Options.parse(args, "s", "");
        if (!options.has('s')) {
            throw new IllegalArgumentException("only symbolic links are supported: use ln -s");
        }
        options.requireExactly(2, "ln -s needs a TARGET and a LINK");
        String link = options.operands.get(1);
        try {
            BaseFileSystem.nCreateSymbolicLink(link, options.operands.get(0));
            return EXIT_OK;
        } catch (IOException e) {
            return fail("cannot create symbolic link", link, e);
        }
    }

    private int readlink(List<String> args) {
        Options options = Options.parse(args, "", "");
        options.requireOperands(1, "readlink needs a PATH");
        int status = EXIT_OK;
        for (String path : options.operands) {
            try {
                out.println(BaseFileSystem.nReadSymbolicLink(path));
            } catch (IOException e) {
                status = fail("cannot read link", path, e);
            }
        }
        return status;
    }

    private int principals(List<String> args, boolean users) {
        Options options = Options.parse(args, "", "");
        options.requireOperands(1, (users ? "user" : "group") + " needs an ID");
        int status = EXIT_OK;
        for (String text : options.operands) {
            int id;
            try {
                id = Integer.parseUnsignedInt(text);
            } catch (NumberFormatException e) {
                throw new IllegalArgumentException("invalid ID: '" + text + "'");
            }
            try {
                Principal principal = users ? BaseFileSystem.nGetUser(this, id) : BaseFileSystem.nGetGroup(this, id);
                out.println(text + " " + principal.getName());
            } catch (IOException e) {
                status = fail("cannot look up " + (users ? "user" : "group"), text, e);
            }
        }
        return status;
    }

    // ---- cp, cmp -----------------------------------------------------------

    private int cp(List<String> args) {
        Options options = Options.parse(args, "n", "");
        options.requireExactly(2, "cp needs a SRC and a DST");
        String source = options.operands.get(0);
        String target = options.operands.get(1);
        if (new File(target).isDirectory()) {
            target = withSlash(target) + baseName(source);
        }
        int flags = options.has('n') ? BaseFileSystem.COPY_EXCLUSIVE : 0;
        Progress progress = new Progress("cp", new File(source).length(), interactive, err);
        CountDownLatch finished = new CountDownLatch(1);
        Thread hook = interruptHook(progress, finished);
        try {
            long copied = BaseFileSystem.nCopyFileCallback(source, target, flags, progress);
            progress.finish();
            if (progress.stopRequested()) {
                err.println(PROGRAM + ": cp: interrupted after " + copied + " bytes; '" + target + "' is incomplete");
                interrupted = true;
                return EXIT_INTERRUPTED;
            }
            return EXIT_OK;
        } catch (IOException e) {
            progress.finish();
            err.println(PROGRAM + ": cannot copy '" + source + "' to '" + target + "': " + e.getMessage());
            return EXIT_FAILURE;
        } finally {
            release(hook, finished);
        }
    }

    private int cmp(List<String> args) {
        Options options = Options.parse(args, "", "");
        options.requireExactly(2, "cmp needs two files");
        String first = options.operands.get(0);
        String second = options.operands.get(1);
        Progress progress = new Progress("cmp", new File(first).length(), interactive, err);
        CountDownLatch finished = new CountDownLatch(1);
        Thread hook = interruptHook(progress, finished);
        try {
            boolean same = BaseFileSystem.nCompareByteByByte(first, second, progress);
            progress.finish();
            if (progress.stopRequested()) {
                err.println(PROGRAM + ": cmp: interrupted");
                interrupted = true;
                return EXIT_TROUBLE;
            }
            if (!same) {
                out.println(first + " " + second + " differ");
            }
            return same ? EXIT_OK : EXIT_FAILURE;
        } catch (IOException e) {
            progress.finish();
            err.println(PROGRAM + ": cannot compare '" + first + "' and '" + second + "': " + e.getMessage());
            return EXIT_TROUBLE;
        } finally {
            release(hook, finished);
        }
    }

    /**
     * On Ctrl-C the JVM runs its shutdown hooks: this one asks the running
     * operation to stop through its monitor and waits until it has returned,
     * so the native call ends cleanly before the JVM exits.
     */
    private static Thread interruptHook(Progress progress, CountDownLatch finished) {
        Thread hook = new Thread(() -> {
            progress.requestStop();
            try {
                finished.await(INTERRUPT_GRACE_SECONDS, TimeUnit.SECONDS);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        }, "basefs-interrupt");
        Runtime.getRuntime().addShutdownHook(hook);
        return hook;
    }

    private static void release(Thread hook, CountDownLatch finished) {
        finished.countDown();
        try {
            Runtime.getRuntime().removeShutdownHook(hook);
        } catch (IllegalStateException e) {
            // already shutting down: the hook has seen the operation finish
        }
    }

    // ---- helpers -------------------------------------------------------------

    static String withSlash(String dir) {
        return dir.endsWith("/") ? dir : dir + "/";
    }

    static String baseName(String path) {
        String trimmed = path;
        while (trimmed.length() > 1 && trimmed.endsWith("/")) {
            trimmed = trimmed.substring(0, trimmed.length() - 1);
        }
        return trimmed.substring(trimmed.lastIndexOf('/') + 1);
    }

    private static String formatTime(long millis, DateTimeFormatter format) {
        return LocalDateTime.ofInstant(Instant.ofEpochMilli(millis), ZoneId.systemDefault()).format(format);
    }

    /** "@SECONDS", "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS]" or "YYYY-MM-DDTHH:MM[:SS]", in local time. */
    static long parseTime(String text) {
        try {
            if (text.startsWith("@")) {
                return Math.multiplyExact(Long.parseLong(text.substring(1)), 1000L);
            }
            ZoneId zone = ZoneId.systemDefault();
            if (text.length() == "yyyy-MM-dd".length()) {
                return LocalDate.parse(text).atStartOfDay(zone).toInstant().toEpochMilli();
            }
            String iso = text.replace(' ', 'T');
            return LocalDateTime.parse(iso).atZone(zone).toInstant().toEpochMilli();
        } catch (DateTimeParseException | NumberFormatException | ArithmeticException e) {
            throw new IllegalArgumentException("invalid date format '" + text + "'");
        }
    }

    /** Short options (flags, and options with a value) before the operands. */
    static final class Options {
        private final String flags;
        private final Map<Character, String> values;
        final List<String> operands;

        private Options(String flags, Map<Character, String> values, List<String> operands) {
            this.flags = flags;
            this.values = values;
            this.operands = operands;
        }

        static Options parse(List<String> args, String knownFlags, String withValue) {
            StringBuilder flags = new StringBuilder();
            Map<Character, String> values = new HashMap<>();
            int i = 0;
            for (; i < args.size(); i++) {
                String arg = args.get(i);
                if (arg.equals("--")) {
                    i++;
                    break;
                }
                if (!arg.startsWith("-") || arg.equals("-")) {
                    break;
                }
                for (int k = 1; k < arg.length(); k++) {
                    char c = arg.charAt(k);
                    if (withValue.indexOf(c) >= 0) {
                        String value = k + 1 < arg.length() ? arg.substring(k + 1)
                                : i + 1 < args.size() ? args.get(++i) : null;
                        if (value == null) {
                            throw new IllegalArgumentException("option requires an argument -- '" + c + "'");
                        }
                        values.put(c, value);
                        break;
                    }
                    if (knownFlags.indexOf(c) < 0) {
                        throw new IllegalArgumentException("invalid option -- '" + c + "'");
                    }
                    flags.append(c);
                }
            }
            return new Options(flags.toString(), values, new ArrayList<>(args.subList(i, args.size())));
        }

        boolean has(char flag) {
            return flags.indexOf(flag) >= 0;
        }

        String value(char option) {
            return values.get(option);
        }

        void requireOperands(int minimum, String problem) {
            if (operands.size() < minimum) {
                throw new IllegalArgumentException(problem);
            }
        }

        void requireExactly(int count, String problem) {
            if (operands.size() != count) {
                throw new IllegalArgumentException(problem);
            }
        }
    }
}
