package com.quenvira.tools;

/** Paths taken apart and joined as the commands name what they create and list. */
final class PathNames {
    private PathNames() {
    }

    /** The directory with one slash after it, ready for a name. */
    static String withSlash(String dir) {
        return dir.endsWith("/") ? dir : dir + "/";
    }

    /** The last component of a path, trailing slashes ignored ("c" of "a/b/c/"). */
    static String baseName(String path) {
        String trimmed = path;
        while (trimmed.length() > 1 && trimmed.endsWith("/")) {
            trimmed = trimmed.substring(0, trimmed.length() - 1);
        }
        return trimmed.substring(trimmed.lastIndexOf('/') + 1);
    }
}
