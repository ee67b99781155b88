// A watcher's other source of events: one fanotify mark on the root's whole
// file system (CAP_SYS_ADMIN), which reports each change with its directory's
// file handle and the entry's name: no watch per directory, so no limit to
// reach and nothing to register. Changes outside the root are dropped.
#ifndef BASEFS_WATCH_FANOTIFY_H
#define BASEFS_WATCH_FANOTIFY_H

#include "WatchTree.h"

namespace basefs {

class FanotifySource : NonCopyable {
public:
    ~FanotifySource();

    // Marks the file system of the directory open as rootFd (which stays the
    // caller's). On failure returns false with a reason for the caller, who
    // watches by inotify instead.
    bool open(int rootFd, const char **reason);
    int fd() const { return fd_; }

    // Reads everything queued and adds the changes below the root to events.
    // Returns false with errno set when the queue cannot be read.
    bool readQueued(WatchEvents &events, bool &rootGone);

private:
    const char *mark(int rootFd);
    void release();
    void handle(const char *event, size_t length, WatchEvents &events, bool &rootGone);
    bool pathBelowRoot(const void *handle, const char *name, Growable<char> &path, bool &isRootItself);

    int fd_ = -1;
    int mountFd_ = -1;         // any descriptor on the file system, for open_by_handle_at
    char *rootPath_ = nullptr; // the root's absolute path, as /proc names it
    size_t rootLength_ = 0;
    char *rootName_ = nullptr; // its last component, for its own deletion or move
    Growable<char> parentHandle_;
    Growable<char> queued_;
};

} // namespace basefs

#endif // BASEFS_WATCH_FANOTIFY_H
