package com.quenvira.test;

import com.quenvira.interfaces.ISyncProgressMonitor;
import org.eclipse.core.runtime.IProgressMonitor;

/** Monitors that implement exactly one of the two monitor interfaces. */
public final class Monitors {
    private Monitors() {
    }

    /** A cancel check that never cancels; it is no ISyncProgressMonitor. */
    public static IProgressMonitor neverCanceled() {
        return () -> false;
    }

    /** A progress monitor that always goes on; it is no IProgressMonitor. */
    public static ISyncProgressMonitor alwaysContinue() {
        return bytes -> true;
    }
}
