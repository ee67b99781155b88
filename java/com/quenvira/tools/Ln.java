package com.quenvira.tools;

import com.quenvira.internal.io.BaseFileSystem;
import java.io.File;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.util.List;
import java.util.concurrent.ThreadLocalRandom;

/**
 * ln -s [-f] TARGET [LINK|DIR], ln -s [-f] TARGET... DIR: creates symbolic
 * links, the only kind the tool makes; -f replaces an existing file or link,
 * never a directory.
 */
final class Ln extends Command {
    /** GNU ln's temporary names: eight letters or digits, tried again when taken. */
    private static final String NAME_CHARACTERS = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    private static final int TEMPORARY_NAME_LENGTH = 8;
    private static final int TEMPORARY_NAME_TRIES = 100;

    Ln(Output out, Messages messages) {
        super(out, messages);
    }

    @Override
    int run(List<String> args) {
        Options options = Options.parse(args, "sf", "");
        options.requireOperands(1, "missing file operand");
        if (!options.has('s')) {
            throw new UsageError("only symbolic links are supported: use ln -s");
        }
        boolean force = options.has('f');
        List<String> operands = options.operands;
        if (operands.size() == 1) {
            return symlink(operands.get(0), PathNames.baseName(operands.get(0)), force);
        }
        String last = operands.get(operands.size() - 1);
        boolean intoDirectory = new File(last).isDirectory();
        if (operands.size() > 2 && !intoDirectory) {
            return messages.targetNotDirectory(last);
        }
        if (!intoDirectory) {
            return symlink(operands.get(0), last, force);
        }
        int status = BaseFs.EXIT_OK;
        for (String target : operands.subList(0, operands.size() - 1)) {
            status = Math.max(status, symlink(target, PathNames.withSlash(last) + PathNames.baseName(target), force));
        }
        return status;
    }

    private int symlink(String target, String link, boolean force) {
        try {
            BaseFileSystem.nCreateSymbolicLink(link, target);
            return BaseFs.EXIT_OK;
        } catch (IOException e) {
            if (!force || SystemError.number(e) != SystemError.EEXIST) {
                return messages.fail("failed to create symbolic link", link, e);
            }
        }
        return replace(target, link);
    }

    /**
     * ln -f onto an existing name: the new link is made under a free temporary
     * name beside it and renamed over it, as GNU ln does, so the name never
     * goes missing and nothing is written through what was there; rename
     * itself refuses to put a link in place of a directory.
     */
    private int replace(String target, String link) {
        if (isDirectory(link)) {
            return cannotOverwriteDirectory(link);
        }
        String temporary;
        try {
            temporary = createTemporaryLink(target, link);
        } catch (IOException e) {
            return messages.fail("failed to create symbolic link", link, e);
        }
        try {
            Files.move(Paths.get(temporary), Paths.get(link), StandardCopyOption.ATOMIC_MOVE);
            return BaseFs.EXIT_OK;
        } catch (IOException | InvalidPathException e) {
            removeQuietly(temporary);
            if (isDirectory(link)) {
                return cannotOverwriteDirectory(link); // one was put there meanwhile
            }
            IOException failure = e instanceof IOException ? (IOException) e : SystemError.of(SystemError.EINVAL);
            return messages.fail("failed to create symbolic link", link, failure);
        }
    }

    /** Creates the link under a random name in {@code link}'s directory; returns that name. */
    private static String createTemporaryLink(String target, String link) throws IOException {
        String directory = link.substring(0, link.lastIndexOf('/') + 1);
        IOException taken = null;
        for (int tries = 0; tries < TEMPORARY_NAME_TRIES; tries++) {
            String temporary = directory + randomName();
            try {
                BaseFileSystem.nCreateSymbolicLink(temporary, target);
                return temporary;
            } catch (IOException e) {
                if (SystemError.number(e) != SystemError.EEXIST) {
                    throw e;
                }
                taken = e;
            }
        }
        throw taken;
    }

    private static String randomName() {
        ThreadLocalRandom random = ThreadLocalRandom.current();
        char[] name = new char[TEMPORARY_NAME_LENGTH];
        for (int i = 0; i < name.length; i++) {
            name[i] = NAME_CHARACTERS.charAt(random.nextInt(NAME_CHARACTERS.length()));
        }
        return new String(name);
    }

    /** Whether the path itself (not a link's target) is a directory. */
    private static boolean isDirectory(String path) {
        try {
            return BaseFileSystem.nGetFileInfo(path, path, 0).isDirectory();
        } catch (IOException e) {
            return false;
        }
    }

    private static void removeQuietly(String path) {
        try {
            Files.deleteIfExists(Paths.get(path));
        } catch (IOException | InvalidPathException e) {
            // Left behind under its random name; the failure that matters is reported.
        }
    }

    /** GNU ln's words: "ln: d/x: cannot overwrite directory"; returns 1. */
    private int cannotOverwriteDirectory(String link) {
        messages.complain(Quoting.shellEscapeColon(link) + ": cannot overwrite directory");
        return BaseFs.EXIT_FAILURE;
    }

    @Override
    String usage() {
        return """
                Usage: basefs ln -s [OPTION]... TARGET LINK_NAME
                  or:  basefs ln -s [OPTION]... TARGET
                  or:  basefs ln -s [OPTION]... TARGET... DIRECTORY
                In the 1st form, create a symbolic link to TARGET with the name LINK_NAME.
                In the 2nd form, create a link to TARGET in the current directory.
                In the 3rd form, create links to each TARGET in DIRECTORY.
                Only symbolic links are made: -s is required.

                  -f              remove existing destination files
                  -s              make symbolic links
                      --help      display this help and exit
                """;
    }
}
