package com.quenvira.tools;

import java.util.List;

/**
 * One of the tool's commands: what it prints to, the words it fails in, its
 * run over the arguments after its name, and its --help text.
 */
abstract class Command {
    final Output out;
    final Messages messages;
    private boolean interrupted;

    Command(Output out, Messages messages) {
        this.out = out;
        this.messages = messages;
    }

    /** Runs the command; returns its exit status, or throws {@link UsageError} for arguments given wrongly. */
    abstract int run(List<String> args);

    /** What `basefs COMMAND --help` prints: the synopsis and each option in a line, as GNU's --help does. */
    abstract String usage();

    /** Whether a usage error's pointer to the help starts with the program's name, as diffutils' does. */
    boolean namesProgramInTryHelp() {
        return false;
    }

    /** Whether the user's Ctrl-C ended the command: the JVM is then already exiting with the signal's status. */
    final boolean interrupted() {
        return interrupted;
    }

    final void markInterrupted() {
        interrupted = true;
    }

    /** A name in output GNU prints raw (stat, readlink, cmp): quoted on a terminal if it holds a control character. */
    final String printed(String name) {
        return out.isTerminal() ? Quoting.shellEscapeIfUnprintable(name) : name;
    }
}
