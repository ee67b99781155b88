#include "WatchFanotify.h"

#include "SystemCalls.h"

#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/fanotify.h>

namespace basefs {

namespace {

constexpr uint64_t kMask = FAN_CREATE | FAN_DELETE | FAN_MODIFY | FAN_ATTRIB | FAN_MOVED_FROM | FAN_MOVED_TO | FAN_ONDIR;

// Room for the largest handle the kernel gives.
struct Handle {
    file_handle header;
    unsigned char bytes[MAX_HANDLE_SZ];
};

const char *initFailure(int error)
{
    switch (error) {
    case EPERM:
        return "fanotify needs CAP_SYS_ADMIN; each directory is watched instead";
    case EINVAL:
        return "this kernel's fanotify cannot name a change's directory and entry (Linux 5.9 and later can); each "
               "directory is watched instead";
    default:
        return "fanotify is not available; each directory is watched instead";
    }
}

const char *markFailure(int error)
{
    switch (error) {
    case EPERM:
        return "fanotify's mark of a whole file system needs CAP_SYS_ADMIN; each directory is watched instead";
    case ENODEV:
    case EXDEV:
    case EOPNOTSUPP:
        return "the root's file system cannot name files by handle, which fanotify needs; each directory is watched "
               "instead";
    default:
        return "fanotify could not mark the root's file system; each directory is watched instead";
    }
}

// The path /proc gives the open file fd, malloc'ed; null with errno set.
char *pathOfDescriptor(int fd)
{
    char target[PATH_MAX + 1];
    const ssize_t length = sys::readlink(ProcFdPath(fd).get(), target, PATH_MAX);
    if (length <= 0 || target[0] != '/') {
        errno = length < 0 ? errno : ENOENT;
        return nullptr;
    }
    target[length] = '\0';
    return strdup(target);
}

bool sameHandle(const file_handle *a, const Growable<char> &b)
{
    const size_t size = sizeof(file_handle) + a->handle_bytes;
    return b.size() == size && std::memcmp(a, b.data(), size) == 0;
}

} // namespace

FanotifySource::~FanotifySource() { release(); }

void FanotifySource::release()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (mountFd_ >= 0) {
        ::close(mountFd_);
        mountFd_ = -1;
    }
    std::free(rootPath_);
    rootPath_ = nullptr;
}

bool FanotifySource::open(int rootFd, const char **reason)
{
    *reason = mark(rootFd);
    if (*reason != nullptr) {
        release(); // the watcher watches each directory instead: it holds nothing of fanotify's
        return false;
    }
    return true;
}

// Makes the mark and reads what events are matched against; null when done,
// else why it could not be.
const char *FanotifySource::mark(int rootFd)
{
    fd_ = fanotify_init(FAN_CLASS_NOTIF | FAN_CLOEXEC | FAN_NONBLOCK | FAN_REPORT_DFID_NAME,
                        O_RDONLY | O_CLOEXEC | O_LARGEFILE);
    if (fd_ < 0) {
        return initFailure(errno);
    }
    if (fanotify_mark(fd_, FAN_MARK_ADD | FAN_MARK_FILESYSTEM, kMask, rootFd, nullptr) != 0) {
        return markFailure(errno);
    }
    mountFd_ = sys::openat(rootFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    rootPath_ = pathOfDescriptor(rootFd);
    Handle parent;
    parent.header.handle_bytes = MAX_HANDLE_SZ;
    int mountId;
    if (mountFd_ < 0 || rootPath_ == nullptr ||
        name_to_handle_at(rootFd, "..", &parent.header, &mountId, 0) != 0 ||
        !parentHandle_.append(reinterpret_cast<const char *>(&parent), sizeof(file_handle) + parent.header.handle_bytes)) {
        return "the root's path or its parent's handle cannot be read; each directory is watched instead";
    }
    rootLength_ = std::strlen(rootPath_);
    rootName_ = std::strrchr(rootPath_, '/') + 1;
    return nullptr;
}

// The path below the root of `name` in the directory `handle`; false when
// that directory is outside the root or gone. isRootItself: the name is the
// root's own, in its parent.
bool FanotifySource::pathBelowRoot(const void *handle, const char *name, Growable<char> &path, bool &isRootItself)
{
    const auto *directory = static_cast<const file_handle *>(handle);
    isRootItself = sameHandle(directory, parentHandle_) && std::strcmp(name, rootName_) == 0;
    if (isRootItself) {
        path.clear();
        return path.push('\0');
    }
    UniqueFd opened(open_by_handle_at(mountFd_, const_cast<file_handle *>(directory), O_PATH | O_CLOEXEC));
    if (opened.get() < 0) {
        return false; // deleted since: its own deletion is reported
    }
    char *absolute = pathOfDescriptor(opened.get());
    if (absolute == nullptr) {
        return false;
    }
    const bool below = std::strncmp(absolute, rootPath_, rootLength_) == 0 &&
                       (absolute[rootLength_] == '\0' || absolute[rootLength_] == '/' || rootLength_ == 1);
    path.clear();
    bool made = below;
    if (below) {
        const char *relative = absolute + rootLength_;
        relative += *relative == '/' ? 1 : 0;
        made = path.append(relative, std::strlen(relative)) && (path.size() == 0 || path.push('/')) &&
               path.append(name, std::strlen(name) + 1);
    }
    std::free(absolute);
    return made;
}

void FanotifySource::handle(const char *event, size_t length, WatchEvents &events, bool &rootGone)
{
    fanotify_event_metadata metadata;
    std::memcpy(&metadata, event, sizeof metadata);
    if (metadata.fd >= 0) {
        ::close(metadata.fd);
    }
    if ((metadata.mask & FAN_Q_OVERFLOW) != 0) {
        events.overflow();
        return;
    }
    for (size_t offset = metadata.metadata_len; offset + sizeof(fanotify_event_info_fid) <= length;) {
        const auto *info = reinterpret_cast<const fanotify_event_info_fid *>(event + offset);
        if (info->hdr.len == 0) {
            return;
        }
        offset += info->hdr.len;
        if (info->hdr.info_type != FAN_EVENT_INFO_TYPE_DFID_NAME) {
            continue;
        }
        const auto *handle = reinterpret_cast<const file_handle *>(info->handle);
        const char *name = reinterpret_cast<const char *>(handle->f_handle) + handle->handle_bytes;
        Growable<char> path;
        bool isRootItself = false;
        if (!pathBelowRoot(handle, name, path, isRootItself)) {
            return;
        }
        const int flag = (metadata.mask & FAN_ONDIR) != 0 ? kWatchDirectoryFlag : 0;
        if (isRootItself) {
            if ((metadata.mask & (FAN_DELETE | FAN_MOVED_FROM)) != 0 && !rootGone) {
                rootGone = true;
                events.add(kWatchRootGone | kWatchDirectoryFlag, 0, "", 0);
            } else if ((metadata.mask & FAN_ATTRIB) != 0 && !rootGone) {
                events.add(kWatchAttributes | kWatchDirectoryFlag, 0, "", 0);
            }
            return;
        }
        const size_t pathLength = path.size() - 1;
        // One event may stand for several changes: in the order they can happen.
        const struct {
            uint64_t bit;
            int kind;
        } kinds[] = {{FAN_CREATE, kWatchCreated},       {FAN_MOVED_TO, kWatchMovedTo},   {FAN_MODIFY, kWatchModified},
                     {FAN_ATTRIB, kWatchAttributes},    {FAN_MOVED_FROM, kWatchMovedFrom}, {FAN_DELETE, kWatchDeleted}};
        for (const auto &kind : kinds) {
            if ((metadata.mask & kind.bit) != 0 && !rootGone) {
                events.add(kind.kind | flag, 0, path.data(), pathLength);
            }
        }
        return;
    }
}

bool FanotifySource::readQueued(WatchEvents &events, bool &rootGone)
{
    for (;;) {
        if (!queued_.reserve(kWatchReadSize)) {
            events.overflow();
            return true;
        }
        const ssize_t count = sys::read(fd_, queued_.data(), kWatchReadSize);
        if (count < 0) {
            return errno == EAGAIN;
        }
        for (size_t offset = 0; offset + sizeof(fanotify_event_metadata) <= static_cast<size_t>(count);) {
            fanotify_event_metadata metadata;
            std::memcpy(&metadata, queued_.data() + offset, sizeof metadata);
            if (metadata.event_len < sizeof metadata || offset + metadata.event_len > static_cast<size_t>(count)) {
                break;
            }
            if (metadata.vers == FANOTIFY_METADATA_VERSION) {
                handle(queued_.data() + offset, metadata.event_len, events, rootGone);
            }
            offset += metadata.event_len;
        }
    }
}

} // namespace basefs
