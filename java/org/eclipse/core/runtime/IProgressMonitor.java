package org.eclipse.core.runtime;

/**
 * The part of the Eclipse runtime's progress monitor that the native library
 * calls. Applications running inside Eclipse have the real interface; this
 * stand-in lets the library run without it.
 */
public interface IProgressMonitor {
    /**
     * Asked by a listing between entries and by a comparison after each block.
     *
     * @return true when the operation should stop
     */
    boolean isCanceled();
}
