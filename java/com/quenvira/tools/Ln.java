package com.quenvira.tools;

import com.quenvira.internal.io.BaseFileSystem;
import java.io.File;
import java.io.IOException;
import java.util.List;

/** ln -s TARGET [LINK|DIR], ln -s TARGET... DIR: creates symbolic links, the only kind the tool makes. */
final class Ln extends Command {
    Ln(Output out, Messages messages) {
        super(out, messages);
    }

    @Override
    int run(List<String> args) {
        Options options = Options.parse(args, "s", "");
        options.requireOperands(1, "missing file operand");
        if (!options.has('s')) {
            throw new UsageError("only symbolic links are supported: use ln -s");
        }
        List<String> operands = options.operands;
        if (operands.size() == 1) {
            return symlink(operands.get(0), PathNames.baseName(operands.get(0)));
        }
        String last = operands.get(operands.size() - 1);
        boolean intoDirectory = new File(last).isDirectory();
        if (operands.size() > 2 && !intoDirectory) {
            return messages.targetNotDirectory(last);
        }
        if (!intoDirectory) {
            return symlink(operands.get(0), last);
        }
        int status = BaseFs.EXIT_OK;
        for (String target : operands.subList(0, operands.size() - 1)) {
            status = Math.max(status, symlink(target, PathNames.withSlash(last) + PathNames.baseName(target)));
        }
        return status;
    }

    private int symlink(String target, String link) {
        try {
            BaseFileSystem.nCreateSymbolicLink(link, target);
            return BaseFs.EXIT_OK;
        } catch (IOException e) {
            return messages.fail("failed to create symbolic link", link, e);
        }
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
