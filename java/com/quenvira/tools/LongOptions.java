package com.quenvira.tools;

import java.util.ArrayList;
import java.util.List;
import java.util.Map;

/**
 * A command's GNU long options (--format=FMT, --format FMT, --verbose),
 * written as their short letters so that {@link Options} parses them with the
 * rest. Only full names are taken: GNU's abbreviations are not.
 */
final class LongOptions {
    private LongOptions() {
    }

    /**
     * {@code args} with each long option of {@code letters} (name to short
     * letter) replaced by its letter; a letter in {@code withValue} takes the
     * text after "=" or the next argument. Nothing after "--" is touched.
     */
    static List<String> toShort(List<String> args, Map<String, Character> letters, String withValue) {
        List<String> result = new ArrayList<>(args.size());
        for (int i = 0; i < args.size(); i++) {
            String arg = args.get(i);
            if (arg.equals("--")) {
                result.addAll(args.subList(i, args.size()));
                break;
            }
            if (!arg.startsWith("--")) {
                result.add(arg);
                continue;
            }
            int equals = arg.indexOf('=');
            String name = arg.substring(2, equals < 0 ? arg.length() : equals);
            Character letter = letters.get(name);
            if (letter == null) {
                result.add(arg); // Options names it as unrecognized
                continue;
            }
            boolean takesValue = withValue.indexOf(letter) >= 0;
            if (!takesValue && equals >= 0) {
                throw new UsageError("option '--" + name + "' doesn't allow an argument");
            }
            if (takesValue && equals < 0 && i + 1 == args.size()) {
                throw new UsageError("option '--" + name + "' requires an argument");
            }
            result.add("-" + letter);
            if (takesValue) {
                result.add(equals >= 0 ? arg.substring(equals + 1) : args.get(++i));
            }
        }
        return result;
    }
}
