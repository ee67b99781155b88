package com.quenvira.tools;

import com.quenvira.internal.io.BaseFileSystem;
import java.io.PrintStream;
import java.io.UncheckedIOException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * basefs: coreutils-like commands over the native library, one class per
 * command; this class picks the command, answers --help and --version, and
 * turns what happened into the exit status. Every file-system operation is one
 * call of a {@link BaseFileSystem} native method; the JDK is asked only what
 * the library does not say (the type of a special file, which operand a
 * failure was about, where two files differ).
 */
public final class BaseFs {
    static final String PROGRAM = "basefs";
    static final int EXIT_OK = 0;
    static final int EXIT_FAILURE = 1;
    static final int EXIT_TROUBLE = 2;
    static final int EXIT_INTERRUPTED = 130;
    /** What a shell reports for a process that SIGPIPE ended: 128 + 13. */
    static final int EXIT_BROKEN_PIPE = 141;
    private static final String USAGE = """
            Usage: basefs COMMAND [OPTION]... [ARGUMENT]...
              or:  basefs --version
            Coreutils-like commands over the basefs native library.

            Commands:
              cmp       compare two files byte by byte
              chmod     change the mode of files
              cp        copy files inside the kernel
              group     print the names of numeric group IDs
              ln        make symbolic links
              ls        list directory contents
              readlink  print the value of a symbolic link or a canonical file name
              stat      display file status
              touch     change file timestamps
              user      print the names of numeric user IDs
              watch     print the changes under a directory as they happen

            'basefs COMMAND --help' describes a command and its options.
                  --help      display this help and exit
                  --version   output version information and exit
            """;

    private final Output out;
    private final Messages messages;
    private final PrintStream progressOut;
    private final boolean interactive;
    private boolean interrupted;

    BaseFs(Output out, Output err, PrintStream progressOut, boolean interactive) {
        this.out = out;
        this.messages = new Messages(err, out);
        this.progressOut = progressOut;
        this.interactive = interactive;
    }

    public static void main(String[] args) {
        if (args.length == 1 && args[0].equals("--version")) {
            // Needs no library: the versions come from the jars' manifests.
            System.out.println(version());
            return;
        }
        Output err = Output.standardError();
        try {
            BaseFileSystem.nInitStatic();
        } catch (UnsatisfiedLinkError e) {
            // The library's own message says what was tried and what to change; a stack adds nothing.
            new Messages(err, null).complain(e.getMessage());
            System.exit(EXIT_TROUBLE);
        }
        Output out = Output.standardOutput();
        // Progress only for a person watching standard error; never into a pipe or a file.
        BaseFs tool = new BaseFs(out, err, System.err, err.isTerminal());
        int status;
        try {
            status = tool.run(args);
            out.flush();
        } catch (UncheckedIOException e) {
            // Standard output is closed or full; GNU tools die of SIGPIPE or say "write error".
            String reason = SystemError.reason(e.getCause());
            if ("Broken pipe".equals(reason)) {
                status = EXIT_BROKEN_PIPE;
            } else {
                tool.messages.complain("write error: " + reason);
                status = troubleStatus(args.length > 0 ? args[0] : "");
            }
        }
        if (!tool.interrupted) {
            // After Ctrl-C the JVM is already shutting down with the signal's status.
            System.exit(status);
        }
    }

    /** The tool's version and that of the library jar it runs with, as their manifests give them. */
    static String version() {
        return PROGRAM + " " + versionOf(BaseFs.class) + "\nlibrary " + versionOf(BaseFileSystem.class);
    }

    private static String versionOf(Class<?> c) {
        String version = c.getPackage().getImplementationVersion();
        return version != null ? version : "(unknown version)";
    }

    /** Runs the command that {@code args} name; returns the exit status. */
    int run(String[] args) {
        if (args.length == 0) {
            return messages.usage(EXIT_TROUBLE, "missing command");
        }
        String name = args[0];
        List<String> rest = new ArrayList<>(Arrays.asList(args).subList(1, args.length));
        if (name.equals("help") && !rest.isEmpty()) {
            // "basefs help cp" is "basefs cp --help".
            name = rest.get(0);
            rest = List.of("--help");
        } else if (name.equals("help") || name.equals("--help") || name.equals("-h")) {
            out.print(USAGE);
            return EXIT_OK;
        }
        Command command = command(name);
        if (command == null) {
            return messages.usage(EXIT_TROUBLE, "unknown command " + Quoting.shellEscapeAlways(name));
        }
        if (asksForHelp(rest)) {
            out.print(command.usage());
            return EXIT_OK;
        }
        try {
            return command.run(rest);
        } catch (UsageError e) {
            return messages.usage(troubleStatus(name), e.getMessage(), command.namesProgramInTryHelp());
        } finally {
            interrupted = command.interrupted();
        }
    }

    /** The command of that name, or null for none. */
    private Command command(String name) {
        switch (name) {
            case "ls": return new Ls(out, messages);
            case "stat": return new Stat(out, messages);
            case "touch": return new Touch(out, messages);
            case "chmod": return new Chmod(out, messages);
            case "ln": return new Ln(out, messages);
            case "readlink": return new Readlink(out, messages);
            case "user": return new Principals(out, messages, true);
            case "group": return new Principals(out, messages, false);
            case "cp": return new Cp(out, messages, progressOut, interactive);
            case "cmp": return new Cmp(out, messages, progressOut, interactive);
            case "watch": return new Watch(out, messages);
            default: return null;
        }
    }

    /** Whether --help comes before any "--". */
    private static boolean asksForHelp(List<String> args) {
        int help = args.indexOf("--help");
        int end = args.indexOf("--");
        return help >= 0 && (end < 0 || help < end);
    }

    /** The status GNU's command gives for a usage error: 2 for ls and cmp, 1 for the others. */
    private static int troubleStatus(String command) {
        switch (command) {
            case "stat": case "touch": case "chmod": case "ln": case "readlink": case "user": case "group": case "cp":
                return EXIT_FAILURE;
            default:
                return EXIT_TROUBLE;
        }
    }
}
