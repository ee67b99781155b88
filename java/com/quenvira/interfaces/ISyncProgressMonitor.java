package com.quenvira.interfaces;

/** Receives the progress of a copy; answering false stops it. */
public interface ISyncProgressMonitor {
    /**
     * Called after each step of a copy.
     *
     * @param bytes the step size (1,048,576 bytes), also for a shorter last step
     * @return true to go on, false to stop the copy
     */
    boolean bytesTransferred(long bytes);
}
