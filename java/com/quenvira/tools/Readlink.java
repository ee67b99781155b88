package com.quenvira.tools;

import com.quenvira.internal.io.BaseFileSystem;
import java.io.IOException;
import java.util.List;

/**
 * readlink [-f] [-v] [-n] PATH...: prints each symbolic link's target (-f:
 * the canonical absolute path each path leads to, see {@link CanonicalPath}),
 * silent about failures unless -v.
 */
final class Readlink extends Command {
    Readlink(Output out, Messages messages) {
        super(out, messages);
    }

    @Override
    int run(List<String> args) {
        Options options = Options.parse(args, "fvqsn", "");
        options.requireOperands(1, "missing operand");
        boolean verbose = options.has('v') && !options.has('q') && !options.has('s');
        // -n leaves the newline out, for one operand only, as GNU readlink does.
        boolean newline = !options.has('n') || options.operands.size() > 1;
        if (options.has('n') && newline) {
            messages.complain("ignoring --no-newline with multiple arguments");
        }
        int status = BaseFs.EXIT_OK;
        for (String path : options.operands) {
            try {
                String shown = options.has('f') ? CanonicalPath.of(path) : BaseFileSystem.nReadSymbolicLink(path);
                out.print(printed(shown));
                if (newline) {
                    out.println();
                }
            } catch (IOException e) {
                // Like GNU readlink: silent unless -v, exit status 1 either way.
                if (verbose) {
                    messages.complain(Quoting.shellEscapeColon(path) + ": " + SystemError.reason(e));
                }
                status = BaseFs.EXIT_FAILURE;
            }
        }
        return status;
    }

    @Override
    String usage() {
        return """
                Usage: basefs readlink [OPTION]... FILE...
                Print the value of a symbolic link or canonical file name.

                  -f              canonicalize by following every symlink in every component
                                    of the given name recursively; all but the last component
                                    must exist
                  -n              do not output the trailing delimiter
                  -q, -s          suppress most error messages (on by default)
                  -v              report error messages
                      --help      display this help and exit
                """;
    }
}
