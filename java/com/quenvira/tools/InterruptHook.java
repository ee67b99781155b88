package com.quenvira.tools;

import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/**
 * On Ctrl-C or SIGTERM the JVM runs its shutdown hooks and then exits with
 * 128 + the signal's number, as a shell reports a process the signal killed.
 * This hook asks the running operation to stop through its monitor, erases
 * its progress line, and waits a moment for the native call to return; an
 * operation blocked in the kernel (opening a FIFO that no one writes) never
 * asks its monitor, so the JVM exits without it. A destination the operation
 * may have left half written is then named on standard error.
 */
final class InterruptHook {
    /** A person who pressed Ctrl-C waits no longer than this for the prompt. */
    private static final long GRACE_MILLIS = 200;

    private final CountDownLatch finished = new CountDownLatch(1);
    private final Thread hook;

    private InterruptHook(Progress progress, Messages messages, String partial) {
        hook = new Thread(() -> {
            boolean unfinished = finished.getCount() > 0;
            progress.requestStop();
            progress.finish();
            try {
                finished.await(GRACE_MILLIS, TimeUnit.MILLISECONDS);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
            if (unfinished && partial != null) {
                messages.complain("interrupted; " + Quoting.shellEscapeAlways(partial) + " may be incomplete");
            }
        }, "basefs-interrupt");
    }

    /**
     * A hook, installed, that stops the operation {@code progress} monitors
     * and names {@code partial} (null for none) as what may be incomplete.
     */
    static InterruptHook install(Progress progress, Messages messages, String partial) {
        InterruptHook interruptHook = new InterruptHook(progress, messages, partial);
        Runtime.getRuntime().addShutdownHook(interruptHook.hook);
        return interruptHook;
    }

    /** Says that the operation has returned, and removes the hook. */
    void release() {
        finished.countDown();
        try {
            Runtime.getRuntime().removeShutdownHook(hook);
        } catch (IllegalStateException e) {
            // already shutting down: the hook has seen the operation finish
        }
    }
}
