package com.quenvira.tools;

import java.io.File;
import java.io.IOException;

/**
 * The tool's messages on standard error, each written at once, in GNU
 * coreutils' wording: "basefs: WHAT 'PATH': REASON", with the file names
 * quoted as coreutils quotes them in a message. What the command has
 * printed so far on standard output is written first, as GNU's error() does,
 * so that its lines and the messages come in the order they happened.
 */
final class Messages {
    private static final String TRY_HELP = "Try '" + BaseFs.PROGRAM + " --help' for more information.";

    private final Output err;
    private final Output out;

    /** Messages on {@code err}, flushing {@code out} (null for none) before each. */
    Messages(Output err, Output out) {
        this.err = err;
        this.out = out;
    }

    /** "basefs: MESSAGE". Synchronized: the interrupt hook may speak while the command does. */
    synchronized void complain(String message) {
        if (out != null) {
            out.flush();
        }
        err.print(BaseFs.PROGRAM).print(": ").println(message);
    }

    /** A usage error: one line naming the problem, one pointing to the help; returns {@code status}. */
    synchronized int usage(int status, String problem) {
        return usage(status, problem, false);
    }

    /** A usage error, with the program's name before the pointer to the help when {@code named} (diffutils'). */
    synchronized int usage(int status, String problem, boolean named) {
        complain(problem);
        if (named) {
            complain(TRY_HELP);
        } else {
            err.println(TRY_HELP);
        }
        return status;
    }

    /** "basefs: WHAT 'PATH': REASON", the way coreutils reports an operating-system error; returns 1. */
    int fail(String what, String path, IOException e) {
        complain(what + " " + Quoting.shellEscapeAlways(path) + ": " + SystemError.reason(e));
        return BaseFs.EXIT_FAILURE;
    }

    /** "basefs: WHAT 'PATH' DOING: REASON" ("cannot open 'x' for reading: Permission denied"); returns 1. */
    int fail(String what, String path, IOException e, String doing) {
        complain(what + " " + Quoting.shellEscapeAlways(path) + " " + doing + ": " + SystemError.reason(e));
        return BaseFs.EXIT_FAILURE;
    }

    /**
     * GNU cp's words for a file that another took the place of between the look and the act,
     * with the act named ("copied", "changed", "listed"); returns 1.
     */
    int replaced(String path, String act) {
        complain("skipping file " + Quoting.shellEscapeAlways(path) + ", as it was replaced while being " + act);
        return BaseFs.EXIT_FAILURE;
    }

    /** GNU cp's refusal of a destination that is a link leading nowhere; returns 1. */
    int notThroughDanglingLink(String path) {
        complain("not writing through dangling symlink " + Quoting.shellEscapeAlways(path));
        return BaseFs.EXIT_FAILURE;
    }

    /** GNU's words for a last operand that must be a directory and is not (a dangling link is not there); returns 1. */
    int targetNotDirectory(String target) {
        int reason = new File(target).exists() ? SystemError.ENOTDIR : SystemError.ENOENT;
        complain("target " + Quoting.shellEscapeAlways(target) + ": " + SystemError.text(reason));
        return BaseFs.EXIT_FAILURE;
    }
}
