package com.quenvira.tools;

import com.quenvira.internal.io.BaseFileSystem;
import java.io.BufferedInputStream;
import java.io.ByteArrayOutputStream;
import java.io.EOFException;
import java.io.FileInputStream;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.io.PrintStream;
import java.io.PrintWriter;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.TimeZone;

/**
 * The tool's commands run one after another in one JVM, for the command-line
 * checks: each request names its arguments, and the command's standard output,
 * standard error and both as they were written are left in files beside the
 * FIFOs, then its status is written. A check pays for a command, not a JVM.
 *
 * <p>Usage: CommandServer DIRECTORY, where DIRECTORY holds the FIFOs
 * "requests" (the time zone, empty for the system's, the argument count, then
 * each argument, each ended by a NUL; a count of -1 ends the server) and
 * "replies" (the status and a newline). The JVM starts without TZ.
 */
public final class CommandServer {
    private CommandServer() {
    }

    public static void main(String[] args) throws IOException {
        Path directory = Paths.get(args[0]);
        BaseFileSystem.nInitStatic();
        TimeZone systemZone = TimeZone.getDefault();
        try (InputStream requests = new BufferedInputStream(new FileInputStream(directory.resolve("requests").toFile()));
                OutputStream replies = new FileOutputStream(directory.resolve("replies").toFile())) {
            while (true) {
                String zone = word(requests);
                int count = Integer.parseInt(word(requests));
                if (count < 0) {
                    return;
                }
                String[] arguments = new String[count];
                for (int i = 0; i < count; i++) {
                    arguments[i] = word(requests);
                }
                TimeZone.setDefault(zone.isEmpty() ? systemZone : TimeZone.getTimeZone(zone));
                Transcript transcript = new Transcript();
                int status = run(arguments, transcript);
                Files.write(directory.resolve("out"), transcript.out.toByteArray());
                Files.write(directory.resolve("err"), transcript.err.toByteArray());
                Files.write(directory.resolve("both"), transcript.both.toByteArray());
                replies.write((status + "\n").getBytes(StandardCharsets.US_ASCII));
            }
        }
    }

    /** The next word, up to its NUL, decoded as the launcher's JVM decodes arguments (C.UTF-8). */
    private static String word(InputStream in) throws IOException {
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        for (int b = in.read(); b != 0; b = in.read()) {
            if (b < 0) {
                throw new EOFException("the requests ended inside one");
            }
            bytes.write(b);
        }
        return bytes.toString(StandardCharsets.UTF_8);
    }

    /** What BaseFs.main does with a command, its streams being the transcript's. */
    private static int run(String[] args, Transcript transcript) {
        Output out = new Output(transcript.stream(transcript.out), false);
        Output err = new Output(transcript.stream(transcript.err), true);
        PrintStream progress = new PrintStream(transcript.stream(transcript.err), true, StandardCharsets.UTF_8);
        BaseFs tool = new BaseFs(out, err, progress, false);
        try {
            int status = tool.run(args);
            out.flush();
            return status;
        } catch (RuntimeException e) {
            // What the JVM prints for an uncaught exception, and its status.
            e.printStackTrace(new PrintWriter(transcript.stream(transcript.err), true, StandardCharsets.UTF_8));
            return 1;
        }
    }

    /** Standard output and standard error apart, and together in the order they were written. */
    private static final class Transcript {
        final ByteArrayOutputStream out = new ByteArrayOutputStream();
        final ByteArrayOutputStream err = new ByteArrayOutputStream();
        final ByteArrayOutputStream both = new ByteArrayOutputStream();

        OutputStream stream(ByteArrayOutputStream own) {
            return new OutputStream() {
                @Override
                public void write(int b) {
                    own.write(b);
                    both.write(b);
                }

                @Override
                public void write(byte[] bytes, int offset, int length) {
                    own.write(bytes, offset, length);
                    both.write(bytes, offset, length);
                }
            };
        }
    }
}
