package com.quenvira.tools;

import java.util.List;

/**
 * ls [-l] [-a|-A] [-n] [-R] [-d] [-1] [PATH...]: the operands, or the current
 * directory, as {@link Listing} lists them. Names are one per line always, so
 * -1 changes nothing.
 */
final class Ls extends Command {
    Ls(Output out, Messages messages) {
        super(out, messages);
    }

    @Override
    int run(List<String> args) {
        Options options = Options.parse(args, "laAnRd1", "");
        List<String> operands = options.operands.isEmpty() ? List.of(".") : options.operands;
        Listing.Choices choices = new Listing.Choices();
        choices.longFormat = options.has('l');
        choices.numeric = options.has('n');
        choices.showAll = options.has('a');
        choices.showAlmostAll = options.has('A');
        choices.recursive = options.has('R');
        choices.directoriesAsFiles = options.has('d');
        return new Listing(out, messages, choices).list(operands);
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
