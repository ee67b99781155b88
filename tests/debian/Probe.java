import com.quenvira.internal.io.BaseFileSystem;
import com.quenvira.io.FileInfo;
import java.nio.file.Files;
import java.nio.file.Paths;

/**
 * A plain Java program on the packaged jars alone: it lists a directory and
 * prints the file the library was mapped from, which must be the packaged one.
 */
public final class Probe {
    private Probe() {
    }

    public static void main(String[] args) throws Exception {
        BaseFileSystem.nInitStatic();
        FileInfo[] entries = BaseFileSystem.nListFileInfos(args[0], 0, null, 0);
        System.out.println("entries " + entries.length);
        Files.readAllLines(Paths.get("/proc/self/maps")).stream()
                .filter(line -> line.contains("libbasefs"))
                .map(line -> "mapped " + line.substring(line.indexOf('/')))
                .distinct()
                .forEach(System.out::println);
    }
}
