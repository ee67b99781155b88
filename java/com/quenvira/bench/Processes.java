package com.quenvira.bench;

import java.io.IOException;

/** Commands of the system (mkfs.xfs, mount, cp, sync) run to their end, their output discarded. */
final class Processes {
    private Processes() {
    }

    /** Whether the command ran and exited with status 0. */
    static boolean tryCommand(String... command) throws IOException {
        Process process = new ProcessBuilder(command).redirectErrorStream(true)
                .redirectOutput(ProcessBuilder.Redirect.DISCARD).start();
        try {
            return process.waitFor() == 0;
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            return false;
        }
    }

    /** Runs the command; throws when it fails. */
    static void command(String... command) throws IOException {
        if (!tryCommand(command)) {
            throw new IOException("failed: " + String.join(" ", command));
        }
    }
}
