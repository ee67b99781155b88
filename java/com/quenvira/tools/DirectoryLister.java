package com.quenvira.tools;

import com.quenvira.internal.io.OpenDirectory;
import com.quenvira.internal.io.ReplacedFileException;
import com.quenvira.io.FileInfo;
import java.io.IOException;
import java.util.ArrayList;
import java.util.List;

/**
 * The directories a walk from one ls operand meets ({@link TreeWalker}): the
 * operand alone without -R, else each subdirectory shown, depth first, each
 * listed through its own descriptor as {@link Listing} lays it out.
 */
final class DirectoryLister implements TreeWalker.Visitor {
    private final Listing listing;
    private final Messages messages;
    private final String operand;
    private final boolean headers;
    private final boolean recursive;
    int status;

    DirectoryLister(Listing listing, Messages messages, String operand, boolean headers, boolean recursive) {
        this.listing = listing;
        this.messages = messages;
        this.operand = operand;
        this.headers = headers;
        this.recursive = recursive;
    }

    @Override
    public boolean enter(String path, FileInfo info, TreeWalker.Place place) {
        return true;
    }

    @Override
    public FileInfo[] listed(String path, OpenDirectory directory, FileInfo[] entries) {
        List<FileInfo> shown = new ArrayList<>(entries.length);
        for (FileInfo entry : entries) {
            if (listing.shows(entry)) {
                shown.add(entry);
            }
        }
        status = Math.max(status, listing.listDirectory(path, directory, shown, headers));
        // GNU ls -R walks into the directories it has shown, "." and ".." never.
        return recursive ? shown.toArray(new FileInfo[0]) : new FileInfo[0];
    }

    @Override
    public void unreadable(String path, IOException e) {
        // Messages write out what was listed first: the message comes after it, as GNU's does.
        if (e instanceof ReplacedFileException) {
            messages.replaced(path, "listed");
        } else {
            messages.fail("cannot open directory", path, e);
        }
        status = Math.max(status, path.equals(operand) ? Listing.SERIOUS_TROUBLE : Listing.MINOR_TROUBLE);
    }
}
