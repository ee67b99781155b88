package com.quenvira.tools;

import com.quenvira.interfaces.ISyncProgressMonitor;
import com.quenvira.internal.io.BaseFileSystem;
import java.io.PrintStream;
import java.util.Locale;
import org.eclipse.core.runtime.IProgressMonitor;

/**
 * Drives a progress line on standard error from the library's own callbacks
 * and stops the operation when the user interrupts it. The copy reports the
 * bytes each step spanned (1 MiB, or far more for a step over a hole), the
 * comparison asks once per 64 KiB block; both are added up to the known total
 * at most. A source of unknown size (a FIFO, a device, a /proc file) shows
 * the bytes so far and the rate, without a bar. The line is erased when the
 * operation ends, so that nothing of it stays on the terminal.
 */
final class Progress implements ISyncProgressMonitor, IProgressMonitor {
    static final long COMPARE_BLOCK_SIZE = BaseFileSystem.COMPARE_BLOCK_SIZE;
    /** What a caller gives for a total it cannot know. */
    static final long UNKNOWN_TOTAL = -1;
    private static final long REDRAW_INTERVAL_NANOS = 100_000_000L;
    private static final double NANOS_PER_SECOND = 1e9;
    private static final int BAR_WIDTH = 30;
    private static final int PERCENT = 100;
    private static final String ERASE_TO_END_OF_LINE = "\033[K";
    private static final String ERASE_LINE = "\r" + ERASE_TO_END_OF_LINE;

    private final String label;
    private final long total;
    private final boolean visible;
    private final PrintStream out;
    private final long started = System.nanoTime();
    private long done;
    private long lastDrawn;
    private boolean drawn;
    private volatile boolean stopRequested;

    /** {@code total}: the bytes the operation spans, or 0 or less where that is not known. */
    Progress(String label, long total, boolean visible, PrintStream out) {
        this.label = label;
        this.total = total > 0 ? total : UNKNOWN_TOTAL;
        this.visible = visible;
        this.out = out;
    }

    /** Asks the running operation to stop at its next callback. */
    void requestStop() {
        stopRequested = true;
    }

    boolean stopRequested() {
        return stopRequested;
    }

    @Override
    public boolean bytesTransferred(long bytes) {
        advance(bytes);
        return !stopRequested;
    }

    @Override
    public boolean isCanceled() {
        advance(COMPARE_BLOCK_SIZE);
        return stopRequested;
    }

    private synchronized void advance(long bytes) {
        done = added(done, Math.max(bytes, 0));
        long now = System.nanoTime();
        if (visible && !stopRequested && (now - lastDrawn >= REDRAW_INTERVAL_NANOS || done == total)) {
            lastDrawn = now;
            draw(now);
        }
    }

    /** {@code done} plus {@code bytes}, at most the total: a hole's step may report up to Long.MAX_VALUE. */
    private long added(long sum, long bytes) {
        long limit = total == UNKNOWN_TOTAL ? Long.MAX_VALUE : total;
        return bytes >= limit - sum ? limit : sum + bytes;
    }

    private void draw(long now) {
        double seconds = Math.max((now - started) / NANOS_PER_SECOND, 1e-3);
        double rate = done / seconds;
        // Carriage return to redraw in place; erase what a longer earlier line left.
        if (total == UNKNOWN_TOTAL) {
            out.printf(Locale.ROOT, "\r%s %s %s/s%s", label, formatBytes(done), formatBytes((long) rate),
                    ERASE_TO_END_OF_LINE);
        } else {
            int percent = (int) (done * PERCENT / total);
            int filled = percent * BAR_WIDTH / PERCENT;
            String bar = "#".repeat(filled) + " ".repeat(BAR_WIDTH - filled);
            String left = rate > 0 ? formatDuration((total - done) / rate) : "--:--";
            out.printf(Locale.ROOT, "\r%s [%s] %3d%% %s %s/s %s left%s", label, bar, percent, formatBytes(done),
                    formatBytes((long) rate), left, ERASE_TO_END_OF_LINE);
        }
        out.flush();
        drawn = true;
    }

    /** Erases the line, if one was drawn, and leaves the cursor where it began. */
    synchronized void finish() {
        if (drawn) {
            out.print(ERASE_LINE);
            out.flush();
            drawn = false;
        }
    }

    static String formatBytes(long bytes) {
        String[] units = {"B", "KiB", "MiB", "GiB", "TiB"};
        double value = bytes;
        int unit = 0;
        while (value >= 1024 && unit < units.length - 1) {
            value /= 1024;
            unit++;
        }
        return unit == 0 ? bytes + " B" : String.format(Locale.ROOT, "%.1f %s", value, units[unit]);
    }

    private static String formatDuration(double seconds) {
        long whole = (long) Math.ceil(seconds);
        return String.format(Locale.ROOT, "%d:%02d", whole / 60, whole % 60);
    }
}
