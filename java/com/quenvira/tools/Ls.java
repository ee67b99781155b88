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
}
