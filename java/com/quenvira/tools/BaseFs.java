package com.quenvira.tools;

import com.quenvira.internal.io.BaseFileSystem;
import com.quenvira.io.FileInfo;
import com.quenvira.io.FileInfoEx;
import com.quenvira.io.Principal;
import java.io.File;
import java.io.IOException;
import java.io.PrintStream;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.LinkOption;
import java.nio.file.Paths;
import java.nio.file.StandardOpenOption;
import java.time.Instant;
import java.time.LocalDate;
import java.time.LocalDateTime;
import java.time.ZoneId;
import java.time.format.DateTimeFormatter;
import java.time.format.DateTimeParseException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/**
 * basefs: coreutils-like commands over the native library. Every file-system
 * operation is one call of a {@link BaseFileSystem} native method; the JDK is
 * asked only what the library does not say (the type of a special file, which
 * operand a failure was about, where two files differ).
 */
public final class BaseFs {
    static final String PROGRAM = "basefs";
    static final int EXIT_OK = 0;
    static final int EXIT_FAILURE = 1;
    static final int EXIT_TROUBLE = 2;
    static final int EXIT_INTERRUPTED = 130;
    /** What a shell reports for a process that SIGPIPE ended: 128 + 13. */
    static final int EXIT_BROKEN_PIPE = 141;
    private static final int EVERYTHING = BaseFileSystem.INFO_ACCESSED | BaseFileSystem.INFO_OWNER
            | BaseFileSystem.INFO_GROUP;
    private static final long INTERRUPT_GRACE_SECONDS = 10;
    private static final DateTimeFormatter FULL_TIME_FORMAT = DateTimeFormatter.ofPattern("yyyy-MM-dd HH:mm:ss");
    private static final String TRY_HELP = "Try '" + PROGRAM + " --help' for more information.";
    private static final String USAGE = String.join("\n",
            "usage: basefs COMMAND [ARGUMENT...]",
            "  ls [-l] [-a|-A] [-n] [PATH...]   list directories (-a with . and .., -A without)",
            "  stat PATH...                     show what the library knows of each path",
            "  touch [-d TIME] [-a|-m] [-h] PATH...",
            "                                   set times (now, or TIME: 2024-05-01, '2024-05-01 12:00:00', @SECONDS)",
            "                                   of what a link leads to (-h: of the link itself)",
            "  chmod MODE PATH...               set permissions from an octal MODE",
            "  ln -s TARGET [LINK|DIR]          create a symbolic link",
            "  readlink [-v] [-n] PATH...       print a symbolic link's target (-v: say why not)",
            "  user ID...   group ID...         names of numeric user and group IDs",
            "  cp [-n] SRC DST, cp [-n] SRC... DIR",
            "                                   copy files inside the kernel (-n: skip an existing DST)",
            "  cmp [-s] A B                     compare two files byte by byte: the first difference",
            "                                   (-s: exit status only; 0 same, 1 different, 2 trouble)");

    private final Output out;
    private final Output err;
    private final PrintStream progressOut;
    private final boolean interactive;
    private final Names userNames = Names.ofUsers();
    private final Names groupNames = Names.ofGroups();
    private boolean interrupted;

    BaseFs(Output out, Output err, PrintStream progressOut, boolean interactive) {
        this.out = out;
        this.err = err;
        this.progressOut = progressOut;
        this.interactive = interactive;
    }

    public static void main(String[] args) {
        if (args.length == 1 && args[0].equals("--version")) {
            // Needs no library: the versions come from the jars' manifests.
            System.out.println(version());
            return;
        }
        Output err = Output.standardError();
        try {
            BaseFileSystem.nInitStatic();
        } catch (UnsatisfiedLinkError e) {
            // The library's own message says what was tried and what to change; a stack adds nothing.
            complain(err, e.getMessage());
            System.exit(EXIT_TROUBLE);
        }
        Output out = Output.standardOutput();
        BaseFs tool = new BaseFs(out, err, System.err, System.console() != null);
        int status;
        try {
            status = tool.run(args);
            out.flush();
        } catch (UncheckedIOException e) {
            // Standard output is closed or full; GNU tools die of SIGPIPE or say "write error".
            String reason = SystemError.reason(e.getCause());
            if ("Broken pipe".equals(reason)) {
                status = EXIT_BROKEN_PIPE;
            } else {
                complain(err, "write error: " + reason);
                status = troubleStatus(args.length > 0 ? args[0] : "");
            }
        }
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
            return usage(EXIT_TROUBLE, "missing command");
        }
        String command = args[0];
        List<String> rest = new ArrayList<>(Arrays.asList(args).subList(1, args.length));
        if (command.equals("help") || command.equals("--help") || command.equals("-h") || asksForHelp(rest)) {
            out.println(USAGE);
            return EXIT_OK;
        }
        try {
            switch (command) {
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
                default:
                    return usage(EXIT_TROUBLE, "unknown command " + Quoting.shellEscapeAlways(command));
            }
        } catch (UsageError e) {
            return usage(troubleStatus(command), e.getMessage());
        }
    }

    /** A command given wrongly: reported in one line and a pointer to the help. */
    static final class UsageError extends RuntimeException {
        private static final long serialVersionUID = 1L;

        UsageError(String problem) {
            super(problem, null, false, false);
        }
    }

    /** Whether --help comes before any "--". */
    private static boolean asksForHelp(List<String> args) {
        int help = args.indexOf("--help");
        int end = args.indexOf("--");
        return help >= 0 && (end < 0 || help < end);
    }

    /** The status GNU's command gives for a usage error: 2 for ls and cmp, 1 for the others. */
    private static int troubleStatus(String command) {
        switch (command) {
            case "stat": case "touch": case "chmod": case "ln": case "readlink": case "user": case "group": case "cp":
                return EXIT_FAILURE;
            default:
                return EXIT_TROUBLE;
        }
    }

    /** A usage error: one line naming the problem, one pointing to the help. */
    private int usage(int status, String problem) {
        complain(err, problem);
        err.println(TRY_HELP);
        return status;
    }

    /** "basefs: MESSAGE" on standard error, written at once. */
    static void complain(Output err, String message) {
        err.print(PROGRAM).print(": ").println(message);
    }

    /** "basefs: WHAT 'PATH': REASON", the way coreutils reports an operating-system error; returns 1. */
    private int fail(String what, String path, IOException e) {
        complain(err, what + " " + Quoting.shellEscapeAlways(path) + ": " + SystemError.reason(e));
        return EXIT_FAILURE;
    }

    /** GNU cp's refusal of a destination that is a link leading nowhere; returns 1. */
    private int notThroughDanglingLink(String path) {
        complain(err, "not writing through dangling symlink " + Quoting.shellEscapeAlways(path));
        return EXIT_FAILURE;
    }

    /** A name in output GNU prints raw (stat, readlink, cmp): quoted on a terminal if it holds a control character. */
    private String printed(String name) {
        return out.isTerminal() ? Quoting.shellEscapeIfUnprintable(name) : name;
    }

    // ---- ls --------------------------------------------------------------

    private int ls(List<String> args) {
        Options options = Options.parse(args, "laAn", "");
        List<String> operands = options.operands.isEmpty() ? List.of(".") : options.operands;
        Listing listing = new Listing(out, err, options.has('l'), options.has('n'), options.has('a'), options.has('A'));
        return listing.list(operands);
    }

    // ---- stat ------------------------------------------------------------

    private int stat(List<String> args) {
        Options options = Options.parse(args, "", "");
        options.requireOperands(1, "missing operand");
        int status = EXIT_OK;
        for (String path : options.operands) {
            FileInfoEx info;
            try {
                info = (FileInfoEx) BaseFileSystem.nGetFileInfo(path, baseName(path), EVERYTHING);
            } catch (IOException e) {
                status = fail("cannot stat", path, e);
                continue;
            }
            FileType type = FileType.of(info, "", path);
            String description = type == FileType.REGULAR && info.getSize() == 0 ? "regular empty file" : type.description;
            out.print("  File: ").print(printed(path));
            if (info.isSymbolicLink()) {
                out.print(" -> ").print(printed(Listing.linkTarget(path)));
            }
            out.println();
            out.print("  Type: ").print(description).print(info.isHidden() ? ", hidden" : "");
            out.print("   Size: ").print(info.getSize());
            if (type.isDevice()) {
                out.print("   Device type: ").print(type.major()).print(',').print(type.minor());
            }
            out.println();
            out.print("  Mode: (").print(String.format("%04o", ModeFormat.octalMode(info.getAttributes())))
                    .print('/').print(ModeFormat.modeString(type.letter, info.getAttributes()))
                    .print(")  Uid: (").print(Integer.toUnsignedString(info.getOwner())).print('/')
                    .print(userNames.of(info.getOwner())).print(")  Gid: (")
                    .print(Integer.toUnsignedString(info.getGroup())).print('/')
                    .print(groupNames.of(info.getGroup())).println(")");
            out.print("Access: ").println(formatTime(info.getAccessed(), FULL_TIME_FORMAT));
            out.print("Modify: ").println(formatTime(info.getModified(), FULL_TIME_FORMAT));
        }
        return status;
    }

    // ---- touch, chmod, ln, readlink ---------------------------------------

    private int touch(List<String> args) {
        Options options = Options.parse(args, "amh", "d");
        options.requireOperands(1, "missing file operand");
        long time;
        try {
            time = options.value('d') == null ? System.currentTimeMillis() : parseTime(options.value('d'));
        } catch (IllegalArgumentException e) {
            // GNU touch says so in one line, without pointing to the help.
            complain(err, e.getMessage());
            return EXIT_FAILURE;
        }
        int mask = 0;
        if (options.has('a') || !options.has('m')) {
            mask |= BaseFileSystem.INFO_ACCESSED;
        }
        if (options.has('m') || !options.has('a')) {
            mask |= BaseFileSystem.INFO_MODIFIED;
        }
        int status = EXIT_OK;
        for (String path : options.operands) {
            int result = options.has('h') ? touchItself(path, mask, time) : touchFollowing(path, mask, time);
            status = Math.max(status, result);
        }
        return status;
    }

    /** touch -h: the times of the path itself, a link's own included; nothing is created. */
    private int touchItself(String path, int mask, long time) {
        try {
            BaseFileSystem.nSetFileInfo(path, mask, time, time, 0, 0);
            return EXIT_OK;
        } catch (IOException e) {
            return fail("setting times of", path, e);
        }
    }

    /**
     * touch: the times of the file a link leads to (the library sets a link's
     * own), or of the path itself, created when missing. Nothing is created
     * through a link: one that leads nowhere is refused, as cp refuses it.
     */
    private int touchFollowing(String path, int mask, long time) {
        try {
            if (!new File(path).exists() && !Links.isLink(path)) {
                createUnlessLinked(path);
            }
            String target = Links.finalTarget(path);
            if (target == null && Links.isLink(path)) {
                return notThroughDanglingLink(path);
            }
            // A file removed meanwhile is reported by the library.
            BaseFileSystem.nSetFileInfo(target != null ? target : path, mask, time, time, 0, 0);
            return EXIT_OK;
        } catch (IOException e) {
            return fail("cannot touch", path, e);
        }
    }

    /**
     * Creates an empty file (mode 0666 less the umask, as touch does) unless
     * one is there, without following a link; a link made there meanwhile is
     * left for the caller to follow or refuse.
     */
    private static void createUnlessLinked(String path) throws IOException {
        try {
            Files.newByteChannel(Paths.get(path), StandardOpenOption.CREATE, StandardOpenOption.WRITE,
                    LinkOption.NOFOLLOW_LINKS).close();
        } catch (InvalidPathException e) {
            throw new IOException("Invalid argument [" + SystemError.EINVAL + "]", e);
        } catch (IOException e) {
            if (!Links.isLink(path)) {
                throw e;
            }
        }
    }

    private int chmod(List<String> args) {
        Options options = Options.parse(args, "", "");
        options.requireOperands(1, "missing operand");
        options.requireOperands(2, "missing operand after " + Quoting.shellEscapeAlways(options.operands.get(0)));
        int attributes;
        try {
            attributes = ModeFormat.attributesOfOctal(options.operands.get(0));
        } catch (IllegalArgumentException e) {
            throw new UsageError(e.getMessage());
        }
        int status = EXIT_OK;
        for (String path : options.operands.subList(1, options.operands.size())) {
            try {
                BaseFileSystem.nSetFileInfo(path, BaseFileSystem.INFO_ATTRIBUTES, 0, 0, 0, attributes);
            } catch (IOException e) {
                // GNU chmod looks the file up first: only a refused change is "changing permissions".
                int number = SystemError.number(e);
                boolean refused = number == SystemError.EPERM || number == SystemError.EROFS;
                status = fail(refused ? "changing permissions of" : "cannot access", path, e);
            }
        }
        return status;
    }

    private int ln(List<String> args) {
        Options options = Options.parse(args, "s", "");
        if (!options.has('s')) {
            throw new UsageError("only symbolic links are supported: use ln -s");
        }
        options.requireOperands(1, "missing file operand");
        List<String> operands = options.operands;
        if (operands.size() == 1) {
            return symlink(operands.get(0), baseName(operands.get(0)));
        }
        String last = operands.get(operands.size() - 1);
        boolean intoDirectory = new File(last).isDirectory();
        if (operands.size() > 2 && !intoDirectory) {
            return targetNotDirectory(last);
        }
        if (!intoDirectory) {
            return symlink(operands.get(0), last);
        }
        int status = EXIT_OK;
        for (String target : operands.subList(0, operands.size() - 1)) {
            status = Math.max(status, symlink(target, withSlash(last) + baseName(target)));
        }
        return status;
    }

    private int symlink(String target, String link) {
        try {
            BaseFileSystem.nCreateSymbolicLink(link, target);
            return EXIT_OK;
        } catch (IOException e) {
            return fail("failed to create symbolic link", link, e);
        }
    }

    /** GNU's words for a last operand that must be a directory and is not (a dangling link is not there). */
    private int targetNotDirectory(String target) {
        if (new File(target).exists()) {
            complain(err, "target " + Quoting.shellEscapeAlways(target) + " is not a directory");
        } else {
            complain(err, "target " + Quoting.shellEscapeAlways(target) + ": " + SystemError.text(SystemError.ENOENT));
        }
        return EXIT_FAILURE;
    }

    private int readlink(List<String> args) {
        Options options = Options.parse(args, "vqsn", "");
        options.requireOperands(1, "missing operand");
        boolean verbose = options.has('v') && !options.has('q') && !options.has('s');
        // -n leaves the newline out, for one operand only, as GNU readlink does.
        boolean newline = !options.has('n') || options.operands.size() > 1;
        int status = EXIT_OK;
        for (String path : options.operands) {
            try {
                out.print(printed(BaseFileSystem.nReadSymbolicLink(path)));
                if (newline) {
                    out.println();
                }
            } catch (IOException e) {
                // Like GNU readlink: silent unless -v, exit status 1 either way.
                if (verbose) {
                    complain(err, Quoting.shellEscapeColon(path) + ": " + SystemError.reason(e));
                }
                status = EXIT_FAILURE;
            }
        }
        return status;
    }

    private int principals(List<String> args, boolean users) {
        Options options = Options.parse(args, "", "");
        options.requireOperands(1, "missing operand");
        int[] ids = new int[options.operands.size()];
        for (int i = 0; i < ids.length; i++) {
            String text = options.operands.get(i);
            try {
                ids[i] = Integer.parseUnsignedInt(text);
            } catch (NumberFormatException e) {
                throw new UsageError("invalid " + (users ? "user" : "group") + " ID: "
                        + Quoting.shellEscapeAlways(text));
            }
        }
        int status = EXIT_OK;
        for (int i = 0; i < ids.length; i++) {
            String text = options.operands.get(i);
            try {
                Principal principal = users ? BaseFileSystem.nGetUser(this, ids[i]) : BaseFileSystem.nGetGroup(this, ids[i]);
                out.print(text).print(' ').println(principal.getName());
            } catch (IOException e) {
                if (SystemError.number(e) == SystemError.NONE) {
                    // "User does not exist": what id says of a name it cannot find.
                    complain(err, Quoting.shellEscapeAlways(text) + ": no such " + (users ? "user" : "group"));
                    status = EXIT_FAILURE;
                } else {
                    status = fail("cannot look up " + (users ? "user" : "group"), text, e);
                }
            }
        }
        return status;
    }

    // ---- cp, cmp -----------------------------------------------------------

    private int cp(List<String> args) {
        Options options = Options.parse(args, "n", "");
        List<String> operands = options.operands;
        options.requireOperands(1, "missing file operand");
        options.requireOperands(2,
                "missing destination file operand after " + Quoting.shellEscapeAlways(operands.get(0)));
        String last = operands.get(operands.size() - 1);
        boolean intoDirectory = new File(last).isDirectory();
        if (operands.size() > 2 && !intoDirectory) {
            return targetNotDirectory(last);
        }
        int status = EXIT_OK;
        for (String source : operands.subList(0, operands.size() - 1)) {
            String target = intoDirectory ? withSlash(last) + baseName(source) : last;
            status = Math.max(status, copy(source, target, options.has('n')));
            if (interrupted) {
                break;
            }
        }
        return status;
    }

    /** One file copied as GNU cp (without -r) copies it, with its checks and words. */
    private int copy(String source, String target, boolean noClobber) {
        FileInfo sourceInfo;
        try {
            sourceInfo = BaseFileSystem.nGetFileInfo(source, source, 0);
        } catch (IOException e) {
            return fail("cannot stat", source, e);
        }
        File sourceFile = new File(source);
        if (sourceInfo.isSymbolicLink() && !sourceFile.exists()) {
            // cp follows the link: a dangling one cannot be examined.
            complain(err, "cannot stat " + Quoting.shellEscapeAlways(source) + ": "
                    + SystemError.text(SystemError.ENOENT));
            return EXIT_FAILURE;
        }
        if (sourceFile.isDirectory()) {
            return omittingDirectory(source);
        }
        if (Links.isDangling(target)) {
            // Never create a file where a link someone else may have planted points (-n included).
            return notThroughDanglingLink(target);
        }
        boolean targetExists = new File(target).exists() || Links.isLink(target);
        if (targetExists && sameFile(source, target)) {
            complain(err, Quoting.shellEscapeAlways(source) + " and " + Quoting.shellEscapeAlways(target)
                    + " are the same file");
            return EXIT_FAILURE;
        }
        if (targetExists && new File(target).isDirectory()) {
            complain(err, "cannot overwrite directory " + Quoting.shellEscapeAlways(target) + " with non-directory");
            return EXIT_FAILURE;
        }
        if (targetExists && noClobber) {
            return EXIT_OK; // GNU cp 9.1 -n skips an existing destination silently
        }
        int flags = noClobber ? BaseFileSystem.COPY_EXCLUSIVE : 0;
        Progress progress = new Progress("cp", sourceFile.length(), interactive, progressOut);
        CountDownLatch finished = new CountDownLatch(1);
        Thread hook = interruptHook(progress, finished);
        try {
            long copied = BaseFileSystem.nCopyFileCallback(source, target, flags, progress);
            progress.finish();
            if (progress.stopRequested()) {
                complain(err, "cp: interrupted after " + copied + " bytes; " + Quoting.shellEscapeAlways(target)
                        + " is incomplete");
                interrupted = true;
                return EXIT_INTERRUPTED;
            }
            return EXIT_OK;
        } catch (IOException e) {
            progress.finish();
            if (SystemError.number(e) == SystemError.EEXIST && Links.isDangling(target)) {
                return notThroughDanglingLink(target); // planted after the check: the library refused it
            }
            if (noClobber && SystemError.number(e) == SystemError.EEXIST) {
                return EXIT_OK; // created meanwhile: skipped as well
            }
            return copyFailed(source, target, targetExists, e);
        } finally {
            release(hook, finished);
        }
    }

    /**
     * The library does not say which file a failure was about: the error and
     * the state of the files after it tell, in GNU cp's words.
     */
    private int copyFailed(String source, String target, boolean targetExisted, IOException e) {
        int number = SystemError.number(e);
        File sourceFile = new File(source);
        if (!sourceFile.exists()) {
            return fail("cannot stat", source, e);
        }
        if (number == SystemError.EISDIR && sourceFile.isDirectory()
                || number == SystemError.EINVAL && sourceFile.isDirectory()) {
            return omittingDirectory(source);
        }
        if ((number == SystemError.EACCES || number == SystemError.EPERM) && !sourceFile.canRead()) {
            return fail("cannot open", source, e, "for reading");
        }
        boolean targetExists = new File(target).exists() || Links.isLink(target);
        boolean writing = number == SystemError.ENOSPC || number == SystemError.EDQUOT || number == SystemError.EFBIG
                || number == SystemError.EIO;
        if (writing && (targetExisted || targetExists)) {
            return fail("error writing", target, e);
        }
        if (number != SystemError.NONE && !writing) {
            return fail("cannot create regular file", target, e);
        }
        complain(err, "cannot copy " + Quoting.shellEscapeAlways(source) + " to " + Quoting.shellEscapeAlways(target)
                + ": " + SystemError.reason(e));
        return EXIT_FAILURE;
    }

    private int omittingDirectory(String source) {
        complain(err, "-r not specified; omitting directory " + Quoting.shellEscapeAlways(source));
        return EXIT_FAILURE;
    }

    /** "basefs: WHAT 'PATH' DOING: REASON" ("cannot open 'x' for reading: Permission denied"). */
    private int fail(String what, String path, IOException e, String doing) {
        complain(err, what + " " + Quoting.shellEscapeAlways(path) + " " + doing + ": " + SystemError.reason(e));
        return EXIT_FAILURE;
    }

    private static boolean sameFile(String first, String second) {
        try {
            return Files.isSameFile(Paths.get(first), Paths.get(second));
        } catch (IOException | InvalidPathException e) {
            return false;
        }
    }

    private int cmp(List<String> args) {
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
        CountDownLatch finished = new CountDownLatch(1);
        Thread hook = interruptHook(progress, finished);
        try {
            return once ? compareOnce(first, second, silent, progress) : compareTwice(first, second, silent, progress);
        } catch (IOException e) {
            progress.finish();
            // GNU cmp names the file and the reason: "cmp: /etc: Is a directory".
            complain(err, Quoting.shellEscapeIfUnprintable(culprit(SystemError.number(e), first, second)) + ": "
                    + SystemError.reason(e));
            return EXIT_TROUBLE;
        } finally {
            release(hook, finished);
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
            return cmpInterrupted();
        }
        if (same) {
            return EXIT_OK;
        }
        if (silent) {
            return EXIT_FAILURE;
        }
        progress.restart();
        Difference difference = Difference.find(first, second, progress);
        progress.finish();
        if (difference == null) {
            return cmpInterrupted();
        }
        reportDifference(first, second, difference);
        return EXIT_FAILURE;
    }

    /** A pipe cannot be read a second time: both operands are read once, in Java, up to the first difference. */
    private int compareOnce(String first, String second, boolean silent, Progress progress) throws IOException {
        Difference difference = Difference.find(first, second, progress);
        progress.finish();
        if (difference == null) {
            return cmpInterrupted();
        }
        if (!difference.found) {
            return EXIT_OK;
        }
        if (!silent) {
            reportDifference(first, second, difference);
        }
        return EXIT_FAILURE;
    }

    private int cmpInterrupted() {
        complain(err, "cmp: interrupted");
        interrupted = true;
        return EXIT_TROUBLE;
    }

    /**
     * GNU cmp prints the names as they are; one holding a control character
     * is quoted in a message, and in the output when that is a terminal.
     */
    private void reportDifference(String first, String second, Difference difference) {
        if (!difference.found) {
            out.println(printed(first) + " " + printed(second) + " differ"); // changed meanwhile: no position to tell
        } else if (difference.ended >= 0) {
            out.flush();
            complain(err, difference.endMessage(Quoting.shellEscapeIfUnprintable(first),
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
            throw new IllegalArgumentException("invalid date format " + Quoting.shellEscapeAlways(text));
        }
    }

    /**
     * Short options (flags, and options with a value) anywhere among the
     * operands, as GNU getopt takes them; "--" ends the options. The only long
     * option is --help, which {@link #run} answers before this parse.
     */
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
            List<String> operands = new ArrayList<>();
            for (int i = 0; i < args.size(); i++) {
                String arg = args.get(i);
                if (arg.equals("--")) {
                    operands.addAll(args.subList(i + 1, args.size()));
                    break;
                }
                if (!arg.startsWith("-") || arg.equals("-")) {
                    operands.add(arg);
                    continue;
                }
                if (arg.startsWith("--")) {
                    throw new UsageError("unrecognized option " + Quoting.shellEscapeAlways(arg));
                }
                for (int k = 1; k < arg.length(); k++) {
                    char c = arg.charAt(k);
                    if (withValue.indexOf(c) >= 0) {
                        String value = k + 1 < arg.length() ? arg.substring(k + 1)
                                : i + 1 < args.size() ? args.get(++i) : null;
                        if (value == null) {
                            throw new UsageError("option requires an argument -- "
                                    + Quoting.shellEscapeAlways(String.valueOf(c)));
                        }
                        values.put(c, value);
                        break;
                    }
                    if (knownFlags.indexOf(c) < 0) {
                        throw new UsageError("invalid option -- " + Quoting.shellEscapeAlways(String.valueOf(c)));
                    }
                    flags.append(c);
                }
            }
            return new Options(flags.toString(), values, operands);
        }

        boolean has(char flag) {
            return flags.indexOf(flag) >= 0;
        }

        String value(char option) {
            return values.get(option);
        }

        void requireOperands(int minimum, String problem) {
            if (operands.size() < minimum) {
                throw new UsageError(problem);
            }
        }

    }
}
