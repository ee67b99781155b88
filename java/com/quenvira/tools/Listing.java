package com.quenvira.tools;

import com.quenvira.internal.io.BaseFileSystem;
import com.quenvira.internal.io.OpenDirectory;
import com.quenvira.io.FileInfo;
import com.quenvira.io.FileInfoEx;
import java.io.IOException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.List;

/**
 * ls: operands that are not directories first, then each directory, sorted
 * by name, in GNU ls's layout; with -R each directory's subdirectories after
 * it, depth first, never through a symbolic link; with -d directories are
 * listed as the files they are. The long format is built without format
 * strings: a directory of 50,000 entries spends its time in the library. On a
 * terminal names are quoted as GNU ls quotes them there; elsewhere they are
 * printed as they are.
 */
final class Listing {
    private static final int OWNER_AND_GROUP = BaseFileSystem.INFO_OWNER | BaseFileSystem.INFO_GROUP;
    private static final Comparator<FileInfo> BY_NAME = new ByName();
    private static final int TENS = 10;

    /** ls's exit statuses: 1 for an entry that could not be shown, 2 for an operand. */
    static final int MINOR_TROUBLE = 1;
    static final int SERIOUS_TROUBLE = 2;

    private final Output out;
    private final Messages messages;
    private final boolean longFormat;
    private final boolean numeric;
    private final boolean showAll;
    private final boolean showAlmostAll;
    private final boolean recursive;
    private final boolean directoriesAsFiles;
    private final Names users = Names.ofUsers();
    private final Names groups = Names.ofGroups();
    private final MinuteFormat minutes = new MinuteFormat();
    private boolean printedSomething;
    private String cachedMode;
    private char cachedModeLetter;
    private int cachedModeAttributes;

    /** The choices of ls's options: -l, -n, -a, -A, -R and -d. */
    static final class Choices {
        boolean longFormat;
        boolean numeric;
        boolean showAll;
        boolean showAlmostAll;
        boolean recursive;
        boolean directoriesAsFiles;
    }

    Listing(Output out, Messages messages, Choices choices) {
        this.out = out;
        this.messages = messages;
        this.longFormat = choices.longFormat;
        this.numeric = choices.numeric;
        this.showAll = choices.showAll;
        this.showAlmostAll = choices.showAlmostAll;
        // -d lists a directory as itself: there is nothing to recurse into, as GNU ls has it.
        this.recursive = choices.recursive && !choices.directoriesAsFiles;
        this.directoriesAsFiles = choices.directoriesAsFiles;
    }

    /** Lists the operands; returns ls's exit status. */
    int list(List<String> operands) {
        int status = 0;
        List<FileInfo> files = new ArrayList<>();
        List<String> directories = new ArrayList<>();
        for (String operand : operands) {
            FileInfo info;
            try {
                info = BaseFileSystem.nGetFileInfo(operand, operand, longFormat ? OWNER_AND_GROUP : 0);
            } catch (IOException e) {
                messages.fail("cannot access", operand, e);
                status = SERIOUS_TROUBLE;
                continue;
            }
            // Without -l a link to a directory on the command line is followed, as GNU ls does.
            if (directoriesAsFiles) {
                files.add(info);
            } else if (info.isDirectory() || (!longFormat && info.isSymbolicLink() && isDirectory(operand))) {
                directories.add(operand);
            } else {
                files.add(info);
            }
        }
        FileInfo[] fileArray = files.toArray(new FileInfo[0]);
        Arrays.sort(fileArray, BY_NAME);
        print(fileArray, "", null);
        directories.sort(Comparator.naturalOrder());
        boolean headers = operands.size() > 1 || recursive;
        TreeWalker walker = new TreeWalker(longFormat ? OWNER_AND_GROUP : 0);
        for (String directory : directories) {
            DirectoryLister lister = new DirectoryLister(this, messages, directory, headers, recursive);
            walker.walk(directory, null, true, lister);
            status = Math.max(status, lister.status);
        }
        return status;
    }

    /** Whether an entry of a directory is shown: a hidden one with -a or -A only. */
    boolean shows(FileInfo entry) {
        return showAll || showAlmostAll || !entry.isHidden();
    }

    /**
     * Prints a directory's header when asked and the entries {@code visible} of it, with . and
     * .. for -a, each examined and each link read through the directory's descriptor {@code open}.
     */
    int listDirectory(String directory, OpenDirectory open, List<FileInfo> visible, boolean header) {
        String prefix = PathNames.withSlash(directory);
        int status = 0;
        int mask = longFormat ? OWNER_AND_GROUP : 0;
        List<FileInfo> shown = new ArrayList<>(visible.size() + 2);
        if (showAll) {
            for (String dot : new String[] {".", ".."}) {
                try {
                    shown.add(dot.equals(".") ? open.info(dot, mask) : open.entryInfo(dot, mask));
                } catch (IOException e) {
                    messages.fail("cannot access", prefix + dot, e);
                    status = MINOR_TROUBLE;
                }
            }
        }
        shown.addAll(visible);
        FileInfo[] sorted = shown.toArray(new FileInfo[0]);
        Arrays.sort(sorted, BY_NAME);
        if (header) {
            if (printedSomething) {
                out.println();
            }
            out.print(shown(directory)).println(":");
            printedSomething = true;
        }
        print(sorted, prefix, open);
        return status;
    }

    /** Prints records whose paths are {@code prefix} followed by their names, in {@code open} when not null. */
    private void print(FileInfo[] entries, String prefix, OpenDirectory open) {
        if (entries.length == 0) {
            return;
        }
        printedSomething = true;
        if (!longFormat) {
            for (FileInfo entry : entries) {
                out.println(shown(entry.getName()));
            }
            return;
        }
        int count = entries.length;
        String[] names = new String[count];
        boolean someQuoted = false;
        for (int i = 0; i < count; i++) {
            names[i] = shown(entries[i].getName());
            someQuoted |= !names[i].equals(entries[i].getName());
        }
        FileType[] types = FileType.ofAll(entries, prefix);
        String[] owners = new String[count];
        String[] groupNames = new String[count];
        int ownerWidth = 0;
        int groupWidth = 0;
        int sizeWidth = 0;
        int majorWidth = 0;
        int minorWidth = 0;
        for (int i = 0; i < count; i++) {
            FileInfo entry = entries[i];
            FileType type = types[i];
            owners[i] = owner(entry);
            groupNames[i] = group(entry);
            ownerWidth = Math.max(ownerWidth, owners[i].length());
            groupWidth = Math.max(groupWidth, groupNames[i].length());
            if (type.isDevice()) {
                majorWidth = Math.max(majorWidth, digits(type.major()));
                minorWidth = Math.max(minorWidth, digits(type.minor()));
                sizeWidth = Math.max(sizeWidth, majorWidth + 2 + minorWidth);
            } else {
                sizeWidth = Math.max(sizeWidth, digits(entry.getSize()));
            }
        }
        for (int i = 0; i < count; i++) {
            FileInfo entry = entries[i];
            FileType type = types[i];
            out.print(modeString(type.letter, entry.getAttributes())).print(' ');
            out.print(owners[i]).spaces(ownerWidth - owners[i].length() + 1);
            out.print(groupNames[i]).spaces(groupWidth - groupNames[i].length() + 1);
            if (type.isDevice()) {
                // GNU ls: "major, minor" right-aligned in the size column, each part padded.
                out.spaces(sizeWidth - (majorWidth + 2 + minorWidth) + majorWidth - digits(type.major()));
                out.print(type.major()).print(", ").spaces(minorWidth - digits(type.minor())).print(type.minor());
            } else {
                out.spaces(sizeWidth - digits(entry.getSize())).print(entry.getSize());
            }
            out.print(' ').print(minutes.format(entry.getModified())).print(' ');
            if (someQuoted && names[i].equals(entry.getName())) {
                out.print(' '); // lines up with the quoted names' text, as GNU ls does
            }
            out.print(names[i]);
            if (entry.isSymbolicLink()) {
                out.print(" -> ").print(shown(linkTarget(open, prefix, entry.getName())));
            }
            out.println();
        }
    }

    /** The mode string, made again only when it differs from the last entry's (entries mostly share one). */
    private String modeString(char letter, int attributes) {
        if (cachedMode == null || letter != cachedModeLetter || attributes != cachedModeAttributes) {
            cachedMode = ModeFormat.modeString(letter, attributes);
            cachedModeLetter = letter;
            cachedModeAttributes = attributes;
        }
        return cachedMode;
    }

    /** A link's target as ls shows it ("?" when it cannot be read), read in its open directory when there is one. */
    private static String linkTarget(OpenDirectory open, String prefix, String name) {
        if (open == null) {
            return Links.shownTarget(prefix.isEmpty() ? name : prefix + name);
        }
        try {
            return open.readLink(name);
        } catch (IOException e) {
            return "?";
        }
    }

    private String owner(FileInfo entry) {
        int id = entry instanceof FileInfoEx ? ((FileInfoEx) entry).getOwner() : 0;
        return numeric ? Integer.toUnsignedString(id) : users.of(id);
    }

    private String group(FileInfo entry) {
        int id = entry instanceof FileInfoEx ? ((FileInfoEx) entry).getGroup() : 0;
        return numeric ? Integer.toUnsignedString(id) : groups.of(id);
    }

    private static boolean isDirectory(String path) {
        try {
            return BaseFileSystem.nGetFileInfo(PathNames.withSlash(path), path, 0).isDirectory();
        } catch (IOException e) {
            return false;
        }
    }

    /** A name as this listing prints it: quoted on a terminal, as it is elsewhere. */
    private String shown(String name) {
        return out.isTerminal() ? Quoting.shellEscape(name) : name;
    }

    /** Names in UTF-16 order; a class of its own, which the client compiler calls directly, unlike a key extractor. */
    private static final class ByName implements Comparator<FileInfo> {
        @Override
        public int compare(FileInfo first, FileInfo second) {
            return first.getName().compareTo(second.getName());
        }
    }

    /** Decimal digits of a number, with the sign of a negative one. */
    static int digits(long value) {
        if (value < 0) {
            return Long.toString(value).length();
        }
        int digits = 1;
        for (long rest = value / TENS; rest != 0; rest /= TENS) {
            digits++;
        }
        return digits;
    }
}
