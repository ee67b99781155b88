package com.quenvira.tools;

/** A command given wrongly: reported in one line and a pointer to the help. */
final class UsageError extends RuntimeException {
    private static final long serialVersionUID = 1L;

    UsageError(String problem) {
        super(problem, null, false, false);
    }
}
