package com.quenvira.bench;

import java.io.PrintStream;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;

/** The measured results as a table of plain text or of Markdown, with the machine and the notes under it. */
final class Report {
    private static final String JDK_PREFIX = "JDK";
    private static final String C_PREFIX = "C ";
    private static final double NANOS_PER_MILLI = 1e6;
    private static final String[] HEADER = {"scenario", "contender", "median ms", "min ms", "max ms", "per unit",
        "× vs JDK", "× C cost"};

    private final Measurement measurement;
    private final Path root;
    private final boolean quick;

    /** The report of {@code measurement}, whose files were in {@code root}. */
    Report(Measurement measurement, Path root, boolean quick) {
        this.measurement = measurement;
        this.root = root;
        this.quick = quick;
    }

    void printTable(PrintStream out) {
        List<String[]> rows = rows();
        int[] widths = new int[HEADER.length];
        for (String[] row : concat(HEADER, rows)) {
            for (int i = 0; i < row.length; i++) {
                widths[i] = Math.max(widths[i], row[i].length());
            }
        }
        for (String[] row : concat(HEADER, rows)) {
            StringBuilder line = new StringBuilder();
            for (int i = 0; i < row.length; i++) {
                String cell = i < 2 ? pad(row[i], widths[i], false) : pad(row[i], widths[i], true);
                line.append(cell).append(i + 1 < row.length ? "  " : "");
            }
            out.println(line.toString().stripTrailing());
        }
        out.println(describeMachine());
        measurement.notes().forEach(out::println);
    }

    void printMarkdown(PrintStream out) {
        out.println("| " + String.join(" | ", HEADER) + " |");
        out.println("|---|---|" + "---:|".repeat(HEADER.length - 2));
        for (String[] row : rows()) {
            out.println("| " + String.join(" | ", row) + " |");
        }
        out.println();
        out.println(describeMachine());
        for (String note : measurement.notes()) {
            out.println();
            out.println(note);
        }
    }

    private List<String[]> rows() {
        List<String[]> rows = new ArrayList<>();
        for (Result result : measurement.results()) {
            Scenario scenario = result.scenario();
            Result jdk = find(scenario, JDK_PREFIX);
            Result floor = find(scenario, C_PREFIX);
            rows.add(new String[] {
                scenario.title(),
                result.contender().name(),
                millis(result.median()),
                millis(result.nanos()[0]),
                millis(result.nanos()[result.nanos().length - 1]),
                String.format(Locale.ROOT, "%.3f %s", result.perUnit(), scenario.unit()),
                // Above 1: faster than the JDK's first contender in this scenario.
                jdk == null ? "" : String.format(Locale.ROOT, "%.2f", (double) jdk.median() / result.median()),
                // Above 1: slower than the C loop (the floor).
                floor == null ? "" : String.format(Locale.ROOT, "%.2f", (double) result.median() / floor.median()),
            });
        }
        return rows;
    }

    /** The scenario's first contender whose name starts with {@code prefix}, or null. */
    private Result find(Scenario scenario, String prefix) {
        return measurement.results().stream()
                .filter(r -> r.scenario() == scenario && r.contender().name().startsWith(prefix))
                .findFirst().orElse(null);
    }

    private String describeMachine() {
        return String.format(Locale.ROOT, "%d rounds after %d warm-up runs; %d cores, %s %s, JDK %s, files in %s%s",
                measurement.rounds(), measurement.warmups(), Runtime.getRuntime().availableProcessors(),
                System.getProperty("os.name"), System.getProperty("os.version"), System.getProperty("java.version"),
                root.getParent(), quick ? " (--quick)" : "");
    }

    private static String millis(long nanos) {
        return String.format(Locale.ROOT, "%.2f", nanos / NANOS_PER_MILLI);
    }

    private static List<String[]> concat(String[] header, List<String[]> rows) {
        List<String[]> all = new ArrayList<>();
        all.add(header);
        all.addAll(rows);
        return all;
    }

    private static String pad(String text, int width, boolean right) {
        String space = " ".repeat(Math.max(0, width - text.length()));
        return right ? space + text : text + space;
    }
}
