package com.quenvira.tools;

import com.quenvira.interfaces.ISyncProgressMonitor;

/**
 * One file's part of the tree's bar: the copy reports whole steps, also
 * for a file shorter than a step, so each file adds its own size at most,
 * and exactly that once its copy has ended.
 */
final class FileShare implements ISyncProgressMonitor {
    final Progress progress;
    private long left;

    FileShare(Progress progress, long size) {
        this.progress = progress;
        this.left = size;
    }

    @Override
    public boolean bytesTransferred(long bytes) {
        long counted = Math.min(Math.max(bytes, 0), left);
        left -= counted;
        return progress.bytesTransferred(counted);
    }

    void settle() {
        if (left > 0) {
            progress.bytesTransferred(left);
            left = 0;
        }
    }
}
