package com.quenvira.io;

/** A user or group name, together with the object the caller asked on behalf of. */
public final class Principal {
    private final Object owner;
    private final String name;

    public Principal(Object owner, String name) {
        this.owner = owner;
        this.name = name;
    }

    /** The object passed to the lookup, unchanged. */
    public Object getOwner() {
        return owner;
    }

    public String getName() {
        return name;
    }

    @Override
    public String toString() {
        return "Principal[name=" + name + "]";
    }
}
