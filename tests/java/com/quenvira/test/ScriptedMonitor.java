package com.quenvira.test;

import com.quenvira.interfaces.ISyncProgressMonitor;
import java.util.ArrayList;
import java.util.List;
import org.eclipse.core.runtime.IProgressMonitor;

/**
 * A monitor for tests: counts its calls, records the byte counts it is told,
 * asks to stop from call {@code stopAtCall} on and throws at call
 * {@code throwAtCall} (both 1-based; 0 means never).
 */
public final class ScriptedMonitor implements IProgressMonitor, ISyncProgressMonitor {
    private final int stopAtCall;
    private final int throwAtCall;
    private final List<Long> bytes = new ArrayList<>();
    private int calls;

    public ScriptedMonitor(int stopAtCall, int throwAtCall) {
        this.stopAtCall = stopAtCall;
        this.throwAtCall = throwAtCall;
    }

    @Override
    public synchronized boolean isCanceled() {
        return nextCallStops();
    }

    @Override
    public synchronized boolean bytesTransferred(long count) {
        bytes.add(count);
        return !nextCallStops();
    }

    public synchronized int calls() {
        return calls;
    }

    public synchronized long[] bytesReported() {
        return bytes.stream().mapToLong(Long::longValue).toArray();
    }

    private boolean nextCallStops() {
        calls++;
        if (calls == throwAtCall) {
            throw new IllegalStateException("monitor failed");
        }
        return stopAtCall != 0 && calls >= stopAtCall;
    }

    @Override
    public synchronized String toString() {
        return "ScriptedMonitor[calls=" + calls + ", stopAtCall=" + stopAtCall + ", throwAtCall=" + throwAtCall + "]";
    }
}
