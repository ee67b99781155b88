package com.quenvira.tools;

import com.quenvira.internal.io.BaseFileSystem;
import com.quenvira.io.FileInfo;
import java.io.IOException;

/**
 * readlink -f: the absolute path a name leads to, every symbolic link on the
 * way read through the library one component at a time, as GNU's
 * canonicalization does it. Every component must exist but the last.
 */
final class CanonicalPath {
    /** Where Linux shows a process's working directory as the bytes of its real path. */
    private static final String WORKING_DIRECTORY_LINK = "/proc/self/cwd";

    private CanonicalPath() {
    }

    /**
     * The canonical absolute path of {@code path}, without ".", ".." or links.
     *
     * @throws IOException when a component other than the last is missing, a
     *         non-directory has something after it, or the links loop
     */
    static String of(String path) throws IOException {
        if (path.isEmpty()) {
            throw SystemError.of(SystemError.ENOENT);
        }
        String resolved = path.startsWith("/") ? "" : withoutTrailingSlash(workingDirectory());
        String rest = path;
        int linksFollowed = 0;
        while (true) {
            int start = skipSlashes(rest);
            if (start == rest.length()) {
                break;
            }
            int end = rest.indexOf('/', start);
            end = end < 0 ? rest.length() : end;
            String component = rest.substring(start, end);
            rest = rest.substring(end);
            if (component.equals(".")) {
                continue;
            }
            if (component.equals("..")) {
                resolved = resolved.substring(0, Math.max(0, resolved.lastIndexOf('/')));
                continue;
            }
            String candidate = resolved + "/" + component;
            FileInfo info;
            try {
                info = BaseFileSystem.nGetFileInfo(candidate, component, 0);
            } catch (IOException e) {
                // Only the last may be missing; trailing slashes do not make another component.
                if (SystemError.number(e) == SystemError.ENOENT && skipSlashes(rest) == rest.length()) {
                    resolved = candidate;
                    continue;
                }
                throw e;
            }
            if (info.isSymbolicLink()) {
                if (++linksFollowed > Links.MAX_LINKS_FOLLOWED) {
                    throw SystemError.of(SystemError.ELOOP);
                }
                String target = BaseFileSystem.nReadSymbolicLink(candidate);
                resolved = target.startsWith("/") ? "" : resolved;
                rest = target + rest;
                continue;
            }
            if (!info.isDirectory() && !rest.isEmpty()) {
                throw SystemError.of(SystemError.ENOTDIR);
            }
            resolved = candidate;
        }
        return resolved.isEmpty() ? "/" : resolved;
    }

    /** The real path of the working directory, its bytes kept as the library gives them. */
    private static String workingDirectory() {
        try {
            return BaseFileSystem.nReadSymbolicLink(WORKING_DIRECTORY_LINK);
        } catch (IOException e) {
            return System.getProperty("user.dir"); // no /proc mounted: the JVM's own getcwd at start
        }
    }

    private static String withoutTrailingSlash(String directory) {
        return directory.endsWith("/") ? directory.substring(0, directory.length() - 1) : directory;
    }

    /** Where the first component of {@code text} starts: after its leading slashes. */
    private static int skipSlashes(String text) {
        int at = 0;
        while (at < text.length() && text.charAt(at) == '/') {
            at++;
        }
        return at;
    }
}
