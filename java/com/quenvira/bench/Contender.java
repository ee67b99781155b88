package com.quenvira.bench;

import java.io.IOException;

/** One way of doing a scenario's work: its name in the table, what is done untimed before each run, and the run. */
record Contender(String name, Contender.Preparation prepare, Contender.Operation operation) {
    /** One timed operation; returns a value that every contender of a scenario must agree on. */
    interface Operation {
        long run() throws IOException;
    }

    /** Work done before each timed run and not timed (removing an earlier copy). */
    interface Preparation {
        void run() throws IOException;
    }

    /** A contender that needs nothing done before its runs. */
    static Contender of(String name, Operation operation) {
        return new Contender(name, () -> { }, operation);
    }
}
