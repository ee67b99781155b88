package com.quenvira.bench;

import java.io.IOException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * Times the scenarios: each warms up, then runs rounds in which every
 * contender runs once, in a rotating order; keeps the results and the notes
 * printed under them.
 */
final class Measurement {
    private final int warmups;
    private final int rounds;
    private final List<Result> results = new ArrayList<>();
    /** Lines printed under the table: space taken by copies, scenarios left out. */
    private final List<String> notes = new ArrayList<>();

    Measurement(int warmups, int rounds) {
        this.warmups = warmups;
        this.rounds = rounds;
    }

    int warmups() {
        return warmups;
    }

    int rounds() {
        return rounds;
    }

    List<Result> results() {
        return results;
    }

    List<String> notes() {
        return notes;
    }

    void note(String line) {
        notes.add(line);
    }

    void measure(Scenario scenario) throws IOException {
        System.err.println("measuring: " + scenario.title());
        List<Contender> contenders = scenario.contenders();
        long[] expected = {Long.MIN_VALUE};
        for (int i = 0; i < warmups; i++) {
            for (Contender contender : contenders) {
                timeOnce(scenario, contender, expected);
            }
        }
        long[][] samples = new long[contenders.size()][rounds];
        for (int round = 0; round < rounds; round++) {
            // Rotate the order so that no contender always runs after the same one.
            for (int k = 0; k < contenders.size(); k++) {
                int index = (k + round) % contenders.size();
                samples[index][round] = timeOnce(scenario, contenders.get(index), expected);
            }
        }
        for (int i = 0; i < contenders.size(); i++) {
            Arrays.sort(samples[i]);
            results.add(new Result(scenario, contenders.get(i), samples[i]));
        }
    }

    /** One untimed preparation and one timed run, whose value must match the scenario's first. */
    private static long timeOnce(Scenario scenario, Contender contender, long[] expected) throws IOException {
        contender.prepare().run();
        long start = System.nanoTime();
        long value = contender.operation().run();
        long elapsed = System.nanoTime() - start;
        if (expected[0] == Long.MIN_VALUE) {
            expected[0] = value;
        } else if (value != expected[0]) {
            throw new IllegalStateException(scenario.title() + ": " + contender.name() + " gave " + value
                    + ", expected " + expected[0]);
        }
        return elapsed;
    }
}
