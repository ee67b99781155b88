package com.quenvira.test.osgi;

import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.HashMap;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Map;
import java.util.ServiceLoader;
import java.util.Set;
import java.util.concurrent.Callable;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.stream.Stream;
import org.osgi.framework.Bundle;
import org.osgi.framework.BundleContext;
import org.osgi.framework.BundleException;
import org.osgi.framework.Constants;
import org.osgi.framework.FrameworkEvent;
import org.osgi.framework.ServiceReference;
import org.osgi.framework.launch.Framework;
import org.osgi.framework.launch.FrameworkFactory;
import org.osgi.framework.wiring.BundleRevision;
import org.osgi.framework.wiring.BundleWiring;
import org.osgi.framework.wiring.FrameworkWiring;

/**
 * Starts Equinox from plain Java through the standard launch API, with a storage
 * directory of its own under a fresh temporary directory; installs equinox.common,
 * the project's bundles (the natives fragments of every platform the build made:
 * only this platform's may resolve) and the test bundle; runs the test bundle's checks of
 * every entry point; checks that the library is mapped from the framework's
 * storage; updates and refreshes com.quenvira.basefs and runs the checks again
 * in its new class loader. Ends with "N passed, N failed".
 *
 * <p>Usage: EquinoxLauncher EQUINOX_COMMON_JAR BUNDLE_JAR... (the test bundle last)
 */
public final class EquinoxLauncher {
    private static final String LIBRARY_BUNDLE = "com.quenvira.basefs";
    /** The natives fragments are LIBRARY_BUNDLE.OS.ARCH, in the framework's names of both. */
    private static final String NATIVES_PREFIX = LIBRARY_BUNDLE + ".";
    private static final long TIMEOUT_SECONDS = 120;

    private int passed;
    private int failed;

    private EquinoxLauncher() {
    }

    public static void main(String[] args) throws Exception {
        EquinoxLauncher launcher = new EquinoxLauncher();
        Path work = Files.createTempDirectory("basefs-equinox-");
        try {
            launcher.run(work, args);
        } finally {
            delete(work);
        }
        System.out.println(launcher.passed + " passed, " + launcher.failed + " failed");
        System.exit(launcher.failed == 0 && launcher.passed > 0 ? 0 : 1);
    }

    private void check(String what, boolean ok) {
        if (ok) {
            passed++;
            System.out.println("ok: " + what);
        } else {
            failed++;
            System.out.println("FAILED: " + what);
        }
    }

    private void run(Path work, String[] jars) throws Exception {
        // The real path, as /proc/self/maps names the files mapped from it.
        Path storage = work.toRealPath().resolve("storage");
        Map<String, String> configuration = new HashMap<>();
        configuration.put(Constants.FRAMEWORK_STORAGE, storage.toString());
        configuration.put(Constants.FRAMEWORK_STORAGE_CLEAN, Constants.FRAMEWORK_STORAGE_CLEAN_ONFIRSTINIT);
        FrameworkFactory factory = ServiceLoader.load(FrameworkFactory.class).iterator().next();
        Framework framework = factory.newFramework(configuration);
        framework.init();
        try {
            framework.start();
            runInside(framework, storage, jars);
        } finally {
            framework.stop();
            framework.waitForStop(TimeUnit.SECONDS.toMillis(TIMEOUT_SECONDS));
        }
    }

    private void runInside(Framework framework, Path storage, String[] jars) throws Exception {
        BundleContext context = framework.getBundleContext();
        System.out.println("framework: " + framework.getSymbolicName() + " " + framework.getVersion()
                + ", java " + System.getProperty("java.version") + ", storage " + storage);
        List<Bundle> bundles = new ArrayList<>();
        for (String jar : jars) {
            bundles.add(context.installBundle(Paths.get(jar).toUri().toString()));
        }
        Bundle library = null;
        for (Bundle bundle : bundles) {
            if (bundle.getSymbolicName().equals(LIBRARY_BUNDLE)) {
                library = bundle;
            }
        }
        check("com.quenvira.basefs is installed", library != null);
        FrameworkWiring wiring = framework.adapt(FrameworkWiring.class);
        wiring.resolveBundles(bundles);
        String platformNatives = NATIVES_PREFIX + context.getProperty("osgi.os") + "." + context.getProperty("osgi.arch");
        boolean resolved = true;
        int nativesResolved = 0;
        for (Bundle bundle : bundles) {
            String name = bundle.getSymbolicName();
            boolean isResolved = (bundle.getState() & (Bundle.RESOLVED | Bundle.STARTING | Bundle.ACTIVE)) != 0;
            boolean isNatives = isFragment(bundle) && name.startsWith(NATIVES_PREFIX);
            if (isNatives && !name.equals(platformNatives)) {
                // Eclipse-PlatformFilter keeps another platform's fragment out.
                check("not resolved on this platform: " + name, !isResolved);
                continue;
            }
            nativesResolved += isNatives && isResolved ? 1 : 0;
            resolved &= isResolved;
            check("resolved: " + name + " " + bundle.getVersion()
                    + (isResolved ? "" : " (" + whyUnresolved(bundle) + ")"), isResolved);
        }
        check("the natives fragment of this platform, " + platformNatives + ", is resolved", nativesResolved == 1);
        if (!resolved || library == null) {
            return;
        }
        Bundle testBundle = bundles.get(bundles.size() - 1);
        testBundle.start();

        Set<String> first = runChecks(context, "first class loader");
        Set<String> fromStorage = underStorage(first, storage);
        check("the library is mapped from the framework's storage: " + first, fromStorage.size() == 1
                && fromStorage.equals(first));

        // Kept, so that the first loader, and the library bound to it, stay alive:
        // the new loader must get a library file of its own.
        ClassLoader firstLoader = library.adapt(BundleWiring.class).getClassLoader();
        try (InputStream in = Files.newInputStream(Paths.get(jars[indexOf(bundles, library)]))) {
            library.update(in);
        }
        refresh(wiring, library);
        ClassLoader secondLoader = library.adapt(BundleWiring.class).getClassLoader();
        check("com.quenvira.basefs has a new class loader after update and refresh",
                secondLoader != null && secondLoader != firstLoader);
        check("the test bundle is active again", testBundle.getState() == Bundle.ACTIVE);

        Set<String> second = runChecks(context, "after update and refresh");
        Set<String> added = new LinkedHashSet<>(second);
        added.removeAll(first);
        check("the new class loader's library is a new file from the framework's storage: " + added,
                added.size() == 1 && underStorage(added, storage).equals(added));
        check("the first loader's library is still mapped: " + first, second.containsAll(first));
        System.out.println("first loader kept: " + firstLoader);
    }

    private static int indexOf(List<Bundle> bundles, Bundle bundle) {
        return bundles.indexOf(bundle);
    }

    /** Runs the test bundle's checks; returns the libbasefs.so files mapped afterwards. */
    private Set<String> runChecks(BundleContext context, String round) throws Exception {
        System.out.println("--- checks in the test bundle, " + round);
        ServiceReference<?>[] references = context.getServiceReferences(Callable.class.getName(),
                "(basefs.test=entry-points)");
        Set<String> mapped = new LinkedHashSet<>();
        if (references == null || references.length != 1) {
            check("the test bundle offers its checks", false);
            return mapped;
        }
        Callable<?> checks = (Callable<?>) context.getService(references[0]);
        try {
            for (String line : ((String) checks.call()).split("\n")) {
                if (line.startsWith("mapped: ")) {
                    mapped.add(line.substring("mapped: ".length()));
                } else {
                    check(line.replaceFirst("^(ok|FAILED): ", ""), line.startsWith("ok: "));
                }
            }
        } finally {
            context.ungetService(references[0]);
        }
        return mapped;
    }

    private static Set<String> underStorage(Set<String> paths, Path storage) {
        Set<String> inside = new LinkedHashSet<>();
        for (String path : paths) {
            if (path.startsWith(storage + "/")) {
                inside.add(path);
            }
        }
        return inside;
    }

    /** Refreshes the bundle and waits for the framework to say it is done. */
    private void refresh(FrameworkWiring wiring, Bundle bundle) throws InterruptedException {
        CountDownLatch done = new CountDownLatch(1);
        List<Throwable> errors = new ArrayList<>();
        wiring.refreshBundles(List.of(bundle), event -> {
            if (event.getType() == FrameworkEvent.ERROR) {
                errors.add(event.getThrowable());
            }
            if (event.getType() == FrameworkEvent.PACKAGES_REFRESHED) {
                done.countDown();
            }
        });
        check("refreshBundles reports PACKAGES_REFRESHED", done.await(TIMEOUT_SECONDS, TimeUnit.SECONDS));
        check("refreshBundles without an error " + errors, errors.isEmpty());
    }

    private static boolean isFragment(Bundle bundle) {
        return (bundle.adapt(BundleRevision.class).getTypes() & BundleRevision.TYPE_FRAGMENT) != 0;
    }

    private static String whyUnresolved(Bundle bundle) {
        if (isFragment(bundle)) {
            return "a fragment that attached to no host";
        }
        try {
            bundle.start(Bundle.START_TRANSIENT);
            return "started only now";
        } catch (BundleException e) {
            return e.getMessage();
        }
    }

    private static void delete(Path dir) throws IOException {
        try (Stream<Path> all = Files.walk(dir)) {
            for (Path p : (Iterable<Path>) all.sorted(Comparator.reverseOrder())::iterator) {
                Files.delete(p);
            }
        }
    }
}
