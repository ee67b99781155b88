package com.quenvira.tools;

import com.quenvira.internal.io.BaseFileSystem;
import com.quenvira.io.FileInfoEx;
import java.io.IOException;
import java.time.Instant;
import java.time.LocalDateTime;
import java.time.ZoneId;
import java.time.format.DateTimeFormatter;
import java.util.List;
import java.util.Map;

/**
 * stat [-L] [-c FORMAT] PATH...: all the library knows of each path, in the
 * layout of GNU stat or in FORMAT's (see {@link StatFormat}); -L: of what a
 * link leads to.
 */
final class Stat extends Command {
    private static final int EVERYTHING = BaseFileSystem.INFO_ACCESSED | BaseFileSystem.INFO_OWNER
            | BaseFileSystem.INFO_GROUP;
    private static final Map<String, Character> LONG_OPTIONS = Map.of("dereference", 'L', "format", 'c');
    private static final DateTimeFormatter FULL_TIME_FORMAT = DateTimeFormatter.ofPattern("yyyy-MM-dd HH:mm:ss");

    private final Names userNames = Names.ofUsers();
    private final Names groupNames = Names.ofGroups();

    Stat(Output out, Messages messages) {
        super(out, messages);
    }

    @Override
    int run(List<String> args) {
        Options options = Options.parse(LongOptions.toShort(args, LONG_OPTIONS, "c"), "L", "c");
        options.requireOperands(1, "missing operand");
        StatFormat format = null;
        if (options.value('c') != null) {
            try {
                format = StatFormat.parse(options.value('c'));
            } catch (IllegalArgumentException e) {
                messages.complain(e.getMessage());
                return BaseFs.EXIT_FAILURE;
            }
        }
        int status = BaseFs.EXIT_OK;
        for (String path : options.operands) {
            String examined;
            FileInfoEx info;
            try {
                examined = options.has('L') ? followed(path) : path;
                info = (FileInfoEx) BaseFileSystem.nGetFileInfo(examined, PathNames.baseName(path), EVERYTHING);
            } catch (IOException e) {
                status = messages.fail("cannot statx", path, e); // GNU stat 9.1 names the call it makes
                continue;
            }
            FileType type = FileType.of(info, "", examined);
            if (format != null) {
                out.println(format.render(printed(path), info, type));
            } else {
                print(path, info, type);
            }
        }
        return status;
    }

    /** stat -L: the file the links starting at {@code path} end in; a link leading nowhere is a missing file. */
    private static String followed(String path) throws IOException {
        String target = Links.finalTarget(path);
        if (target == null) {
            throw SystemError.of(SystemError.ENOENT);
        }
        return target;
    }

    private void print(String path, FileInfoEx info, FileType type) {
        String description = StatFormat.typeWords(info, type);
        out.print("  File: ").print(printed(path));
        if (info.isSymbolicLink()) {
            out.print(" -> ").print(printed(Links.shownTarget(path)));
        }
        out.println();
        out.print("  Type: ").print(description).print(info.isHidden() ? ", hidden" : "");
        out.print("   Size: ").print(info.getSize());
        if (type.isDevice()) {
            out.print("   Device type: ").print(type.major()).print(',').print(type.minor());
        }
        out.println();
        out.print("  Mode: (").print(String.format("%04o", ModeFormat.octalMode(info.getAttributes())))
                .print('/').print(ModeFormat.modeString(type.letter, info.getAttributes()))
                .print(")  Uid: (").print(Integer.toUnsignedString(info.getOwner())).print('/')
                .print(userNames.of(info.getOwner())).print(")  Gid: (")
                .print(Integer.toUnsignedString(info.getGroup())).print('/')
                .print(groupNames.of(info.getGroup())).println(")");
        out.print("Access: ").println(formatTime(info.getAccessed()));
        out.print("Modify: ").println(formatTime(info.getModified()));
    }

    private static String formatTime(long millis) {
        return LocalDateTime.ofInstant(Instant.ofEpochMilli(millis), ZoneId.systemDefault()).format(FULL_TIME_FORMAT);
    }

    @Override
    String usage() {
        return """
                Usage: basefs stat [OPTION]... FILE...
                Display file status.

                  -L              follow links
                  -c FORMAT       use the specified FORMAT instead of the default;
                                    output a newline after each use of FORMAT
                      --help      display this help and exit

                The valid format sequences for files:

                  %a   permission bits in octal
                  %A   permission bits and file type in human readable form
                  %F   file type
                  %g   group ID of owner
                  %G   group name of owner
                  %n   file name
                  %s   total size, in bytes
                  %u   user ID of owner
                  %U   user name of owner
                  %x   time of last access, human-readable
                  %X   time of last access, seconds since Epoch
                  %y   time of last data modification, human-readable
                  %Y   time of last data modification, seconds since Epoch

                Other sequences are reported as unsupported.
                """;
    }
}
