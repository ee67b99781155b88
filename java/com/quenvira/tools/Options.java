package com.quenvira.tools;

import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/**
 * Short options (flags, and options with a value) anywhere among the
 * operands, as GNU getopt takes them; "--" ends the options. The only long
 * option is --help, which {@link BaseFs} answers before this parse.
 */
final class Options {
    private final String flags;
    private final Map<Character, String> values;
    final List<String> operands;

    private Options(String flags, Map<Character, String> values, List<String> operands) {
        this.flags = flags;
        this.values = values;
        this.operands = operands;
    }

    /** Parses {@code args}, with {@code knownFlags} and the options {@code withValue} that take a value. */
    static Options parse(List<String> args, String knownFlags, String withValue) {
        StringBuilder flags = new StringBuilder();
        Map<Character, String> values = new HashMap<>();
        List<String> operands = new ArrayList<>();
        for (int i = 0; i < args.size(); i++) {
            String arg = args.get(i);
            if (arg.equals("--")) {
                operands.addAll(args.subList(i + 1, args.size()));
                break;
            }
            if (!arg.startsWith("-") || arg.equals("-")) {
                operands.add(arg);
                continue;
            }
            if (arg.startsWith("--")) {
                throw new UsageError("unrecognized option " + Quoting.shellEscapeAlways(arg));
            }
            for (int k = 1; k < arg.length(); k++) {
                char c = arg.charAt(k);
                if (withValue.indexOf(c) >= 0) {
                    String value = k + 1 < arg.length() ? arg.substring(k + 1)
                            : i + 1 < args.size() ? args.get(++i) : null;
                    if (value == null) {
                        throw new UsageError("option requires an argument -- "
                                + Quoting.shellEscapeAlways(String.valueOf(c)));
                    }
                    values.put(c, value);
                    break;
                }
                if (knownFlags.indexOf(c) < 0) {
                    throw new UsageError("invalid option -- " + Quoting.shellEscapeAlways(String.valueOf(c)));
                }
                flags.append(c);
            }
        }
        return new Options(flags.toString(), values, operands);
    }

    boolean has(char flag) {
        return flags.indexOf(flag) >= 0;
    }

    String value(char option) {
        return values.get(option);
    }

    void requireOperands(int minimum, String problem) {
        if (operands.size() < minimum) {
            throw new UsageError(problem);
        }
    }
}
