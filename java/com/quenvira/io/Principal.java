package com.quenvira.io;

/** A user or group name, together with the object the caller asked on behalf of. */
public final class Principal {
    private final Object owner;
    private final String name;

    /**
     * Makes a principal; the native library calls this for every name it looks up.
     *
     * @param owner the object the caller passed to the lookup, possibly null
     * @param name the user or group name
     */
    public Principal(Object owner, String name) {
        this.owner = owner;
        this.name = name;
    }

    /**
     * Returns the object the lookup was made for.
     *
     * @return the object passed to the lookup, unchanged (possibly null)
     */
    public Object getOwner() {
        return owner;
    }

    /**
     * Returns the name.
     *
     * @return the user or group name
     */
    public String getName() {
        return name;
    }

    @Override
    public String toString() {
        return "Principal[name=" + name + "]";
    }
}
