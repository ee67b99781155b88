// Change watching on the caller's own thread (Watcher): one inotify
// descriptor with a watch on every directory of the tree, read in large reads
// when the caller polls, the events handed to Java a batch at a time. No
// thread is started. What could lose events (an overflow, the watch limit,
// the root gone, a file system unmounted) is itself an event, naming the
// subtree to rescan.

#include "JniBridge.h"
#include "SystemCalls.h"
#include "WatchFanotify.h"
#include "WatchTree.h"

#include "com_quenvira_internal_io_Watcher.h"

#include <climits>
#include <cstring>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>

namespace {

using basefs::Growable;
using basefs::WatchEvents;
using basefs::WatchTree;

// A directory moved away from a watched one, until its arrival is handled.
struct PendingMove {
    uint32_t cookie;
    int wd;
};

struct Session : basefs::NonCopyable {
    Session(int inotify, int wakeup, const char *rootPath)
        : inotifyFd(inotify), wakeupFd(wakeup), tree(inotify, rootPath)
    {
    }
    ~Session()
    {
        ::close(inotifyFd);
        ::close(wakeupFd);
    }

    int inotifyFd;
    int wakeupFd;
    WatchTree tree;
    WatchEvents events;
    size_t handed = 0; // events of `events` already given to Java
    Growable<char> queued; // what one poll read, whole events only
    Growable<uint32_t> arriving; // the cookies of the moves to a watched directory among them
    Growable<PendingMove> moves;
    bool rootGone = false;
    basefs::FanotifySource fanotify;
    bool byFanotify = false;
    const char *fallbackReason = nullptr; // why fanotify was asked for and not used
};

// Watcher.WHOLE_FILE_SYSTEM: one fanotify mark instead of a watch per directory.
constexpr jint kWholeFileSystem = 1;

Session *sessionOf(jlong handle) { return reinterpret_cast<Session *>(static_cast<intptr_t>(handle)); }

void addAt(Session &session, int kind, uint32_t cookie, int wd, const char *name)
{
    Growable<char> path;
    if (!session.tree.pathOf(wd, name, path)) {
        session.events.overflow();
        return;
    }
    session.events.add(kind, cookie, path.data(), path.size());
}

// What happened to a watched directory itself (no name): the root's own
// changes, and the bookkeeping of watches the kernel ends. A subdirectory's
// own changes are reported by its parent, under its name.
void handleSelf(Session &session, const inotify_event &event)
{
    const int directoryFlag = basefs::kWatchDirectoryFlag;
    const bool isRoot = event.wd == session.tree.rootWatch();
    if ((event.mask & (IN_DELETE_SELF | IN_MOVE_SELF)) != 0 && isRoot) {
        session.rootGone = true;
        session.events.add(basefs::kWatchRootGone | directoryFlag, 0, "", 0);
    }
    if ((event.mask & IN_DELETE_SELF) != 0) {
        session.tree.markGone(event.wd);
    }
    if ((event.mask & IN_UNMOUNT) != 0) {
        addAt(session, basefs::kWatchUnwatched | directoryFlag, 0, event.wd, nullptr);
        session.tree.markGone(event.wd);
    }
    if ((event.mask & IN_IGNORED) != 0) {
        Growable<char> path;
        const bool known = session.tree.pathOf(event.wd, nullptr, path);
        if (session.tree.forget(event.wd) && known) {
            session.events.add(basefs::kWatchUnwatched | directoryFlag, 0, path.data(), path.size());
        }
    }
    if (isRoot && (event.mask & (IN_ATTRIB | IN_MODIFY)) != 0) {
        const int kind = (event.mask & IN_ATTRIB) != 0 ? basefs::kWatchAttributes : basefs::kWatchModified;
        session.events.add(kind | directoryFlag, 0, "", 0);
    }
}

void handleMovedTo(Session &session, const inotify_event &event, int directoryFlag)
{
    addAt(session, basefs::kWatchMovedTo | directoryFlag, event.cookie, event.wd, event.name);
    if (directoryFlag == 0) {
        return;
    }
    for (size_t index = 0; index < session.moves.size(); ++index) {
        const PendingMove move = session.moves[index];
        if (move.cookie != event.cookie) {
            continue;
        }
        session.moves[index] = session.moves[session.moves.size() - 1];
        session.moves.resize(session.moves.size() - 1);
        if (session.tree.isLive(move.wd)) {
            session.tree.move(move.wd, event.wd, event.name);
            return;
        }
        break;
    }
    // From outside the tree, or never watched: its contents are news.
    session.tree.addDirectory(event.wd, event.name, session.events);
}

bool isArriving(const Session &session, uint32_t cookie)
{
    for (size_t index = 0; index < session.arriving.size(); ++index) {
        if (session.arriving[index] == cookie) {
            return true;
        }
    }
    return false;
}

void handle(Session &session, const inotify_event &event)
{
    if ((event.mask & IN_Q_OVERFLOW) != 0) {
        session.events.overflow();
        return;
    }
    if (session.rootGone || !session.tree.isLive(event.wd)) {
        return; // a watch already given up: its late events say nothing new
    }
    if (event.len == 0 || event.name[0] == '\0') {
        handleSelf(session, event);
        return;
    }
    const int directoryFlag = (event.mask & IN_ISDIR) != 0 ? basefs::kWatchDirectoryFlag : 0;
    WatchTree &tree = session.tree;
    if ((event.mask & IN_CREATE) != 0 && !tree.takeListed(event.wd, event.name)) {
        addAt(session, basefs::kWatchCreated | directoryFlag, 0, event.wd, event.name);
        if (directoryFlag != 0) {
            tree.addDirectory(event.wd, event.name, session.events);
        }
    }
    if ((event.mask & IN_MOVED_TO) != 0 && !tree.takeListed(event.wd, event.name)) {
        handleMovedTo(session, event, directoryFlag);
    }
    if ((event.mask & IN_MODIFY) != 0) {
        addAt(session, basefs::kWatchModified | directoryFlag, 0, event.wd, event.name);
    }
    if ((event.mask & IN_ATTRIB) != 0) {
        addAt(session, basefs::kWatchAttributes | directoryFlag, 0, event.wd, event.name);
    }
    if ((event.mask & IN_MOVED_FROM) != 0) {
        tree.dropListed(event.wd, event.name);
        addAt(session, basefs::kWatchMovedFrom | directoryFlag, event.cookie, event.wd, event.name);
        const int moved = directoryFlag != 0 ? tree.find(event.wd, event.name) : -1;
        if (moved >= 0 && (!isArriving(session, event.cookie) || !session.moves.push({event.cookie, moved}))) {
            // Out of the tree: its watches would report under a path it no longer has.
            tree.unwatch(moved);
        }
    }
    if ((event.mask & IN_DELETE) != 0) {
        tree.dropListed(event.wd, event.name);
        addAt(session, basefs::kWatchDeleted | directoryFlag, 0, event.wd, event.name);
    }
}

// Reads until nothing is queued, then handles what was read: a move's two
// halves are queued together, so a directory moved away whose arrival is not
// among them has left the tree. Returns false with errno set on a failure.
bool readQueued(Session &session)
{
    session.queued.clear();
    session.arriving.clear();
    for (;;) {
        if (!session.queued.reserve(session.queued.size() + basefs::kWatchReadSize)) {
            session.events.overflow();
            break;
        }
        const ssize_t count =
            basefs::sys::read(session.inotifyFd, session.queued.data() + session.queued.size(), basefs::kWatchReadSize);
        if (count < 0) {
            if (errno != EAGAIN) {
                return false;
            }
            break;
        }
        session.queued.resize(session.queued.size() + static_cast<size_t>(count));
    }
    for (size_t offset = 0; offset + sizeof(inotify_event) <= session.queued.size();) {
        inotify_event event;
        std::memcpy(&event, session.queued.data() + offset, sizeof event);
        if ((event.mask & IN_MOVED_TO) != 0 && !session.arriving.push(event.cookie)) {
            session.arriving.clear(); // every directory moved away is then taken as gone
            break;
        }
        offset += sizeof(inotify_event) + event.len;
    }
    for (size_t offset = 0; offset + sizeof(inotify_event) <= session.queued.size();) {
        const auto *event = reinterpret_cast<const inotify_event *>(session.queued.data() + offset);
        handle(session, *event);
        offset += sizeof(inotify_event) + event->len;
    }
    session.moves.clear();
    return true;
}

long long nowMillis()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Waits until events are queued, wakeup() is called or the timeout passes
// (negative: no timeout). Returns false with errno set on a failure.
bool waitForEvents(Session &session, jlong timeoutMillis)
{
    const long long deadline = timeoutMillis >= 0 ? nowMillis() + timeoutMillis : -1;
    const int source = session.byFanotify ? session.fanotify.fd() : session.inotifyFd;
    pollfd descriptors[] = {{source, POLLIN, 0}, {session.wakeupFd, POLLIN, 0}};
    for (;;) {
        const long long left = deadline < 0 ? -1 : deadline - nowMillis();
        const int wait = left < 0 ? (deadline < 0 ? -1 : 0) : (left > INT_MAX ? INT_MAX : static_cast<int>(left));
        const int ready = ::poll(descriptors, 2, wait);
        if (ready >= 0) {
            uint64_t wakeups;
            if ((descriptors[1].revents & POLLIN) != 0 &&
                basefs::sys::read(session.wakeupFd, &wakeups, sizeof wakeups) < 0 && errno != EAGAIN) {
                return false;
            }
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

// Gives Java the next events, as many as paths holds: their kind and cookie
// in info, two ints each. Returns how many, or -1 with an exception pending.
jint handOver(JNIEnv *env, Session &session, jintArray info, jobjectArray paths)
{
    const size_t capacity = static_cast<size_t>(env->GetArrayLength(paths));
    if (static_cast<size_t>(env->GetArrayLength(info)) < 2 * capacity) {
        JNU_ThrowIllegalArgumentException(env, "info must hold two ints per path");
        return -1;
    }
    const size_t left = session.events.count() - session.handed;
    const size_t count = left < capacity ? left : capacity;
    Growable<jint> values;
    if (!values.reserve(2 * count)) {
        JNU_ThrowOutOfMemoryError(env, nullptr);
        return -1;
    }
    for (size_t index = 0; index < count; ++index) {
        const WatchEvents::Event &event = session.events.at(session.handed + index);
        basefs::LocalRef<jstring> path(env, basefs::newJavaString(env, session.events.pathOf(event), event.pathLength));
        if (path.get() == nullptr) {
            return -1;
        }
        env->SetObjectArrayElement(paths, static_cast<jsize>(index), path.get());
        values.push(event.kind);
        values.push(static_cast<jint>(event.cookie));
    }
    env->SetIntArrayRegion(info, 0, static_cast<jsize>(2 * count), values.data());
    session.handed += count;
    if (session.handed == session.events.count()) {
        session.events.clear();
        session.handed = 0;
    }
    return static_cast<jint>(count);
}

} // namespace

extern "C" {

JNIEXPORT jlong JNICALL Java_com_quenvira_internal_io_Watcher_nOpen(JNIEnv *env, jclass, jstring root, jint options)
{
    const basefs::EntryPrologue<1> entry(env, {{root, "root"}});
    if (!entry.ok()) {
        return 0;
    }
    const char *rootPath = entry.path(0).get();
    basefs::UniqueFd rootFd(basefs::sys::open(rootPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (rootFd.get() < 0) {
        throwExceptionFromErrNo(env, rootPath);
        return 0;
    }
    basefs::UniqueFd inotifyFd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (inotifyFd.get() < 0) {
        throwExceptionFromErrNo(env, rootPath);
        return 0;
    }
    basefs::UniqueFd wakeupFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (wakeupFd.get() < 0) {
        throwExceptionFromErrNo(env, rootPath);
        return 0;
    }
    void *memory = std::malloc(sizeof(Session));
    if (memory == nullptr) {
        JNU_ThrowOutOfMemoryError(env, nullptr);
        return 0;
    }
    auto *session = new (memory) Session(inotifyFd.release(), wakeupFd.release(), rootPath);
    if ((options & kWholeFileSystem) != 0) {
        session->byFanotify = session->fanotify.open(rootFd.get(), &session->fallbackReason);
    }
    if (!session->byFanotify && !session->tree.registerRoot(rootFd.get(), session->events)) {
        throwExceptionFromErrNo(env, rootPath);
        session->~Session();
        std::free(memory);
        return 0;
    }
    return static_cast<jlong>(reinterpret_cast<intptr_t>(session));
}

JNIEXPORT jint JNICALL Java_com_quenvira_internal_io_Watcher_nPoll(JNIEnv *env, jclass, jlong handle,
                                                                   jlong timeoutMillis, jintArray info,
                                                                   jobjectArray paths)
{
    Session &session = *sessionOf(handle);
    if (session.handed < session.events.count()) {
        return handOver(env, session, info, paths);
    }
    if (timeoutMillis != 0 && !waitForEvents(session, timeoutMillis)) {
        throwExceptionFromErrNo(env, nullptr);
        return -1;
    }
    const bool read = session.byFanotify ? session.fanotify.readQueued(session.events, session.rootGone)
                                         : readQueued(session);
    if (!read) {
        throwExceptionFromErrNo(env, nullptr);
        return -1;
    }
    if (session.events.lost()) {
        session.events.overflow();
    }
    return handOver(env, session, info, paths);
}

JNIEXPORT jstring JNICALL Java_com_quenvira_internal_io_Watcher_nFallbackReason(JNIEnv *env, jclass, jlong handle)
{
    const char *reason = sessionOf(handle)->fallbackReason;
    return reason != nullptr ? env->NewStringUTF(reason) : nullptr;
}

JNIEXPORT void JNICALL Java_com_quenvira_internal_io_Watcher_nWakeup(JNIEnv *, jclass, jlong handle)
{
    const uint64_t one = 1;
    // A full counter already wakes the poll: nothing to report.
    (void)!basefs::sys::write(sessionOf(handle)->wakeupFd, &one, sizeof one);
}

JNIEXPORT void JNICALL Java_com_quenvira_internal_io_Watcher_nClose(JNIEnv *, jclass, jlong handle)
{
    Session *session = sessionOf(handle);
    session->~Session();
    std::free(session);
}

} // extern "C"
