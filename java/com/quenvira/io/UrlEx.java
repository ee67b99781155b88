package com.quenvira.io;

/** A location and its last-modified time. Resolved by the native library, never built by it. */
public final class UrlEx {
    private final String url;
    private final long modified;

    /**
     * Makes a location.
     *
     * @param url the location's text
     * @param modified its last-modified time in milliseconds since the epoch
     */
    public UrlEx(String url, long modified) {
        this.url = url;
        this.modified = modified;
    }

    /**
     * Returns the location.
     *
     * @return the location's text, as given
     */
    public String getUrl() {
        return url;
    }

    /**
     * Returns the last-modified time.
     *
     * @return milliseconds since the epoch, as given
     */
    public long getModified() {
        return modified;
    }

    @Override
    public String toString() {
        return "UrlEx[url=" + url + ", modified=" + modified + "]";
    }
}
