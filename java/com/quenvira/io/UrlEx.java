package com.quenvira.io;

/** A location and its last-modified time. Resolved by the native library, never built by it. */
public final class UrlEx {
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

    @Override
    public String toString() {
        return "UrlEx[url=" + url + ", modified=" + modified + "]";
    }
}
