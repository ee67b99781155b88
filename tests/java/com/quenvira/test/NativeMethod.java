package com.quenvira.test;

import com.quenvira.interfaces.ISyncProgressMonitor;
import com.quenvira.internal.io.BaseFileSystem;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Set;
import java.util.concurrent.ConcurrentHashMap;
import org.eclipse.core.runtime.IProgressMonitor;

/**
 * The native methods of {@link BaseFileSystem}, one constant each, for the Java
 * code that must call every one of them (the stress runner, the OSGi bundle):
 * each call is ticked off in a {@link Calls}, which names those never made.
 * {@link #mismatches()} checks the table against the class by reflection.
 */
public enum NativeMethod {
    INIT_STATIC("nInitStatic"),
    GET_FILE_INFO("nGetFileInfo", String.class, String.class, int.class),
    LIST_FILE_INFOS("nListFileInfos", String.class, int.class, IProgressMonitor.class, int.class),
    SET_FILE_INFO("nSetFileInfo", String.class, int.class, long.class, long.class, long.class, int.class),
    READ_SYMBOLIC_LINK("nReadSymbolicLink", String.class),
    CREATE_SYMBOLIC_LINK("nCreateSymbolicLink", String.class, String.class),
    COPY_FILE_CALLBACK("nCopyFileCallback", String.class, String.class, int.class, ISyncProgressMonitor.class),
    COMPARE_BYTE_BY_BYTE("nCompareByteByByte", String.class, String.class, IProgressMonitor.class),
    GET_USER("nGetUser", Object.class, int.class),
    GET_GROUP("nGetGroup", Object.class, int.class);

    private final String methodName;
    private final Class<?>[] parameters;

    NativeMethod(String methodName, Class<?>... parameters) {
        this.methodName = methodName;
        this.parameters = parameters;
    }

    public String methodName() {
        return methodName;
    }

    /** The names of BaseFileSystem's native methods, found by reflection. */
    public static String[] declaredNatives() {
        return Arrays.stream(BaseFileSystem.class.getDeclaredMethods())
                .filter(m -> Modifier.isNative(m.getModifiers()))
                .map(Method::getName)
                .sorted()
                .toArray(String[]::new);
    }

    /**
     * What differs between this table and BaseFileSystem's native methods (by
     * name and parameter types), one line each; empty when they are the same.
     */
    public static String mismatches() {
        List<String> lines = new ArrayList<>();
        for (NativeMethod entry : values()) {
            if (!entry.isDeclared()) {
                lines.add(entry.methodName + Arrays.toString(entry.parameters) + " is no native method of the class");
            }
        }
        for (Method method : BaseFileSystem.class.getDeclaredMethods()) {
            if (Modifier.isNative(method.getModifiers()) && !inTable(method)) {
                lines.add(method + " is not in the table");
            }
        }
        return String.join("\n", lines);
    }

    private boolean isDeclared() {
        try {
            return Modifier.isNative(BaseFileSystem.class.getDeclaredMethod(methodName, parameters).getModifiers());
        } catch (NoSuchMethodException e) {
            return false;
        }
    }

    private static boolean inTable(Method method) {
        return Arrays.stream(values()).anyMatch(entry -> entry.methodName.equals(method.getName())
                && Arrays.equals(entry.parameters, method.getParameterTypes()));
    }

    /** The native methods called so far, from any thread. */
    public static final class Calls {
        private final Set<NativeMethod> made = ConcurrentHashMap.newKeySet();

        public void made(NativeMethod method) {
            made.add(method);
        }

        /** The native methods never called, in table order. */
        public List<NativeMethod> missing() {
            List<NativeMethod> missing = new ArrayList<>();
            for (NativeMethod method : values()) {
                if (!made.contains(method)) {
                    missing.add(method);
                }
            }
            return missing;
        }
    }
}
