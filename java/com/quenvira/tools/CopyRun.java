package com.quenvira.tools;

import com.quenvira.internal.io.BaseFileSystem;
import com.quenvira.internal.io.ReplacedFileException;
import com.quenvira.io.FileInfo;
import java.io.IOException;
import java.util.List;

/**
 * The steps of cp -r, done by descriptors: each file and link inside a tree
 * is read relative to its open source directory and written relative to its
 * open copy ({@link CopyLevels}), never through a link; a source that is no
 * longer the file the plan saw is skipped with GNU cp's words. Files and
 * links named on the command line are copied by their paths, as cp copies
 * them ({@link TopLevelCopy}).
 */
final class CopyRun {
    private final Messages messages;
    private final boolean noClobber;
    private final CopyLevels levels;
    private final TopLevelCopy topLevel;
    private int status = BaseFs.EXIT_OK;
    private boolean interrupted;

    CopyRun(Messages messages, boolean noClobber) {
        this.messages = messages;
        this.noClobber = noClobber;
        this.topLevel = new TopLevelCopy(messages, noClobber);
        this.levels = new CopyLevels(messages);
    }

    int status() {
        return Math.max(status, Math.max(topLevel.status(), levels.status()));
    }

    boolean interrupted() {
        return interrupted || topLevel.interrupted();
    }

    void run(List<TreeCopy.Step> steps, Progress progress) {
        try {
            runSteps(steps, progress);
        } finally {
            levels.closeAll();
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
                    if (!levels.enter(step)) {
                        skipped = step.source;
                    }
                    break;
                case DIRECTORY_DONE:
                    levels.leave(step);
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
        CopyLevels.Level level = levels.top();
        FileInfo existing = CopyLevels.entryOrNull(level.target, step.name);
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
        CopyLevels.Level level = levels.top();
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
        FileInfo existing = CopyLevels.entryOrNull(level.target, step.name);
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

    private void replaced(String source) {
        status = messages.replaced(source, CopyLevels.COPIED);
    }

    private void fail(String message) {
        messages.complain(message);
        status = BaseFs.EXIT_FAILURE;
    }
}
