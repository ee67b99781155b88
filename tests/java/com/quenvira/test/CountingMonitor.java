package com.quenvira.test;

import com.quenvira.interfaces.ISyncProgressMonitor;
import org.eclipse.core.runtime.IProgressMonitor;

/** A monitor of one thread: counts what it is asked and told, never stops. */
final class CountingMonitor implements IProgressMonitor, ISyncProgressMonitor {
    int cancelChecks;
    int steps;
    long bytes;

    @Override
    public boolean isCanceled() {
        cancelChecks++;
        return false;
    }

    @Override
    public boolean bytesTransferred(long count) {
        steps++;
        bytes += count;
        return true;
    }

}
