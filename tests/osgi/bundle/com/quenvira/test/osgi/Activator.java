package com.quenvira.test.osgi;

import java.util.Dictionary;
import java.util.Hashtable;
import java.util.concurrent.Callable;
import org.osgi.framework.BundleActivator;
import org.osgi.framework.BundleContext;
import org.osgi.framework.ServiceRegistration;

/**
 * Offers the checks of {@link EntryPoints} as a {@code Callable<String>} service,
 * a type the launcher outside the framework shares with the bundle (java.*).
 */
public final class Activator implements BundleActivator {
    /** The service property the launcher looks the checks up by. */
    static final String SERVICE_FILTER_KEY = "basefs.test";
    static final String SERVICE_FILTER_VALUE = "entry-points";

    private ServiceRegistration<?> registration;

    @Override
    public void start(BundleContext context) {
        Dictionary<String, Object> properties = new Hashtable<>();
        properties.put(SERVICE_FILTER_KEY, SERVICE_FILTER_VALUE);
        Callable<String> checks = () -> new EntryPoints().run();
        registration = context.registerService(Callable.class.getName(), checks, properties);
    }

    @Override
    public void stop(BundleContext context) {
        registration.unregister();
    }
}
