package com.quenvira.tools;

import com.quenvira.internal.io.OpenDirectory;
import com.quenvira.internal.io.ReplacedFileException;
import com.quenvira.io.FileInfo;
import java.io.IOException;
import java.nio.file.InvalidPathException;
import java.util.ArrayDeque;
import java.util.Deque;

/**
 * The directories cp -r is inside, one level each: its open source and its
 * open copy, each opened relative to the level above (the operand's own by
 * its path, its source checked to be the directory the plan saw), so a run
 * holds two descriptors per level of depth and none through a link.
 */
final class CopyLevels {
    private static final int PERMISSIONS = 0777;
    private static final int OWNER_ALL = 0700;
    private static final int GROUP_AND_OTHERS = 0077;
    /** The act a replaced source's message names, in GNU cp's words. */
    static final String COPIED = "copied";

    /** A directory being copied: its open source (null: unreadable), its open copy, and its copy's mode to restore (-1: none). */
    static final class Level {
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
    private final Deque<Level> levels = new ArrayDeque<>();
    private int status = BaseFs.EXIT_OK;

    CopyLevels(Messages messages) {
        this.messages = messages;
    }

    int status() {
        return status;
    }

    /** The directory being filled. */
    Level top() {
        return levels.peek();
    }

    /** Closes every level still open. */
    void closeAll() {
        while (!levels.isEmpty()) {
            levels.pop().close();
        }
    }

    /** Opens the directory and makes or opens its copy; false, having said why, when it cannot be copied. */
    boolean enter(TreeCopy.Step step) {
        if (step.replaced) {
            replaced(step.source);
            return false;
        }
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
            // Made open to its owner, who may have to open it to fill it; its own mode is given after.
            int open = wanted | OWNER_ALL;
            target = parent == null ? TopLevelCopy.makeDirectory(step.target, open)
                    : parent.makeDirectory(step.name, open);
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
        try {
            int made = ModeFormat.octalMode(target.info(step.target, 0).getAttributes()) & PERMISSIONS;
            // The source's bits less the umask, as mkdir would have made them.
            int mode = made & (wanted | GROUP_AND_OTHERS);
            if ((made & OWNER_ALL) != OWNER_ALL) {
                // Filled by its owner for a while, as GNU cp does, and given its mode back after.
                made |= OWNER_ALL;
                target.changeMode(made);
            }
            return new Level(source, target, true, made == mode ? -1 : mode);
        } catch (IOException e) {
            status = messages.fail("setting permissions for", step.target, e);
            target.close();
            return null;
        }
    }

    void leave(TreeCopy.Step step) {
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

    /** The record of the entry itself, or null when there is none to be had. */
    static FileInfo entryOrNull(OpenDirectory directory, String name) {
        try {
            return directory.entryInfo(name, 0);
        } catch (IOException e) {
            return null;
        }
    }

    private void replaced(String source) {
        status = messages.replaced(source, COPIED);
    }

    private void fail(String message) {
        messages.complain(message);
        status = BaseFs.EXIT_FAILURE;
    }
}
