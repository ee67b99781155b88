// The directories a watcher has registered, by inotify watch descriptor. Each
// knows its parent and its name, so an event's path is made from the table
// alone and a directory renamed within the tree is one update. Registration
// walks by descriptors: every directory is opened relative to its parent
// with O_NOFOLLOW, and its watch is added through its open descriptor, so a
// name swapped for a link never leads the watcher out of the tree.
#ifndef BASEFS_WATCH_TREE_H
#define BASEFS_WATCH_TREE_H

#include "Holders.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/types.h>

namespace basefs {

// An array on malloc and realloc: the library does without the C++ runtime.
template <typename T>
class Growable : NonCopyable {
public:
    Growable() = default;
    ~Growable() { std::free(data_); }
    T *data() const { return data_; }
    size_t size() const { return size_; }
    T &operator[](size_t index) const { return data_[index]; }
    void resize(size_t size) { size_ = size <= capacity_ ? size : size_; }
    void clear() { size_ = 0; }
    bool append(const T *values, size_t count)
    {
        if (count == 0) {
            return true; // nothing to copy, and no array to copy it to yet
        }
        if (!reserve(size_ + count)) {
            return false;
        }
        std::memcpy(data_ + size_, values, count * sizeof(T));
        size_ += count;
        return true;
    }
    bool push(const T &value) { return append(&value, 1); }
    bool reserve(size_t count)
    {
        if (count <= capacity_) {
            return true;
        }
        size_t capacity = capacity_ < 16 ? 16 : capacity_ * 2;
        while (capacity < count) {
            capacity *= 2;
        }
        void *grown = std::realloc(data_, capacity * sizeof(T));
        if (grown == nullptr) {
            return false;
        }
        data_ = static_cast<T *>(grown);
        capacity_ = capacity;
        return true;
    }

private:
    T *data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// A watcher reads the kernel's queue this much at a time.
inline constexpr size_t kWatchReadSize = 64 * 1024;

// The kinds an event has in Java (WatchEvent.Kind's numbers), and the flag of
// an event about a directory.
enum WatchKind : int {
    kWatchCreated = 1,
    kWatchDeleted,
    kWatchModified,
    kWatchAttributes,
    kWatchMovedFrom,
    kWatchMovedTo,
    kWatchOverflow,
    kWatchLimit,
    kWatchRootGone,
    kWatchUnwatched,
};
inline constexpr int kWatchDirectoryFlag = 0x100;

// The events of one poll, in order: kind, cookie and the path relative to the
// root. An allocation that fails is remembered, and reported as an overflow.
class WatchEvents : NonCopyable {
public:
    struct Event {
        int kind;
        uint32_t cookie;
        size_t pathOffset;
        size_t pathLength;
    };

    void add(int kind, uint32_t cookie, const char *path, size_t length);
    // Anything may have changed below the root, which is to be rescanned.
    void overflow() { add(kWatchOverflow | kWatchDirectoryFlag, 0, "", 0); }
    size_t count() const { return events_.size(); }
    const Event &at(size_t index) const { return events_[index]; }
    const char *pathOf(const Event &event) const { return paths_.data() + event.pathOffset; }
    bool lost() const { return lost_; }
    void clear();

private:
    Growable<Event> events_;
    Growable<char> paths_;
    bool lost_ = false;
};

class WatchTree : NonCopyable {
public:
    // What inotify is asked to report of every directory.
    static const uint32_t kMask;

    // inotifyFd stays the caller's. The root is held by its path and its
    // identity, not by a descriptor: an open descriptor would keep a deleted
    // root's inode, and with it the kernel's report of the deletion, alive.
    WatchTree(int inotifyFd, const char *rootPath);
    ~WatchTree();

    // Registers the root, open as rootFd (the caller's), and every directory
    // below it; what could not be watched is added to events. Returns false
    // with errno set when the root itself could not be.
    bool registerRoot(int rootFd, WatchEvents &events);
    int rootWatch() const { return root_; }
    bool isLive(int wd) const;

    // Registers the new directory `name` of the watched directory wd and the
    // tree below it, and reports everything in them as created: what was made
    // before the watches took hold is reported all the same.
    void addDirectory(int wd, const char *name, WatchEvents &events);

    // The path of the watched directory wd relative to the root, with
    // "/name" appended when name is not null, in `path` (NUL-terminated).
    bool pathOf(int wd, const char *name, Growable<char> &path) const;

    // The watched child `name` of wd, or -1.
    int find(int wd, const char *name) const;
    // How often the directory wd was placed in the tree: a move in progress
    // that finds the count changed knows the directory has been placed again.
    unsigned placements(int wd) const;
    // The directory wd is now `name` in the directory parent.
    void move(int wd, int parent, const char *name);
    // The kernel dropped the watch of wd; true when nobody asked for that (the
    // directory was neither deleted nor moved out): its changes are unseen.
    bool forget(int wd);
    // The directory wd was deleted, or its file system unmounted.
    void markGone(int wd);
    // Removes the watches of wd and of every directory below it (moved out).
    void unwatch(int wd);

    // Whether `name` in wd was reported by the listing of a new directory;
    // true once, then forgotten, so that its own creation event is dropped.
    bool takeListed(int wd, const char *name);
    // `name` in wd is gone: an event of it is no longer a duplicate.
    void dropListed(int wd, const char *name) { takeListed(wd, name); }

private:
    struct Directory;

    int addWatch(int fd, const Growable<char> &path);
    bool store(int wd, int parent, const char *name);
    void registerBelow(int fd, int parent, const char *name, Growable<char> &path, bool report, WatchEvents &events,
                       int depth);
    void listAndDescend(int fd, int wd, Growable<char> &path, bool report, WatchEvents &events, int depth);
    int openFromRoot(const char *path) const;
    Directory *entry(int wd) const;

    int inotifyFd_;
    char *rootPath_;
    dev_t rootDevice_ = 0;
    ino_t rootInode_ = 0;
    int root_ = -1;
    Growable<Directory> table_;
};

} // namespace basefs

#endif // BASEFS_WATCH_TREE_H
