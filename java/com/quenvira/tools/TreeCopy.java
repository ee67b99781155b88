package com.quenvira.tools;

import com.quenvira.interfaces.ISyncProgressMonitor;
import com.quenvira.internal.io.BaseFileSystem;
import com.quenvira.io.FileInfo;
import java.io.File;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Deque;
import java.util.EnumSet;
import java.util.List;
import java.util.Set;

/**
 * cp -r: the operands' trees are walked first ({@link TreeWalker}, never
 * through a link) into a list of steps, then copied step by step under one
 * progress bar for the bytes of all their regular files. A directory is made
 * through the JDK with the source's permission bits less the umask, a regular
 * file is copied by the library, a symbolic link is made anew with the same
 * target text, and a FIFO, socket or device is refused by name.
 *
 * <p>What is copied is what the walk saw: a file replaced by another user
 * between the walk and its step is copied as it is then, a link swapped in
 * for a file is followed by the library's open of the source, and one swapped
 * in for a directory by its listing. Inside a directory this copy made, files
 * are created exclusively, so nothing planted there is written through.
 */
final class TreeCopy {
    private static final int PERMISSIONS = 0777;
    private static final int OWNER_ALL = 0700;

    private enum Kind { DIRECTORY, FILE, LINK, SPECIAL, UNREADABLE, DIRECTORY_DONE }

    /** One thing to do: a file of the source tree and where its copy goes. */
    private static final class Step {
        final Kind kind;
        final String source;
        final String target;
        final FileInfo info;
        /** Why an unreadable directory could not be listed. */
        final IOException error;

        Step(Kind kind, String source, String target, FileInfo info) {
            this(kind, source, target, info, null);
        }

        Step(Kind kind, String source, String target, FileInfo info, IOException error) {
            this.kind = kind;
            this.source = source;
            this.target = target;
            this.info = info;
            this.error = error;
        }
    }

    /** A directory being filled: whether this copy made it, and the mode to give it back (-1: none). */
    private static final class Filling {
        final boolean made;
        final int modeToRestore;

        Filling(boolean made, int modeToRestore) {
            this.made = made;
            this.modeToRestore = modeToRestore;
        }
    }

    private final Messages messages;
    private final boolean noClobber;
    private final boolean interactive;
    private final PrintStream progressOut;
    private final List<Step> steps = new ArrayList<>();
    private final Deque<Filling> filling = new ArrayDeque<>();
    private long total;
    private int status = BaseFs.EXIT_OK;
    private boolean interrupted;

    TreeCopy(Messages messages, boolean noClobber, boolean interactive, PrintStream progressOut) {
        this.messages = messages;
        this.noClobber = noClobber;
        this.interactive = interactive;
        this.progressOut = progressOut;
    }

    /** Whether the user's Ctrl-C ended the copy. */
    boolean interrupted() {
        return interrupted;
    }

    /** Copies each of {@code sources} to {@code last}, or into it when {@code intoDirectory}; returns cp's status. */
    int copy(List<String> sources, String last, boolean intoDirectory) {
        for (String source : sources) {
            plan(source, intoDirectory ? PathNames.withSlash(last) + PathNames.baseName(source) : last);
        }
        Progress progress = new Progress("cp", total, interactive, progressOut);
        InterruptHook hook = InterruptHook.install(progress, messages, last);
        try {
            run(progress);
        } finally {
            hook.release();
        }
        progress.finish();
        return interrupted ? BaseFs.EXIT_INTERRUPTED : status;
    }

    // ---- The walk ------------------------------------------------------------

    private void plan(String source, String target) {
        FileInfo info;
        try {
            info = BaseFileSystem.nGetFileInfo(source, source, 0);
        } catch (IOException e) {
            status = messages.fail("cannot stat", source, e);
            return;
        }
        if (!info.isDirectory()) {
            add(source, target, info);
            return;
        }
        if (isInside(source, target)) {
            messages.complain("cannot copy a directory, " + Quoting.shellEscapeAlways(source) + ", into itself, "
                    + Quoting.shellEscapeAlways(target));
            status = BaseFs.EXIT_FAILURE;
            return;
        }
        new TreeWalker(0).walk(source, info, new TreeWalker.Visitor() {
            @Override
            public boolean enter(String path, FileInfo entry) {
                steps.add(new Step(Kind.DIRECTORY, path, targetOf(path), entry));
                return true;
            }

            @Override
            public void other(String path, FileInfo entry) {
                add(path, targetOf(path), entry);
            }

            @Override
            public void leave(String path, FileInfo entry) {
                steps.add(new Step(Kind.DIRECTORY_DONE, path, targetOf(path), entry));
            }

            @Override
            public void unreadable(String path, IOException e) {
                // Said when the copy gets there, as GNU cp says it, after its directory is made.
                steps.add(new Step(Kind.UNREADABLE, path, targetOf(path), null, e));
                steps.add(new Step(Kind.DIRECTORY_DONE, path, targetOf(path), null));
            }

            private String targetOf(String path) {
                return path.equals(source) ? target
                        : PathNames.withSlash(target) + path.substring(PathNames.withSlash(source).length());
            }
        });
    }

    /** A step for a file that is no directory, by what its own record (not its link's target) says. */
    private void add(String source, String target, FileInfo info) {
        if (info.isSymbolicLink()) {
            steps.add(new Step(Kind.LINK, source, target, info));
        } else if (FileType.of(info, "", source) == FileType.REGULAR) {
            steps.add(new Step(Kind.FILE, source, target, info));
            total += info.getSize();
        } else {
            steps.add(new Step(Kind.SPECIAL, source, target, info));
        }
    }

    /** Whether the copy {@code target} of the directory {@code source} would be inside it, links resolved. */
    private static boolean isInside(String source, String target) {
        try {
            Path directory = Paths.get(source).toRealPath();
            Path copy = Paths.get(target).toAbsolutePath();
            Path parent = copy.getParent();
            Path resolved = Files.exists(copy) ? copy.toRealPath()
                    : parent == null ? copy : parent.toRealPath().resolve(copy.getFileName());
            return resolved.startsWith(directory);
        } catch (IOException | InvalidPathException e) {
            return false; // a destination whose directory is missing: its creation will say so
        }
    }

    // ---- The steps -------------------------------------------------------------

    private void run(Progress progress) {
        String skipped = null;
        for (Step step : steps) {
            if (progress.stopRequested()) {
                return;
            }
            if (skipped != null) {
                if (step.kind == Kind.DIRECTORY_DONE && step.source.equals(skipped)) {
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
                    messages.complain("cannot copy special file " + Quoting.shellEscapeAlways(step.source));
                    status = BaseFs.EXIT_FAILURE;
                    break;
            }
        }
    }

    /** Makes the directory's copy, or takes an existing directory as it is; false when neither can be. */
    private boolean enterDirectory(Step step) {
        FileInfo existing = recordOrNull(step.target);
        if (existing != null) {
            if (!existing.isDirectory()) {
                fail("cannot overwrite non-directory " + Quoting.shellEscapeAlways(step.target) + " with directory "
                        + Quoting.shellEscapeAlways(step.source));
                return false;
            }
            filling.push(new Filling(false, -1));
            return true;
        }
        int wanted = ModeFormat.octalMode(step.info.getAttributes()) & PERMISSIONS;
        try {
            // The kernel takes the umask off, as mkdir does for GNU cp; never a set-ID or sticky bit.
            Files.createDirectory(Paths.get(step.target), PosixFilePermissions.asFileAttribute(permissions(wanted)));
        } catch (IOException e) {
            status = messages.fail("cannot create directory", step.target, e);
            return false;
        } catch (InvalidPathException e) {
            fail("cannot create directory " + Quoting.shellEscapeAlways(step.target) + ": " + e.getReason());
            return false;
        }
        FileInfo made = recordOrNull(step.target);
        if (made == null || !made.isDirectory()) {
            fail("cannot create directory " + Quoting.shellEscapeAlways(step.target) + ": replaced meanwhile");
            return false;
        }
        int mode = ModeFormat.octalMode(made.getAttributes()) & PERMISSIONS;
        if ((mode & OWNER_ALL) == OWNER_ALL) {
            filling.push(new Filling(true, -1));
            return true;
        }
        // Filled by its owner for a while, as GNU cp does, and given its mode back after.
        setMode(step.target, mode | OWNER_ALL);
        filling.push(new Filling(true, mode));
        return true;
    }

    private void leaveDirectory(Step step) {
        Filling done = filling.pop();
        if (done.modeToRestore < 0) {
            return;
        }
        FileInfo now = recordOrNull(step.target);
        if (now != null && now.isDirectory()) {
            setMode(step.target, done.modeToRestore);
        }
    }

    private void copyFile(Step step, Progress progress) {
        FileShare share = new FileShare(progress, step.info.getSize());
        try {
            copyFile(step, share);
        } finally {
            share.settle();
        }
    }

    /** A regular file, with the checks of GNU cp on its destination. */
    private void copyFile(Step step, FileShare share) {
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
        // In a directory this copy made, nothing is there to overwrite: whatever is, someone else put there.
        boolean exclusive = noClobber || (!filling.isEmpty() && filling.peek().made);
        try {
            BaseFileSystem.nCopyFileCallback(step.source, target,
                    exclusive ? BaseFileSystem.COPY_EXCLUSIVE : 0, share);
            // The hook names the destination that may be incomplete.
            interrupted |= share.progress.stopRequested();
        } catch (IOException e) {
            if (noClobber && SystemError.number(e) == SystemError.EEXIST) {
                return; // created meanwhile: skipped as well
            }
            status = Cp.copyFailed(messages, step.source, target, exists, e);
        }
    }

    /** A symbolic link made anew with the source link's target text, never followed. */
    private void copyLink(Step step) {
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

    private void setMode(String path, int mode) {
        try {
            BaseFileSystem.nSetFileInfo(path, BaseFileSystem.INFO_ATTRIBUTES, 0, 0, 0,
                    ModeFormat.attributesOfMode(mode));
        } catch (IOException e) {
            status = messages.fail("setting permissions for", path, e);
        }
    }

    private void fail(String message) {
        messages.complain(message);
        status = BaseFs.EXIT_FAILURE;
    }

    /** The record of the path itself, or null when there is none to be had. */
    private static FileInfo recordOrNull(String path) {
        try {
            return BaseFileSystem.nGetFileInfo(path, path, 0);
        } catch (IOException e) {
            return null;
        }
    }

    private static boolean isSameFile(String first, String second) {
        try {
            return Files.isSameFile(Paths.get(first), Paths.get(second));
        } catch (IOException | InvalidPathException e) {
            return false;
        }
    }

    private static Set<PosixFilePermission> permissions(int mode) {
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
    private static final class FileShare implements ISyncProgressMonitor {
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
