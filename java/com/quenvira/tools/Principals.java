package com.quenvira.tools;

import com.quenvira.internal.io.BaseFileSystem;
import com.quenvira.io.Principal;
import java.io.IOException;
import java.util.List;

/** user ID..., group ID...: the name of each numeric user or group ID, as the library looks it up. */
final class Principals extends Command {
    private final boolean users;
    private final String kind;

    /** The user command when {@code users}, else the group command. */
    Principals(Output out, Messages messages, boolean users) {
        super(out, messages);
        this.users = users;
        this.kind = users ? "user" : "group";
    }

    @Override
    int run(List<String> args) {
        Options options = Options.parse(args, "", "");
        options.requireOperands(1, "missing operand");
        int[] ids = new int[options.operands.size()];
        for (int i = 0; i < ids.length; i++) {
            String text = options.operands.get(i);
            try {
                ids[i] = Integer.parseUnsignedInt(text);
            } catch (NumberFormatException e) {
                throw new UsageError("invalid " + kind + " ID: " + Quoting.shellEscapeAlways(text));
            }
        }
        int status = BaseFs.EXIT_OK;
        for (int i = 0; i < ids.length; i++) {
            status = Math.max(status, print(options.operands.get(i), ids[i]));
        }
        return status;
    }

    /** "ID NAME" on standard output; returns 1 when the ID has no name or cannot be looked up. */
    private int print(String text, int id) {
        try {
            Principal principal = users ? BaseFileSystem.nGetUser(this, id) : BaseFileSystem.nGetGroup(this, id);
            out.print(text).print(' ').println(principal.getName());
            return BaseFs.EXIT_OK;
        } catch (IOException e) {
            if (SystemError.number(e) == SystemError.NONE) {
                // "User does not exist": what id says of a name it cannot find.
                messages.complain(Quoting.shellEscapeAlways(text) + ": no such " + kind);
                return BaseFs.EXIT_FAILURE;
            }
            return messages.fail("cannot look up " + kind, text, e);
        }
    }

    @Override
    String usage() {
        return "Usage: basefs " + kind + " ID...\n"
                + "Print each numeric " + kind + " ID and the name the system gives it.\n"
                + "\n"
                + "      --help      display this help and exit\n";
    }
}
