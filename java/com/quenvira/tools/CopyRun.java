package com.quenvira.tools;

import com.quenvira.interfaces.ISyncProgressMonitor;
import com.quenvira.internal.io.BaseFileSystem;
import com.quenvira.internal.io.OpenDirectory;
import com.quenvira.internal.io.ReplacedFileException;
import com.quenvira.io.FileInfo;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.Paths;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayDeque;
import java.util.Deque;
import java.util.EnumSet;
import java.util.List;
import java.util.Set;

/**
 * The steps of cp -r, done by descriptors: one level per directory being
 * copied holds its open source and its open destination, each opened
 * relative to the level above (the operand's own by its path), so the run
 * holds two descriptors per level of depth. A source that is no longer the
 * file the plan saw is skipped with GNU cp's words. Files and links named on
 * the command line are copied by their paths, as cp copies them.
 */
final class CopyRun {
    private static final int PERMISSIONS = 0777;
    private static final int OWNER_ALL = 0700;

    /** A directory being copied: its open source (null: unreadable), its open copy, and its copy's mode to restore (-1: none). */
    private static final class Level {
        final OpenDirectory source;
        final OpenDirectory target;
        final boolean made;
        final int modeToRestore;

        Level(OpenDirectory source, OpenDirectory target, boolean made, int modeToRestore) {
            this.source = source;
            this.target = target;
            this.made = made;
            this.modeToRestore = modeToRestore;
        }

        void close() {
            if (source != null) {
                source.close();
            }
            target.close();
        }
    }

    private final Messages messages;
    private final boolean noClobber;
    private final Deque<Level> levels = new ArrayDeque<>();
    private final TopLevelCopy topLevel;
    private int status = BaseFs.EXIT_OK;
    private boolean interrupted;

    CopyRun(Messages messages, boolean noClobber) {
        this.messages = messages;
        this.noClobber = noClobber;
        this.topLevel = new TopLevelCopy(messages, noClobber);
    }

    int status() {
        return Math.max(status, topLevel.status());
    }

    boolean interrupted() {
        return interrupted || topLevel.interrupted();
    }

    void run(List<TreeCopy.Step> steps, Progress progress) {
        try {
            runSteps(steps, progress);
        } finally {
            while (!levels.isEmpty()) {
                levels.pop().close();
            }
        }
    }

    private void runSteps(List<TreeCopy.Step> steps, Progress progress) {
        String skipped = null;
        for (TreeCopy.Step step : steps) {
            if (progress.stopRequested()) {
                return;
            }
            if (skipped != null) {
                if (step.kind == TreeCopy.Kind.DIRECTORY_DONE && step.source.equals(skipped)) {
                    skipped = null;
                }
                if (skipped == null || step.source.startsWith(PathNames.withSlash(skipped))) {
                    continue;
                }
            }
            switch (step.kind) {
                case DIRECTORY:
                    if (!enterDirectory(step)) {
                        skipped = step.source;
                    }
                    break;
                case DIRECTORY_DONE:
                    leaveDirectory(step);
                    break;
                case FILE:
                    copyFile(step, progress);
                    break;
                case LINK:
                    copyLink(step);
                    break;
                case UNREADABLE:
                    status = messages.fail("cannot access", step.source, step.error);
                    break;
                default:
                    fail("cannot copy special file " + Quoting.shellEscapeAlways(step.source));
                    break;
            }
        }
    }

    // ---- Directories ---------------------------------------------------------------

    /** Opens the directory and makes or opens its copy; false, having said why, when it cannot be copied. */
    private boolean enterDirectory(TreeCopy.Step step) {
        OpenDirectory source = null;
        if (!step.unreadable) {
            try {
                source = openSource(step);
            } catch (ReplacedFileException e) {
                replaced(step.source);
                return false;
            } catch (IOException e) {
                status = messages.fail("cannot access", step.source, e);
                return false;
            }
        }
        Level level = openTarget(step, source);
        if (level == null) {
            if (source != null) {
                source.close();
            }
            return false;
        }
        levels.push(level);
        return true;
    }

    private OpenDirectory openSource(TreeCopy.Step step) throws IOException {
        if (!levels.isEmpty()) {
            return levels.peek().source.openDirectory(step.name, step.device, step.inode);
        }
        OpenDirectory root = OpenDirectory.open(step.source, false);
        if (root.device() != step.device || root.inode() != step.inode) {
            root.close();
            throw new ReplacedFileException("File was replaced while in use");
        }
        return root;
    }

    /** The level of the directory's copy, made or existing; null, having said why, when it cannot be had. */
    private Level openTarget(TreeCopy.Step step, OpenDirectory source) {
        OpenDirectory parent = levels.isEmpty() ? null : levels.peek().target;
        FileInfo existing = parent == null ? TopLevelCopy.recordOrNull(step.target) : entryOrNull(parent, step.name);
        if (existing != null && !existing.isDirectory()) {
            fail("cannot overwrite non-directory " + Quoting.shellEscapeAlways(step.target) + " with directory "
                    + Quoting.shellEscapeAlways(step.source));
            return null;
        }
        int wanted = ModeFormat.octalMode(step.info.getAttributes()) & PERMISSIONS;
        OpenDirectory target;
        try {
            if (existing != null) {
                target = parent == null ? OpenDirectory.open(step.target, false) : parent.openDirectory(step.name, 0, 0);
                return new Level(source, target, false, -1);
            }
            target = parent == null ? makeTopLevel(step.target, wanted) : parent.makeDirectory(step.name, wanted);
        } catch (ReplacedFileException e) {
            fail("cannot create directory " + Quoting.shellEscapeAlways(step.target) + ": replaced meanwhile");
            return null;
        } catch (IOException e) {
            status = messages.fail(existing != null ? "cannot access" : "cannot create directory", step.target, e);
            return null;
        } catch (InvalidPathException e) {
            fail("cannot create directory " + Quoting.shellEscapeAlways(step.target) + ": " + e.getReason());
            return null;
        }
        int mode;
        try {
            mode = ModeFormat.octalMode(target.info(step.target, 0).getAttributes()) & PERMISSIONS;
            if ((mode & OWNER_ALL) == OWNER_ALL) {
                return new Level(source, target, true, -1);
            }
            // Filled by its owner for a while, as GNU cp does, and given its mode back after.
            target.changeMode(mode | OWNER_ALL);
        } catch (IOException e) {
            status = messages.fail("setting permissions for", step.target, e);
            target.close();
            return null;
        }
        return new Level(source, target, true, mode);
    }

    /** The operand's copy, made through the JDK (the kernel takes the umask off), then opened. */
    private static OpenDirectory makeTopLevel(String target, int wanted) throws IOException {
        Files.createDirectory(Paths.get(target), PosixFilePermissions.asFileAttribute(permissions(wanted)));
        return OpenDirectory.open(target, false);
    }

    private void leaveDirectory(TreeCopy.Step step) {
        Level done = levels.pop();
        try {
            if (done.modeToRestore >= 0) {
                done.target.changeMode(done.modeToRestore);
            }
        } catch (IOException e) {
            status = messages.fail("setting permissions for", step.target, e);
        } finally {
            done.close();
        }
    }

    // ---- Files and links ------------------------------------------------------------

    private void copyFile(TreeCopy.Step step, Progress progress) {
        FileShare share = new FileShare(progress, step.info.getSize());
        try {
            if (step.name == null) {
                topLevel.copyFile(step, share, share.progress);
            } else {
                copyFile(step, share);
            }
        } finally {
            share.settle();
        }
    }

    /** A regular file inside a tree, with the checks of GNU cp on its destination. */
    private void copyFile(TreeCopy.Step step, FileShare share) {
        Level level = levels.peek();
        FileInfo existing = entryOrNull(level.target, step.name);
        if (existing != null) {
            if (existing.isSymbolicLink() && Links.isDangling(step.target)) {
                status = messages.notThroughDanglingLink(step.target);
                return;
            }
            if (TopLevelCopy.isSameFile(step.source, step.target)) {
                fail(Quoting.shellEscapeAlways(step.source) + " and " + Quoting.shellEscapeAlways(step.target)
                        + " are the same file");
                return;
            }
            if (existing.isDirectory()) {
                fail("cannot overwrite directory " + Quoting.shellEscapeAlways(step.target) + " with non-directory");
                return;
            }
            if (noClobber) {
                return;
            }
        }
        // In a directory this copy made, nothing is there to overwrite: whatever is, someone else put there.
        boolean exclusive = noClobber || level.made;
        try {
            level.source.copyFile(step.name, step.device, step.inode, level.target, step.name,
                    exclusive ? BaseFileSystem.COPY_EXCLUSIVE : 0, share);
            // The hook names the destination that may be incomplete.
            interrupted |= share.progress.stopRequested();
        } catch (ReplacedFileException e) {
            replaced(step.source);
        } catch (IOException e) {
            if (noClobber && SystemError.number(e) == SystemError.EEXIST) {
                return; // created meanwhile: skipped as well
            }
            status = Cp.copyFailed(messages, step.source, step.target, existing != null, e);
        }
    }

    /** A symbolic link made anew with the source link's target text, never followed. */
    private void copyLink(TreeCopy.Step step) {
        if (step.name == null) {
            topLevel.copyLink(step);
            return;
        }
        Level level = levels.peek();
        String text;
        try {
            text = level.source.readLink(step.name);
        } catch (ReplacedFileException e) {
            replaced(step.source);
            return;
        } catch (IOException e) {
            status = messages.fail("cannot read symbolic link", step.source, e);
            return;
        }
        FileInfo existing = entryOrNull(level.target, step.name);
        try {
            if (existing != null) {
                if (noClobber) {
                    return;
                }
                if (existing.isDirectory()) {
                    fail("cannot overwrite directory " + Quoting.shellEscapeAlways(step.target) + " with non-directory");
                    return;
                }
                // GNU cp -r removes a destination that is no directory before it makes a link there.
                level.target.remove(step.name);
            }
        } catch (IOException e) {
            status = messages.fail("cannot remove", step.target, e);
            return;
        }
        try {
            level.target.makeLink(step.name, text);
        } catch (IOException e) {
            status = messages.fail("cannot create symbolic link", step.target, e);
        }
    }

    /** GNU cp's words for a source that is no longer the file it saw. */
    private void replaced(String source) {
        fail("skipping file " + Quoting.shellEscapeAlways(source) + ", as it was replaced while being copied");
    }

    private void fail(String message) {
        messages.complain(message);
        status = BaseFs.EXIT_FAILURE;
    }

    /** The record of the entry itself, or null when there is none to be had. */
    private static FileInfo entryOrNull(OpenDirectory directory, String name) {
        try {
            return directory.entryInfo(name, 0);
        } catch (IOException e) {
            return null;
        }
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

    /**
     * One file's part of the tree's bar: the copy reports whole steps, also
     * for a file shorter than a step, so each file adds its own size at most,
     * and exactly that once its copy has ended.
     */
    static final class FileShare implements ISyncProgressMonitor {
        final Progress progress;
        private long left;

        FileShare(Progress progress, long size) {
            this.progress = progress;
            this.left = size;
        }

        @Override
        public boolean bytesTransferred(long bytes) {
            long counted = Math.min(Math.max(bytes, 0), left);
            left -= counted;
            return progress.bytesTransferred(counted);
        }

        void settle() {
            if (left > 0) {
                progress.bytesTransferred(left);
                left = 0;
            }
        }
    }
}
