package com.quenvira.bench;

import java.util.List;

/**
 * One piece of work that every contender does: figures are per {@code unit}, of which
 * one run does {@code unitsPerRun}, as time per unit or, for {@code throughput}, units per second.
 */
record Scenario(String title, String unit, double unitsPerRun, boolean throughput, List<Contender> contenders) {
}
