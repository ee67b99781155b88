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
}
