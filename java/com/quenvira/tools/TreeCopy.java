package com.quenvira.tools;

import com.quenvira.internal.io.BaseFileSystem;
import com.quenvira.internal.io.OpenDirectory;
import com.quenvira.internal.io.ReplacedFileException;
import com.quenvira.io.FileInfo;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;

/**
 * cp -r: the operands' trees are walked first ({@link TreeWalker}, by
 * descriptors, never through a link) into a list of steps, then copied step
 * by step ({@link CopyRun}) under one progress bar for the bytes of all their
 * regular files. A directory is made with the source's permission bits less
 * the umask, a regular file is copied by the library, a symbolic link is made
 * anew with the same target text, and a FIFO, socket or device is refused by
 * name.
 *
 * <p>The copy walks the trees again by descriptors: each source directory and
 * file is opened relative to its open parent, never through a link, and only
 * while it is the file the plan saw (its device and inode); one replaced
 * meanwhile is skipped, as GNU cp skips it. Each destination is made or
 * opened relative to its open parent, never through a link; inside a
 * directory this copy made, files are created exclusively.
 */
final class TreeCopy {
    enum Kind { DIRECTORY, FILE, LINK, SPECIAL, UNREADABLE, DIRECTORY_DONE }

    /** One thing to do: a file of the source tree and where its copy goes. */
    static final class Step {
        final Kind kind;
        final String source;
        final String target;
        final FileInfo info;
        /** The entry's name in its directory, and the identity the plan saw; null at the top level. */
        final String name;
        long device;
        long inode;
        /** A directory the plan could not list, or why an unreadable one could not be. */
        boolean unreadable;
        IOException error;
        /** A directory the plan found replaced when it came to open it: nothing is made of it. */
        boolean replaced;

        Step(Kind kind, String source, String target, FileInfo info, TreeWalker.Place place) {
            this.kind = kind;
            this.source = source;
            this.target = target;
            this.info = info;
            this.name = place != null ? place.name : null;
            this.device = place != null ? place.device : 0;
            this.inode = place != null ? place.inode : 0;
        }
    }

    private final Messages messages;
    private final boolean noClobber;
    private final boolean interactive;
    private final PrintStream progressOut;
    private final List<Step> steps = new ArrayList<>();
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
        CopyRun run = new CopyRun(messages, noClobber);
        try {
            run.run(steps, progress);
        } finally {
            hook.release();
        }
        progress.finish();
        interrupted = run.interrupted();
        return interrupted ? BaseFs.EXIT_INTERRUPTED : Math.max(status, run.status());
    }

    private void plan(String source, String target) {
        FileInfo info;
        try {
            info = BaseFileSystem.nGetFileInfo(source, source, 0);
        } catch (IOException e) {
            status = messages.fail("cannot stat", source, e);
            return;
        }
        if (!info.isDirectory()) {
            add(source, target, info, null);
            return;
        }
        if (isInside(source, target)) {
            messages.complain("cannot copy a directory, " + Quoting.shellEscapeAlways(source) + ", into itself, "
                    + Quoting.shellEscapeAlways(target));
            status = BaseFs.EXIT_FAILURE;
            return;
        }
        new TreeWalker(0).walk(source, info, false, new TreeWalker.Visitor() {
            @Override
            public boolean enter(String path, FileInfo entry, TreeWalker.Place place) {
                steps.add(new Step(Kind.DIRECTORY, path, targetOf(path), entry, place));
                return true;
            }

            @Override
            public FileInfo[] listed(String path, OpenDirectory directory, FileInfo[] entries) {
                if (path.equals(source)) {
                    // The root, opened by its path: the copy opens it again and checks it is this one.
                    Step root = steps.get(steps.size() - 1);
                    root.device = directory.device();
                    root.inode = directory.inode();
                }
                return entries;
            }

            @Override
            public void other(String path, FileInfo entry, TreeWalker.Place place) {
                add(path, targetOf(path), entry, place);
            }

            @Override
            public void leave(String path, FileInfo entry) {
                steps.add(new Step(Kind.DIRECTORY_DONE, path, targetOf(path), entry, null));
            }

            @Override
            public void unreadable(String path, IOException e) {
                Step directory = steps.get(lastDirectory(path));
                if (e instanceof ReplacedFileException) {
                    directory.replaced = true;
                } else {
                    // Said when the copy gets there, as GNU cp says it, after its directory is made.
                    directory.unreadable = true;
                    Step said = new Step(Kind.UNREADABLE, path, targetOf(path), null, null);
                    said.error = SystemError.keepNumber(e); // the run says it after other calls of the library
                    steps.add(said);
                }
                steps.add(new Step(Kind.DIRECTORY_DONE, path, targetOf(path), null, null));
            }

            private String targetOf(String path) {
                return path.equals(source) ? target
                        : PathNames.withSlash(target) + path.substring(PathNames.withSlash(source).length());
            }
        });
    }

    /** The index of the last directory step of {@code path}. */
    private int lastDirectory(String path) {
        for (int i = steps.size() - 1; i >= 0; i--) {
            if (steps.get(i).kind == Kind.DIRECTORY && steps.get(i).source.equals(path)) {
                return i;
            }
        }
        throw new IllegalStateException("no directory step for " + path);
    }

    /** A step for a file that is no directory, by what its own record (not its link's target) says. */
    private void add(String source, String target, FileInfo info, TreeWalker.Place place) {
        if (info.isSymbolicLink()) {
            steps.add(new Step(Kind.LINK, source, target, info, place));
        } else if (FileType.of(info, "", source) == FileType.REGULAR) {
            steps.add(new Step(Kind.FILE, source, target, info, place));
            total += info.getSize();
        } else {
            steps.add(new Step(Kind.SPECIAL, source, target, info, place));
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
}
