package com.quenvira.tools;

import com.quenvira.internal.io.BaseFileSystem;
import java.io.IOException;
import java.util.List;

/** chmod MODE PATH...: sets each path's permissions from an octal MODE. */
final class Chmod extends Command {
    Chmod(Output out, Messages messages) {
        super(out, messages);
    }

    @Override
    int run(List<String> args) {
        Options options = Options.parse(args, "", "");
        options.requireOperands(1, "missing operand");
        options.requireOperands(2, "missing operand after " + Quoting.shellEscapeAlways(options.operands.get(0)));
        int attributes;
        try {
            attributes = ModeFormat.attributesOfOctal(options.operands.get(0));
        } catch (IllegalArgumentException e) {
            throw new UsageError(e.getMessage());
        }
        int status = BaseFs.EXIT_OK;
        for (String path : options.operands.subList(1, options.operands.size())) {
            try {
                BaseFileSystem.nSetFileInfo(path, BaseFileSystem.INFO_ATTRIBUTES, 0, 0, 0, attributes);
            } catch (IOException e) {
                // GNU chmod looks the file up first: only a refused change is "changing permissions".
                int number = SystemError.number(e);
                boolean refused = number == SystemError.EPERM || number == SystemError.EROFS;
                status = messages.fail(refused ? "changing permissions of" : "cannot access", path, e);
            }
        }
        return status;
    }

    @Override
    String usage() {
        return """
                Usage: basefs chmod [OPTION]... MODE[,MODE]... FILE...
                  or:  basefs chmod [OPTION]... OCTAL-MODE FILE...
                Change the mode of each FILE to MODE.

                  -R              change files and directories recursively
                      --help      display this help and exit

                Each MODE is of the form '[ugoa]*[-+=][rwxXst]*', several separated by
                commas (u+x,go-w), or an octal number (755).
                """;
    }
}
