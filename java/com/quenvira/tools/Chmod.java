package com.quenvira.tools;

import com.quenvira.internal.io.BaseFileSystem;
import com.quenvira.internal.io.ReplacedFileException;
import com.quenvira.io.FileInfo;
import java.io.IOException;
import java.util.ArrayList;
import java.util.List;

/**
 * chmod [-R] MODE PATH...: sets each path's permissions from an octal or
 * symbolic MODE ({@link ModeChange}), as GNU chmod does. A link named on the
 * command line is followed; with -R a link met inside a directory is left as
 * it is and never followed: below an operand every change is made through
 * the walk's open directories ({@link TreeWalker}), on the file the walk
 * listed, so a name swapped meanwhile is skipped, not followed. A mode
 * written as an option ("chmod -w f") is taken as GNU takes it, with its
 * warning when the umask kept a bit from being taken away.
 */
final class Chmod extends Command {
    /** What may follow the '-' of a mode given as an option. */
    private static final String MODE_OPTION_LETTERS = "rwxXstugoa,+=01234567";
    /** The act a replaced file's message names. */
    private static final String CHANGED = "changed";

    private ModeChange change;
    private int umask;
    private boolean diagnoseSurprises;
    /** Whether the last change found another file in the place of the one listed. */
    private boolean replaced;

    Chmod(Output out, Messages messages) {
        super(out, messages);
    }

    @Override
    int run(List<String> args) {
        List<String> modeOptions = new ArrayList<>();
        List<String> rest = new ArrayList<>();
        splitModeOptions(args, modeOptions, rest);
        Options options = Options.parse(rest, "R", "");
        List<String> operands = options.operands;
        String mode;
        List<String> paths;
        if (modeOptions.isEmpty()) {
            options.requireOperands(1, "missing operand");
            mode = operands.get(0);
            paths = operands.subList(1, operands.size());
            if (paths.isEmpty()) {
                throw new UsageError("missing operand after " + Quoting.shellEscapeAlways(mode));
            }
        } else {
            mode = String.join(",", modeOptions);
            paths = operands;
            options.requireOperands(1, "missing operand");
            diagnoseSurprises = true;
        }
        try {
            change = ModeChange.parse(mode);
        } catch (IllegalArgumentException e) {
            throw new UsageError(e.getMessage());
        }
        umask = change.needsUmask() ? Umask.get() : 0;
        int status = BaseFs.EXIT_OK;
        for (String path : paths) {
            status = Math.max(status, changeOperand(path, options.has('R')));
        }
        return status;
    }

    /** Sorts out, before "--", the arguments that are modes written as options ("-w", "-x,+t"). */
    private static void splitModeOptions(List<String> args, List<String> modeOptions, List<String> rest) {
        boolean optionsEnded = false;
        for (String arg : args) {
            optionsEnded |= arg.equals("--");
            if (!optionsEnded && arg.length() > 1 && arg.charAt(0) == '-'
                    && MODE_OPTION_LETTERS.indexOf(arg.charAt(1)) >= 0) {
                modeOptions.add(arg);
            } else {
                rest.add(arg);
            }
        }
    }

    /** One operand: what a link leads to, and with -R all below a directory. */
    private int changeOperand(String path, boolean recursive) {
        FileInfo info;
        try {
            info = BaseFileSystem.nGetFileInfo(path, path, 0);
            if (info.isSymbolicLink()) {
                String end = Links.finalTarget(path);
                if (end == null) {
                    messages.complain("cannot operate on dangling symlink " + Quoting.shellEscapeAlways(path));
                    return BaseFs.EXIT_FAILURE;
                }
                info = BaseFileSystem.nGetFileInfo(end, path, 0);
            }
        } catch (IOException e) {
            return messages.fail("cannot access", path, e);
        }
        if (!recursive || !info.isDirectory()) {
            return changeOne(path, info, null);
        }
        Recursion recursion = new Recursion();
        new TreeWalker(0).walk(path, info, true, recursion);
        return recursion.status;
    }

    /** chmod -R below an operand: links met are neither changed nor followed. */
    private final class Recursion implements TreeWalker.Visitor {
        int status = BaseFs.EXIT_OK;

        @Override
        public boolean enter(String path, FileInfo info, TreeWalker.Place place) {
            // Changed before it is opened, so that "u+r" makes a directory readable in time.
            status = Math.max(status, changeOne(path, info, place));
            return !replaced;
        }

        @Override
        public void other(String path, FileInfo info, TreeWalker.Place place) {
            if (!info.isSymbolicLink()) {
                status = Math.max(status, changeOne(path, info, place));
            }
        }

        @Override
        public void unreadable(String path, IOException e) {
            status = e instanceof ReplacedFileException ? messages.replaced(path, CHANGED)
                    : messages.fail("cannot read directory", path, e);
        }
    }

    /**
     * Sets the permissions of the file at {@code path}, whose record (followed, for a link
     * operand) is {@code info}: through the walk's {@code place} below an operand, by the path
     * for the operand itself (place null).
     */
    private int changeOne(String path, FileInfo info, TreeWalker.Place place) {
        int old = ModeFormat.octalMode(info.getAttributes());
        int mode = change.apply(old, info.isDirectory(), umask);
        replaced = false;
        try {
            if (place != null) {
                place.changeMode(mode);
            } else {
                BaseFileSystem.nSetFileInfo(path, BaseFileSystem.INFO_ATTRIBUTES, 0, 0, 0,
                        ModeFormat.attributesOfMode(mode));
            }
        } catch (ReplacedFileException e) {
            replaced = true;
            return messages.replaced(path, CHANGED);
        } catch (IOException e) {
            // GNU chmod looks the file up first: only a refused change is "changing permissions".
            int number = SystemError.number(e);
            boolean refused = number == SystemError.EPERM || number == SystemError.EROFS;
            return messages.fail(refused ? "changing permissions of" : "cannot access", path, e);
        }
        if (diagnoseSurprises) {
            int naive = change.apply(old, info.isDirectory(), 0);
            if ((mode & ~naive) != 0) {
                messages.complain(Quoting.shellEscape(path) + ": new permissions are " + permissions(mode)
                        + ", not " + permissions(naive));
                return BaseFs.EXIT_FAILURE;
            }
        }
        return BaseFs.EXIT_OK;
    }

    /** "rwxr-sr-x" of a mode, as ls shows it without the type letter. */
    private static String permissions(int mode) {
        return ModeFormat.modeString('-', ModeFormat.attributesOfMode(mode)).substring(1);
    }

    @Override
    String usage() {
        return """
                Usage: basefs chmod [OPTION]... MODE[,MODE]... FILE...
                  or:  basefs chmod [OPTION]... OCTAL-MODE FILE...
                Change the mode of each FILE to MODE.

                  -R              change files and directories recursively
                      --help      display this help and exit

                Each MODE is of the form '[ugoa]*[-+=][rwxXst]*', several separated by
                commas (u+x,go-w), or an octal number (755).
                """;
    }
}
