package com.quenvira.io;

import com.quenvira.internal.io.BaseFileSystem;

/**
 * The host's UrlEx for the initialisation race test, put ahead of the real one
 * on the class path: its static initialiser runs on the thread that resolves
 * it during nInitStatic and calls nInitStatic again, which must return at once.
 */
public final class UrlEx {
    /** Set once the nested call has returned. */
    public static volatile boolean nestedCallReturned;

    static {
        BaseFileSystem.nInitStatic();
        nestedCallReturned = true;
    }

    private final String url;
    private final long modified;

    public UrlEx(String url, long modified) {
        this.url = url;
        this.modified = modified;
    }

    public String getUrl() {
        return url;
    }

    public long getModified() {
        return modified;
    }
}
