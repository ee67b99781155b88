package com.quenvira.tools;

import java.util.List;

/** ls [-l] [-a|-A] [-n] [PATH...]: the operands, or the current directory, as {@link Listing} lists them. */
final class Ls extends Command {
    Ls(Output out, Messages messages) {
        super(out, messages);
    }

    @Override
    int run(List<String> args) {
        Options options = Options.parse(args, "laAn", "");
        List<String> operands = options.operands.isEmpty() ? List.of(".") : options.operands;
        Listing listing = new Listing(out, messages, options.has('l'), options.has('n'), options.has('a'),
                options.has('A'));
        return listing.list(operands);
    }

    @Override
    String usage() {
        return """
                Usage: basefs ls [OPTION]... [FILE]...
                List information about the FILEs (the current directory by default),
                sorted by name.

                  -a              do not ignore entries starting with .
                  -A              do not list implied . and ..
                  -d              list directories themselves, not their contents
                  -l              use a long listing format
                  -n              like -l, but list numeric user and group IDs
                  -R              list subdirectories recursively
                  -1              list one file per line
                      --help      display this help and exit
                """;
    }
}
