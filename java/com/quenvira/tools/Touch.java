package com.quenvira.tools;

import com.quenvira.internal.io.BaseFileSystem;
import java.io.File;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.LinkOption;
import java.nio.file.Paths;
import java.nio.file.StandardOpenOption;
import java.util.List;

/**
 * touch [-d TIME] [-a|-m] [-c] [-h] PATH...: sets the access and modification
 * times (-a, -m: only one), to now or to TIME, of what each path leads to
 * (-h: of the path itself); -c creates nothing and passes over what is missing.
 */
final class Touch extends Command {
    Touch(Output out, Messages messages) {
        super(out, messages);
    }

    @Override
    int run(List<String> args) {
        Options options = Options.parse(args, "amch", "d");
        options.requireOperands(1, "missing file operand");
        long time;
        try {
            time = options.value('d') == null ? System.currentTimeMillis() : Dates.parse(options.value('d'));
        } catch (IllegalArgumentException e) {
            // GNU touch says so in one line, without pointing to the help.
            messages.complain(e.getMessage());
            return BaseFs.EXIT_FAILURE;
        }
        int mask = 0;
        if (options.has('a') || !options.has('m')) {
            mask |= BaseFileSystem.INFO_ACCESSED;
        }
        if (options.has('m') || !options.has('a')) {
            mask |= BaseFileSystem.INFO_MODIFIED;
        }
        boolean create = !options.has('c');
        int status = BaseFs.EXIT_OK;
        for (String path : options.operands) {
            int result = options.has('h') ? touchItself(path, mask, time, create)
                    : touchFollowing(path, mask, time, create);
            status = Math.max(status, result);
        }
        return status;
    }

    /** touch -h: the times of the path itself, a link's own included; nothing is created. */
    private int touchItself(String path, int mask, long time, boolean create) {
        try {
            BaseFileSystem.nSetFileInfo(path, mask, time, time, 0, 0);
            return BaseFs.EXIT_OK;
        } catch (IOException e) {
            if (!create && SystemError.number(e) == SystemError.ENOENT) {
                return BaseFs.EXIT_OK; // -c: a missing file is passed over silently, as GNU touch does
            }
            return messages.fail("setting times of", path, e);
        }
    }

    /**
     * touch: the times of the file a link leads to (the library sets a link's
     * own), or of the path itself, created when missing unless {@code create}
     * is false. Nothing is created through a link: one that leads nowhere is
     * refused, as cp refuses it; without {@code create} it is passed over.
     */
    private int touchFollowing(String path, int mask, long time, boolean create) {
        try {
            if (create && !new File(path).exists() && !Links.isLink(path)) {
                createUnlessLinked(path);
            }
            String target = Links.finalTarget(path);
            if (target == null && !create) {
                return BaseFs.EXIT_OK;
            }
            if (target == null && Links.isLink(path)) {
                return messages.notThroughDanglingLink(path);
            }
            // A file removed meanwhile is reported by the library.
            BaseFileSystem.nSetFileInfo(target != null ? target : path, mask, time, time, 0, 0);
            return BaseFs.EXIT_OK;
        } catch (IOException e) {
            if (!create) {
                // -c opens nothing: a missing file is passed over, any other failure is the times'.
                return SystemError.number(e) == SystemError.ENOENT ? BaseFs.EXIT_OK
                        : messages.fail("setting times of", path, e);
            }
            return touchFailed(path, e);
        }
    }

    /**
     * GNU touch opens the file for writing before it sets the times, and
     * names that open's failure when setting them fails too: a file others
     * own and we may not write is "Permission denied", not the EPERM of the
     * times. A directory, or a writable file, whose times could not be set says so.
     */
    private int touchFailed(String path, IOException e) {
        File file = new File(path);
        if (!file.exists()) {
            return messages.fail("cannot touch", path, e);
        }
        if (file.isDirectory() || file.canWrite()) {
            return messages.fail("setting times of", path, e); // a directory is not opened for writing
        }
        messages.complain("cannot touch " + Quoting.shellEscapeAlways(path) + ": "
                + SystemError.text(SystemError.EACCES));
        return BaseFs.EXIT_FAILURE;
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
            IOException invalid = SystemError.of(SystemError.EINVAL);
            invalid.initCause(e);
            throw invalid;
        } catch (IOException e) {
            if (!Links.isLink(path)) {
                throw e;
            }
        }
    }

    @Override
    String usage() {
        return """
                Usage: basefs touch [OPTION]... FILE...
                Update the access and modification times of each FILE to the current time.

                A FILE argument that does not exist is created empty, unless -c or -h
                is supplied.

                  -a              change only the access time
                  -c              do not create any files
                  -d STRING       use STRING instead of the current time: @SECONDS,
                                    YYYY-MM-DD, or YYYY-MM-DD HH:MM[:SS] in local time
                  -h              affect each symbolic link instead of any referenced file
                  -m              change only the modification time
                      --help      display this help and exit
                """;
    }
}
