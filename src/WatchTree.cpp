#include "WatchTree.h"

#include "SystemCalls.h"

#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>

namespace basefs {

const uint32_t WatchTree::kMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO |
                                  IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;

namespace {

// Directories nested deeper than this are reported as unwatched instead of
// registered: the walk holds one descriptor and one frame per level.
constexpr int kMaxDepth = 1024;
constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool appendName(Growable<char> &path, const char *name)
{
    if (path.size() > 0 && !path.push('/')) {
        return false;
    }
    return path.append(name, std::strlen(name));
}

bool terminate(Growable<char> &path)
{
    if (!path.push('\0')) {
        return false;
    }
    path.resize(path.size() - 1);
    return true;
}

} // namespace

void WatchEvents::add(int kind, uint32_t cookie, const char *path, size_t length)
{
    const Event event{kind, cookie, paths_.size(), length};
    if (!paths_.append(path, length) || !paths_.push('\0') || !events_.push(event)) {
        lost_ = true;
    }
}

void WatchEvents::clear()
{
    events_.clear();
    paths_.clear();
    lost_ = false;
}

struct WatchTree::Directory {
    int parent;         // the parent's watch, -1 for the root
    char *name;         // malloc'ed; "" for the root
    char *listed;       // the names a listing of this new directory reported, NUL-separated
    size_t listedSize;
    unsigned placements;
    bool live;
    bool gone;          // deleted, unmounted or moved out: the kernel's IN_IGNORED is expected
};

WatchTree::WatchTree(int inotifyFd, const char *rootPath) : inotifyFd_(inotifyFd), rootPath_(strdup(rootPath))
{
}

WatchTree::~WatchTree()
{
    for (size_t wd = 0; wd < table_.size(); ++wd) {
        std::free(table_[wd].name);
        std::free(table_[wd].listed);
    }
    std::free(rootPath_);
}

WatchTree::Directory *WatchTree::entry(int wd) const
{
    if (wd < 0 || static_cast<size_t>(wd) >= table_.size() || !table_[wd].live) {
        return nullptr;
    }
    return &table_[wd];
}

bool WatchTree::isLive(int wd) const { return entry(wd) != nullptr; }

// The watch of the directory open as fd: through its name in /proc, which
// leads to the open directory whatever happens to its names; by its path
// from the root only where /proc is missing.
int WatchTree::addWatch(int fd, const Growable<char> &path)
{
    const int wd = inotify_add_watch(inotifyFd_, ProcFdPath(fd).get(), kMask);
    if (wd >= 0 || errno != ENOENT || rootPath_ == nullptr) {
        return wd;
    }
    Growable<char> byName;
    if (!byName.append(rootPath_, std::strlen(rootPath_)) ||
        (path.size() > 0 && (!byName.push('/') || !byName.append(path.data(), path.size()))) || !byName.push('\0')) {
        errno = ENOMEM;
        return -1;
    }
    return inotify_add_watch(inotifyFd_, byName.data(), kMask | IN_DONT_FOLLOW);
}

bool WatchTree::store(int wd, int parent, const char *name)
{
    const size_t needed = static_cast<size_t>(wd) + 1;
    if (table_.size() < needed) {
        if (!table_.reserve(needed)) {
            return false;
        }
        std::memset(table_.data() + table_.size(), 0, (needed - table_.size()) * sizeof(Directory));
        table_.resize(needed);
    }
    char *copy = strdup(name);
    if (copy == nullptr) {
        return false;
    }
    Directory &directory = table_[wd];
    std::free(directory.name);
    std::free(directory.listed);
    directory = Directory{parent, copy, nullptr, 0, directory.placements + 1, true, false};
    return true;
}

bool WatchTree::registerRoot(int rootFd, WatchEvents &events)
{
    struct stat st;
    if (rootPath_ == nullptr || sys::fstat(rootFd, &st) != 0) {
        errno = rootPath_ == nullptr ? ENOMEM : errno;
        return false;
    }
    rootDevice_ = st.st_dev;
    rootInode_ = st.st_ino;
    Growable<char> path;
    const int wd = addWatch(rootFd, path);
    if (wd < 0) {
        return false;
    }
    if (!store(wd, -1, "")) {
        errno = ENOMEM;
        return false;
    }
    root_ = wd;
    const int listFd = sys::openat(rootFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0) {
        return false;
    }
    listAndDescend(listFd, wd, path, false, events, 0);
    return true;
}

// Registers the directory open as fd (which this call closes), named `name`
// in parent and at `path`, then what is below it; reports its entries as
// created when `report`. A directory that cannot be watched is reported, so
// that its subtree is rescanned: the watch limit apart from the rest.
void WatchTree::registerBelow(int fd, int parent, const char *name, Growable<char> &path, bool report,
                              WatchEvents &events, int depth)
{
    UniqueFd directory(fd);
    errno = ELOOP;
    const int wd = depth <= kMaxDepth ? addWatch(fd, path) : -1;
    if (wd < 0) {
        events.add((errno == ENOSPC ? kWatchLimit : kWatchUnwatched) | kWatchDirectoryFlag, 0, path.data(),
                   path.size());
        return;
    }
    if (Directory *known = entry(wd); known != nullptr && !known->gone) {
        // Already watched: it was moved here, and its move is not yet paired.
        move(wd, parent, name);
        return;
    }
    if (!store(wd, parent, name)) {
        events.add(kWatchUnwatched | kWatchDirectoryFlag, 0, path.data(), path.size());
        return;
    }
    listAndDescend(directory.release(), wd, path, report, events, depth);
}

void WatchTree::listAndDescend(int fd, int wd, Growable<char> &path, bool report, WatchEvents &events, int depth)
{
    UniqueDir dir(sys::fdopendir(fd));
    if (dir.get() == nullptr) {
        ::close(fd);
        events.add(kWatchUnwatched | kWatchDirectoryFlag, 0, path.data(), path.size());
        return;
    }
    const size_t base = path.size();
    while (dirent *found = sys::readdir(dir.get())) {
        const char *name = found->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
            continue;
        }
        bool isDirectory = found->d_type == DT_DIR;
        if (found->d_type == DT_UNKNOWN) {
            struct stat st;
            isDirectory = sys::fstatat(sys::dirfd(dir.get()), name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        if (!appendName(path, name) || !terminate(path)) {
            events.overflow();
            path.resize(base);
            continue;
        }
        if (report) {
            events.add(kWatchCreated | (isDirectory ? kWatchDirectoryFlag : 0), 0, path.data(), path.size());
            Directory &self = table_[wd];
            const size_t length = std::strlen(name) + 1;
            if (char *grown = static_cast<char *>(std::realloc(self.listed, self.listedSize + length))) {
                std::memcpy(grown + self.listedSize, name, length);
                self.listed = grown;
                self.listedSize += length;
            }
        }
        if (isDirectory) {
            const int child = sys::openat(sys::dirfd(dir.get()), name, kDirectoryFlags);
            if (child >= 0) {
                registerBelow(child, wd, name, path, report, events, depth + 1);
            } else if (errno != ENOENT && errno != ELOOP && errno != ENOTDIR) {
                // Gone or replaced is reported by its parent's watch; anything else leaves it unseen.
                events.add(kWatchUnwatched | kWatchDirectoryFlag, 0, path.data(), path.size());
            }
        }
        path.resize(base);
    }
    terminate(path);
}

// Opens the directory at `path` below the root: the root by its path, as long
// as it is still the root watched, then one component at a time and never
// through a link. -1 with errno set.
int WatchTree::openFromRoot(const char *path) const
{
    int current = sys::open(rootPath_, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st;
    if (current >= 0 && (sys::fstat(current, &st) != 0 || st.st_dev != rootDevice_ || st.st_ino != rootInode_)) {
        ::close(current);
        errno = ESTALE;
        return -1;
    }
    char component[NAME_MAX + 1];
    for (const char *at = path; current >= 0 && *at != '\0';) {
        const char *end = std::strchr(at, '/');
        const size_t length = end != nullptr ? static_cast<size_t>(end - at) : std::strlen(at);
        if (length > NAME_MAX) {
            ::close(current);
            errno = ENAMETOOLONG;
            return -1;
        }
        std::memcpy(component, at, length);
        component[length] = '\0';
        const int next = sys::openat(current, component, kDirectoryFlags);
        const int error = errno;
        ::close(current);
        errno = error;
        current = next;
        at += length + (end != nullptr ? 1 : 0);
    }
    return current;
}

void WatchTree::addDirectory(int wd, const char *name, WatchEvents &events)
{
    Growable<char> path;
    if (!pathOf(wd, name, path)) {
        events.overflow();
        return;
    }
    const int fd = openFromRoot(path.data());
    if (fd < 0) {
        // Gone or replaced already: its deletion or move is on its way.
        return;
    }
    int depth = 0;
    for (const char *at = path.data(); (at = std::strchr(at, '/')) != nullptr; ++at) {
        ++depth;
    }
    registerBelow(fd, wd, name, path, true, events, depth + 1);
}

bool WatchTree::pathOf(int wd, const char *name, Growable<char> &path) const
{
    Growable<const char *> names;
    // A parent chain longer than the table would be a cycle: stop there.
    for (const Directory *at = entry(wd); at != nullptr && at->parent >= 0; at = entry(at->parent)) {
        if (names.size() > table_.size() || !names.push(at->name)) {
            return false;
        }
    }
    path.clear();
    for (size_t index = names.size(); index > 0; --index) {
        if (!appendName(path, names[index - 1])) {
            return false;
        }
    }
    return (name == nullptr || appendName(path, name)) && terminate(path);
}

int WatchTree::find(int wd, const char *name) const
{
    for (size_t child = 0; child < table_.size(); ++child) {
        const Directory &directory = table_[child];
        if (directory.live && directory.parent == wd && std::strcmp(directory.name, name) == 0) {
            return static_cast<int>(child);
        }
    }
    return -1;
}

unsigned WatchTree::placements(int wd) const
{
    const Directory *directory = entry(wd);
    return directory != nullptr ? directory->placements : 0;
}

void WatchTree::move(int wd, int parent, const char *name)
{
    Directory *directory = entry(wd);
    char *copy = strdup(name);
    if (directory == nullptr || copy == nullptr) {
        std::free(copy);
        return;
    }
    std::free(directory->name);
    directory->name = copy;
    directory->parent = parent;
    ++directory->placements;
}

bool WatchTree::forget(int wd)
{
    Directory *directory = entry(wd);
    if (directory == nullptr) {
        return false;
    }
    const bool unexpected = !directory->gone;
    directory->live = false;
    return unexpected;
}

void WatchTree::markGone(int wd)
{
    if (Directory *directory = entry(wd)) {
        directory->gone = true;
    }
}

void WatchTree::unwatch(int wd)
{
    for (size_t index = 0; index < table_.size(); ++index) {
        int at = static_cast<int>(index);
        size_t steps = 0;
        while (at >= 0 && at != wd && isLive(at) && steps++ <= table_.size()) {
            at = table_[at].parent;
        }
        if (at == wd && isLive(static_cast<int>(index))) {
            inotify_rm_watch(inotifyFd_, static_cast<int>(index));
            table_[index].live = false;
        }
    }
}

bool WatchTree::takeListed(int wd, const char *name)
{
    Directory *directory = entry(wd);
    if (directory == nullptr || directory->listed == nullptr) {
        return false;
    }
    const size_t length = std::strlen(name) + 1;
    for (size_t offset = 0; offset < directory->listedSize;) {
        char *at = directory->listed + offset;
        const size_t here = std::strlen(at) + 1;
        if (here == length && std::memcmp(at, name, length) == 0) {
            std::memmove(at, at + here, directory->listedSize - offset - here);
            directory->listedSize -= here;
            return true;
        }
        offset += here;
    }
    return false;
}

} // namespace basefs
