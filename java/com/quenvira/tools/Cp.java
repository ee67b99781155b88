package com.quenvira.tools;

import com.quenvira.internal.io.BaseFileSystem;
import com.quenvira.internal.io.ReplacedFileException;
import com.quenvira.io.FileInfo;
import java.io.File;
import java.io.IOException;
import java.io.PrintStream;
import java.util.List;

/**
 * cp [-n] [-r|-R] SRC DST, cp [-n] [-r|-R] SRC... DIR: copies files inside
 * the kernel, as GNU cp copies them, with its checks and its words, and a
 * progress bar on a terminal; with -r whole trees, as {@link TreeCopy} copies
 * them. A source seen as a regular file is copied through descriptors, never
 * waited on ({@link NamedFileCopy}); a FIFO, pipe or device named as the source
 * is read as GNU cp reads it, a FIFO once a writer opens it.
 */
final class Cp extends Command {
    /** What {@link #unusableTarget} and {@link #unopenable} return when cp may go on. */
    private static final int USABLE = -1;

    private final PrintStream progressOut;
    private final boolean interactive;

    /** {@code interactive}: a person watches, and sees a progress bar on {@code progressOut}. */
    Cp(Output out, Messages messages, PrintStream progressOut, boolean interactive) {
        super(out, messages);
        this.progressOut = progressOut;
        this.interactive = interactive;
    }

    @Override
    int run(List<String> args) {
        Options options = Options.parse(args, "nrR", "");
        List<String> operands = options.operands;
        options.requireOperands(1, "missing file operand");
        options.requireOperands(2,
                "missing destination file operand after " + Quoting.shellEscapeAlways(operands.get(0)));
        String last = operands.get(operands.size() - 1);
        boolean intoDirectory = new File(last).isDirectory();
        if (operands.size() > 2 && !intoDirectory) {
            return messages.targetNotDirectory(last);
        }
        List<String> sources = operands.subList(0, operands.size() - 1);
        if (options.has('r') || options.has('R')) {
            TreeCopy trees = new TreeCopy(messages, options.has('n'), interactive, progressOut);
            int status = trees.copy(sources, last, intoDirectory);
            if (trees.interrupted()) {
                markInterrupted();
            }
            return status;
        }
        int status = BaseFs.EXIT_OK;
        for (String source : sources) {
            String target = intoDirectory ? PathNames.withSlash(last) + PathNames.baseName(source) : last;
            status = Math.max(status, copy(source, target, options.has('n')));
            if (interrupted()) {
                break;
            }
        }
        return status;
    }

    /** One file copied after GNU cp's checks of the source and the destination. */
    private int copy(String source, String target, boolean noClobber) {
        FileInfo sourceInfo;
        try {
            sourceInfo = BaseFileSystem.nGetFileInfo(source, source, 0);
        } catch (IOException e) {
            return messages.fail("cannot stat", source, e);
        }
        File sourceFile = new File(source);
        if (sourceInfo.isSymbolicLink() && !sourceFile.exists()) {
            // cp follows the link: a dangling one cannot be examined.
            messages.complain("cannot stat " + Quoting.shellEscapeAlways(source) + ": "
                    + SystemError.text(SystemError.ENOENT));
            return BaseFs.EXIT_FAILURE;
        }
        if (sourceFile.isDirectory()) {
            return omittingDirectory(messages, source);
        }
        int unusable = unusableTarget(target);
        if (unusable != USABLE) {
            return unusable;
        }
        boolean dangling = Links.isDangling(target);
        boolean targetExists = new File(target).exists() || Links.isLink(target);
        if (targetExists && TopLevelCopy.isSameFile(source, target)) {
            messages.complain(Quoting.shellEscapeAlways(source) + " and " + Quoting.shellEscapeAlways(target)
                    + " are the same file");
            return BaseFs.EXIT_FAILURE;
        }
        if (targetExists && new File(target).isDirectory()) {
            messages.complain("cannot overwrite directory " + Quoting.shellEscapeAlways(target)
                    + " with non-directory");
            return BaseFs.EXIT_FAILURE;
        }
        if (targetExists && noClobber && !dangling) {
            return BaseFs.EXIT_OK; // GNU cp 9.1 -n skips an existing destination silently
        }
        unusable = unopenable(sourceFile, source, target);
        if (unusable != USABLE) {
            return unusable;
        }
        if (dangling) {
            // Never create a file where a link someone else may have planted points (-n included).
            return messages.notThroughDanglingLink(target);
        }
        boolean regular = sourceFile.isFile();
        Progress progress = new Progress("cp", regular ? sourceFile.length() : Progress.UNKNOWN_TOTAL, interactive,
                progressOut);
        InterruptHook hook = InterruptHook.install(progress, messages, target);
        try {
            return copyWatched(source, target, regular, noClobber, targetExists, progress);
        } finally {
            hook.release();
        }
    }

    /**
     * The library's copy, of a {@code regular} source through descriptors, reported through
     * {@code progress}, which Ctrl-C stops (the hook says so).
     */
    private int copyWatched(String source, String target, boolean regular, boolean noClobber, boolean targetExists,
            Progress progress) {
        int flags = noClobber ? BaseFileSystem.COPY_EXCLUSIVE : 0;
        try {
            if (regular) {
                NamedFileCopy.copy(source, target, flags, progress);
            } else {
                BaseFileSystem.nCopyFileCallback(source, target, flags, progress);
            }
            progress.finish();
            if (progress.stopRequested()) {
                markInterrupted();
                return BaseFs.EXIT_INTERRUPTED;
            }
            return BaseFs.EXIT_OK;
        } catch (ReplacedFileException e) {
            progress.finish();
            return messages.replaced(source, CopyLevels.COPIED);
        } catch (IOException e) {
            IOException failure = SystemError.keepNumber(e); // read after other calls of the library
            progress.finish();
            int number = SystemError.number(failure);
            // Planted after the check: the library refused to open it (EEXIST by path, ELOOP by descriptor).
            if ((number == SystemError.EEXIST || number == SystemError.ELOOP) && Links.isDangling(target)) {
                return messages.notThroughDanglingLink(target);
            }
            if (noClobber && number == SystemError.EEXIST) {
                return BaseFs.EXIT_OK; // created meanwhile: skipped as well
            }
            return copyFailed(messages, source, target, targetExists, failure);
        }
    }

    /**
     * The library does not say which file a failure was about: the error and
     * the state of the files after it tell, in GNU cp's words.
     */
    static int copyFailed(Messages messages, String source, String target, boolean targetExisted, IOException thrown) {
        IOException e = SystemError.keepNumber(thrown); // reported after other calls of the library
        int number = SystemError.number(e);
        File sourceFile = new File(source);
        if (!sourceFile.exists()) {
            return messages.fail("cannot stat", source, e);
        }
        if (number == SystemError.EISDIR && sourceFile.isDirectory()
                || number == SystemError.EINVAL && sourceFile.isDirectory()) {
            return omittingDirectory(messages, source);
        }
        if ((number == SystemError.EACCES || number == SystemError.EPERM) && !sourceFile.canRead()) {
            return messages.fail("cannot open", source, e, "for reading");
        }
        boolean targetExists = new File(target).exists() || Links.isLink(target);
        boolean writing = number == SystemError.ENOSPC || number == SystemError.EDQUOT || number == SystemError.EFBIG
                || number == SystemError.EIO;
        if (writing && (targetExisted || targetExists)) {
            return messages.fail("error writing", target, e);
        }
        if (number != SystemError.NONE && !writing) {
            return messages.fail("cannot create regular file", target, e);
        }
        messages.complain("cannot copy " + Quoting.shellEscapeAlways(source) + " to "
                + Quoting.shellEscapeAlways(target) + ": " + SystemError.reason(e));
        return BaseFs.EXIT_FAILURE;
    }

    /**
     * GNU cp looks at the destination before it opens anything: a name it
     * cannot look at ("file/x", or one under a directory it may not search) is
     * reported as such. Returns the status of that report, or {@link #USABLE}.
     */
    private int unusableTarget(String target) {
        try {
            BaseFileSystem.nGetFileInfo(target, target, 0);
        } catch (IOException e) {
            if (SystemError.number(e) != SystemError.ENOENT) {
                return messages.fail("cannot stat", target, e);
            }
        }
        return USABLE;
    }

    /**
     * GNU cp opens the source before it creates the destination: an unreadable
     * source is named first, then a missing destination whose trailing slash
     * names a directory that is not there. Returns that report's status, or {@link #USABLE}.
     */
    private int unopenable(File sourceFile, String source, String target) {
        if (!sourceFile.canRead()) {
            messages.complain("cannot open " + Quoting.shellEscapeAlways(source) + " for reading: "
                    + SystemError.text(SystemError.EACCES));
            return BaseFs.EXIT_FAILURE;
        }
        if (target.endsWith("/") && !new File(target).exists()) {
            messages.complain("cannot create regular file " + Quoting.shellEscapeAlways(target) + ": "
                    + SystemError.text(SystemError.ENOTDIR));
            return BaseFs.EXIT_FAILURE;
        }
        return USABLE;
    }

    private static int omittingDirectory(Messages messages, String source) {
        messages.complain("-r not specified; omitting directory " + Quoting.shellEscapeAlways(source));
        return BaseFs.EXIT_FAILURE;
    }

    @Override
    String usage() {
        return """
                Usage: basefs cp [OPTION]... SOURCE DEST
                  or:  basefs cp [OPTION]... SOURCE... DIRECTORY
                Copy SOURCE to DEST, or multiple SOURCE(s) to DIRECTORY, inside the kernel.

                  -n              do not overwrite an existing file
                  -r, -R          copy directories recursively
                      --help      display this help and exit

                On a terminal, a progress line on standard error shows the bytes copied.
                """;
    }
}
