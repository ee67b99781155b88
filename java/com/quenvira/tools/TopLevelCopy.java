package com.quenvira.tools;

import com.quenvira.interfaces.ISyncProgressMonitor;
import com.quenvira.internal.io.BaseFileSystem;
import com.quenvira.internal.io.OpenDirectory;
import com.quenvira.internal.io.ReplacedFileException;
import com.quenvira.io.FileInfo;
import java.io.File;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.Paths;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.EnumSet;
import java.util.Set;

/**
 * The files and links cp -r is given on its command line, which it copies by
 * their paths, as cp copies an operand: a destination that exists is written
 * as it is, a dangling link there never written through, and a file's source
 * opened through its directory, never waited on ({@link NamedFileCopy}); and
 * the operand's own copy of a directory.
 */
final class TopLevelCopy {
    private final Messages messages;
    private final boolean noClobber;
    private int status = BaseFs.EXIT_OK;
    private boolean interrupted;

    TopLevelCopy(Messages messages, boolean noClobber) {
        this.messages = messages;
        this.noClobber = noClobber;
    }

    int status() {
        return status;
    }

    boolean interrupted() {
        return interrupted;
    }

    /** A regular file, with the checks of GNU cp on its destination; {@code progress} is the bar's. */
    void copyFile(TreeCopy.Step step, ISyncProgressMonitor share, Progress progress) {
        String target = step.target;
        if (Links.isDangling(target)) {
            status = messages.notThroughDanglingLink(target);
            return;
        }
        File targetFile = new File(target);
        boolean exists = targetFile.exists();
        if (exists && isSameFile(step.source, target)) {
            fail(Quoting.shellEscapeAlways(step.source) + " and " + Quoting.shellEscapeAlways(target)
                    + " are the same file");
            return;
        }
        if (exists && targetFile.isDirectory()) {
            fail("cannot overwrite directory " + Quoting.shellEscapeAlways(target) + " with non-directory");
            return;
        }
        if (exists && noClobber) {
            return;
        }
        try {
            NamedFileCopy.copy(step.source, target, noClobber ? BaseFileSystem.COPY_EXCLUSIVE : 0, share);
            interrupted |= progress.stopRequested();
        } catch (ReplacedFileException e) {
            status = messages.replaced(step.source, CopyLevels.COPIED);
        } catch (IOException e) {
            if (noClobber && SystemError.number(e) == SystemError.EEXIST) {
                return; // created meanwhile: skipped as well
            }
            status = Cp.copyFailed(messages, step.source, target, exists, e);
        }
    }

    /** A symbolic link made anew with the source link's target text, never followed. */
    void copyLink(TreeCopy.Step step) {
        String text;
        try {
            text = BaseFileSystem.nReadSymbolicLink(step.source);
        } catch (IOException e) {
            status = messages.fail("cannot read symbolic link", step.source, e);
            return;
        }
        FileInfo existing = recordOrNull(step.target);
        if (existing != null) {
            if (noClobber) {
                return;
            }
            if (existing.isDirectory()) {
                fail("cannot overwrite directory " + Quoting.shellEscapeAlways(step.target) + " with non-directory");
                return;
            }
            // GNU cp -r removes a destination that is no directory before it makes a link there.
            try {
                Files.delete(Paths.get(step.target));
            } catch (IOException e) {
                status = messages.fail("cannot remove", step.target, e);
                return;
            } catch (InvalidPathException e) {
                fail("cannot remove " + Quoting.shellEscapeAlways(step.target) + ": " + e.getReason());
                return;
            }
        }
        try {
            BaseFileSystem.nCreateSymbolicLink(step.target, text);
        } catch (IOException e) {
            status = messages.fail("cannot create symbolic link", step.target, e);
        }
    }

    private void fail(String message) {
        messages.complain(message);
        status = BaseFs.EXIT_FAILURE;
    }

    /** The record of the path itself, or null when there is none to be had. */
    static FileInfo recordOrNull(String path) {
        try {
            return BaseFileSystem.nGetFileInfo(path, path, 0);
        } catch (IOException e) {
            return null;
        }
    }

    /** Whether both paths lead to one file, links followed. */
    static boolean isSameFile(String first, String second) {
        try {
            return Files.isSameFile(Paths.get(first), Paths.get(second));
        } catch (IOException | InvalidPathException e) {
            return false;
        }
    }

    /** The operand's copy, made through the JDK (the kernel takes the umask off), then opened. */
    static OpenDirectory makeDirectory(String target, int wanted) throws IOException {
        Files.createDirectory(Paths.get(target), PosixFilePermissions.asFileAttribute(permissions(wanted)));
        return OpenDirectory.open(target, false);
    }

    static Set<PosixFilePermission> permissions(int mode) {
        Set<PosixFilePermission> permissions = EnumSet.noneOf(PosixFilePermission.class);
        PosixFilePermission[] order = PosixFilePermission.values(); // OWNER_READ first, OTHERS_EXECUTE last
        for (int i = 0; i < order.length; i++) {
            if ((mode & (1 << (order.length - 1 - i))) != 0) {
                permissions.add(order[i]);
            }
        }
        return permissions;
    }
}
