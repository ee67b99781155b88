package org.eclipse.core.runtime;

/**
 * The part of the Eclipse runtime's progress monitor that the native library
 * calls. Applications running inside Eclipse have the real interface; this
 * stand-in lets the library run without it.
 */
public interface IProgressMonitor {
    /** @return true when the operation should stop */
    boolean isCanceled();
}
