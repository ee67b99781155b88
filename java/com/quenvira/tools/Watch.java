package com.quenvira.tools;

import com.quenvira.internal.io.WatchEvent;
import com.quenvira.internal.io.Watcher;
import java.io.IOException;
import java.util.List;
import java.util.Locale;

/**
 * watch [-f] [-c COUNT] DIR: prints each change under DIR as it is reported, one
 * line each ("created a/b", "moved-from x #5" paired by its number with its
 * "moved-to"), names quoted as ls quotes them; ends on Ctrl-C at once, or
 * after COUNT changes. A change that may hide others ("overflow",
 * "watch-limit", "unwatched", "root-gone") names what to rescan. -f asks for
 * one fanotify mark on the whole file system, and says why where it cannot.
 */
final class Watch extends Command {
    Watch(Output out, Messages messages) {
        super(out, messages);
    }

    @Override
    int run(List<String> args) {
        Options options = Options.parse(args, "f", "c");
        options.requireOperands(1, "missing operand");
        if (options.operands.size() > 1) {
            throw new UsageError("extra operand " + Quoting.shellEscapeAlways(options.operands.get(1)));
        }
        long count = count(options.value('c'));
        String root = options.operands.get(0);
        try (Watcher watcher = Watcher.open(root, options.has('f') ? Watcher.WHOLE_FILE_SYSTEM : 0)) {
            if (watcher.fallbackReason() != null) {
                messages.complain(watcher.fallbackReason());
            }
            // Ctrl-C ends a waiting poll at once; the JVM then exits with the signal's status.
            Thread hook = new Thread(watcher::wakeup, "basefs-watch-interrupt");
            Runtime.getRuntime().addShutdownHook(hook);
            messages.complain("watching " + Quoting.shellEscapeAlways(root));
            for (long printed = 0; printed < count;) {
                List<WatchEvent> events = watcher.poll(-1);
                for (int i = 0; i < events.size() && printed < count; i++, printed++) {
                    out.println(line(events.get(i)));
                }
                out.flush();
            }
            Runtime.getRuntime().removeShutdownHook(hook);
            return BaseFs.EXIT_OK;
        } catch (IOException e) {
            return messages.fail("cannot watch", root, e);
        }
    }

    private static long count(String value) {
        if (value == null) {
            return Long.MAX_VALUE;
        }
        try {
            long count = Long.parseLong(value);
            if (count > 0) {
                return count;
            }
        } catch (NumberFormatException e) {
            // said below
        }
        throw new UsageError("invalid count " + Quoting.shellEscapeAlways(value));
    }

    /** "created a/b/", "moved-to x #5", "overflow . (rescan)": a directory's path ends in '/'. */
    static String line(WatchEvent event) {
        String kind = event.kind().name().toLowerCase(Locale.ROOT).replace('_', '-');
        String path = event.path().isEmpty() ? "." : Quoting.shellEscape(event.path());
        StringBuilder line = new StringBuilder(kind).append(' ').append(path);
        if (event.isDirectory() && !event.path().isEmpty()) {
            line.append('/');
        }
        if (event.cookie() != 0) {
            line.append(" #").append(Integer.toUnsignedString(event.cookie()));
        }
        if (event.needsRescan()) {
            line.append(" (rescan)");
        }
        return line.toString();
    }

    @Override
    String usage() {
        return """
                Usage: basefs watch [-f] [-c COUNT] DIR
                Print each change under DIR as the kernel reports it, one line each,
                until interrupted. New directories are watched as they appear.

                  -c COUNT        exit after COUNT changes
                  -f              one fanotify mark on DIR's whole file system (needs
                                    CAP_SYS_ADMIN) instead of a watch per directory
                      --help      display this help and exit
                """;
    }
}
