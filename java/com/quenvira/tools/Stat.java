package com.quenvira.tools;

import com.quenvira.internal.io.BaseFileSystem;
import com.quenvira.io.FileInfoEx;
import java.io.IOException;
import java.time.Instant;
import java.time.LocalDateTime;
import java.time.ZoneId;
import java.time.format.DateTimeFormatter;
import java.util.List;

/** stat PATH...: all the library knows of each path, in the layout of GNU stat. */
final class Stat extends Command {
    private static final int EVERYTHING = BaseFileSystem.INFO_ACCESSED | BaseFileSystem.INFO_OWNER
            | BaseFileSystem.INFO_GROUP;
    private static final DateTimeFormatter FULL_TIME_FORMAT = DateTimeFormatter.ofPattern("yyyy-MM-dd HH:mm:ss");

    private final Names userNames = Names.ofUsers();
    private final Names groupNames = Names.ofGroups();

    Stat(Output out, Messages messages) {
        super(out, messages);
    }

    @Override
    int run(List<String> args) {
        Options options = Options.parse(args, "", "");
        options.requireOperands(1, "missing operand");
        int status = BaseFs.EXIT_OK;
        for (String path : options.operands) {
            FileInfoEx info;
            try {
                info = (FileInfoEx) BaseFileSystem.nGetFileInfo(path, PathNames.baseName(path), EVERYTHING);
            } catch (IOException e) {
                status = messages.fail("cannot statx", path, e); // GNU stat 9.1 names the call it makes
                continue;
            }
            print(path, info);
        }
        return status;
    }

    private void print(String path, FileInfoEx info) {
        FileType type = FileType.of(info, "", path);
        String description = type == FileType.REGULAR && info.getSize() == 0 ? "regular empty file" : type.description;
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
