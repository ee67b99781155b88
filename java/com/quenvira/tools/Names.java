package com.quenvira.tools;

import com.quenvira.internal.io.BaseFileSystem;
import java.io.IOException;
import java.util.HashMap;
import java.util.Map;

/**
 * User and group names of numeric IDs, each looked up once per run through
 * the library; an ID without a name is its number, as ls shows it. The last
 * ID asked is answered without a map look-up: a directory's entries mostly
 * share one owner.
 */
final class Names {
    private final boolean users;
    private final Map<Integer, String> names = new HashMap<>();
    private int lastId;
    private String lastName;

    private Names(boolean users) {
        this.users = users;
    }

    static Names ofUsers() {
        return new Names(true);
    }

    static Names ofGroups() {
        return new Names(false);
    }

    String of(int id) {
        if (lastName != null && id == lastId) {
            return lastName;
        }
        String name = names.computeIfAbsent(id, this::lookUp);
        lastId = id;
        lastName = name;
        return name;
    }

    private String lookUp(int id) {
        try {
            return (users ? BaseFileSystem.nGetUser(this, id) : BaseFileSystem.nGetGroup(this, id)).getName();
        } catch (IOException e) {
            return Integer.toUnsignedString(id);
        }
    }
}
