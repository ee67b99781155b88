package com.quenvira.tools;

import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/**
 * On Ctrl-C the JVM runs its shutdown hooks: this one asks the running
 * operation to stop through its monitor and waits until it has returned, so
 * the native call ends cleanly before the JVM exits.
 */
final class InterruptHook {
    private static final long GRACE_SECONDS = 10;

    private final CountDownLatch finished = new CountDownLatch(1);
    private final Thread hook;

    private InterruptHook(Progress progress) {
        hook = new Thread(() -> {
            progress.requestStop();
            try {
                finished.await(GRACE_SECONDS, TimeUnit.SECONDS);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        }, "basefs-interrupt");
    }

    /** A hook, installed, that stops the operation {@code progress} monitors. */
    static InterruptHook install(Progress progress) {
        InterruptHook interruptHook = new InterruptHook(progress);
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
