package com.quenvira.interfaces;

/** Receives the progress of a copy; answering false stops it. */
public interface ISyncProgressMonitor {
    /**
     * Called after each step of a copy.
     *
     * @param bytes the step size (the library's {@code COPY_STEP_SIZE}), also for a shorter last
     *        step, or the whole span of a step that ends beyond a hole
     * @return true to go on, false to stop the copy
     */
    boolean bytesTransferred(long bytes);
}
