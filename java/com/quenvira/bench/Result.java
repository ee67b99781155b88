package com.quenvira.bench;

/** The times of one contender's runs in one scenario, in nanoseconds, sorted. */
record Result(Scenario scenario, Contender contender, long[] nanos) {
    private static final double NANOS_PER_SECOND = 1e9;
    private static final double NANOS_PER_MICRO = 1e3;

    long median() {
        return nanos[nanos.length / 2];
    }

    /** Microseconds per unit, or GiB per second for throughput scenarios. */
    double perUnit() {
        return scenario.throughput() ? scenario.unitsPerRun() / (median() / NANOS_PER_SECOND)
                : median() / NANOS_PER_MICRO / scenario.unitsPerRun();
    }
}
