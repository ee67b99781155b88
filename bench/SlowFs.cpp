// A read-only FUSE passthrough of one directory that waits a fixed time in
// every request, standing for a file system whose server is far away (NFS,
// SMB, sshfs, a cloud drive). Attributes and names are never cached by the
// kernel, so every examination asks the server as a network one does.
//
//   basefs-slowfs SOURCE MOUNTPOINT LATENCY_US
//
// Runs in the foreground until unmounted; served by many threads, so that
// requests in flight together wait together.
#define FUSE_USE_VERSION 31

#include <fuse.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

namespace {

int g_source = -1;
long g_latencyMicros = 0;

void wait()
{
    struct timespec delay = {g_latencyMicros / 1000000, (g_latencyMicros % 1000000) * 1000};
    while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
    }
}

// The path FUSE gives ("/a/b") relative to the source directory ("a/b", or
// "." for the root), so that every call stays below the descriptor.
std::string relative(const char *path)
{
    while (*path == '/') {
        ++path;
    }
    return *path == '\0' ? std::string(".") : std::string(path);
}

int slowGetattr(const char *path, struct stat *st, struct fuse_file_info *)
{
    wait();
    return fstatat(g_source, relative(path).c_str(), st, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : -errno;
}

int slowReadlink(const char *path, char *buffer, size_t size)
{
    wait();
    const ssize_t length = readlinkat(g_source, relative(path).c_str(), buffer, size - 1);
    if (length < 0) {
        return -errno;
    }
    buffer[length] = '\0';
    return 0;
}

int slowReaddir(const char *path, void *buffer, fuse_fill_dir_t fill, off_t, struct fuse_file_info *,
                enum fuse_readdir_flags)
{
    wait();
    const int fd = openat(g_source, relative(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return -errno;
    }
    DIR *dir = fdopendir(fd);
    if (dir == nullptr) {
        const int error = errno;
        close(fd);
        return -error;
    }
    // Names only, as a plain READDIR gives them: each entry's attributes are a
    // request of their own.
    while (const dirent *entry = readdir(dir)) {
        struct stat st = {};
        st.st_ino = entry->d_ino;
        st.st_mode = static_cast<mode_t>(DTTOIF(entry->d_type));
        if (fill(buffer, entry->d_name, &st, 0, static_cast<fuse_fill_dir_flags>(0)) != 0) {
            break;
        }
    }
    closedir(dir);
    return 0;
}

int slowOpen(const char *path, struct fuse_file_info *info)
{
    wait();
    if ((info->flags & O_ACCMODE) != O_RDONLY) {
        return -EROFS;
    }
    const int fd = openat(g_source, relative(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return -errno;
    }
    info->fh = static_cast<uint64_t>(fd);
    return 0;
}

int slowRead(const char *, char *buffer, size_t size, off_t offset, struct fuse_file_info *info)
{
    wait();
    const ssize_t got = pread(static_cast<int>(info->fh), buffer, size, offset);
    return got < 0 ? -errno : static_cast<int>(got);
}

int slowRelease(const char *, struct fuse_file_info *info)
{
    close(static_cast<int>(info->fh));
    return 0;
}

int slowStatfs(const char *, struct statvfs *st)
{
    wait();
    return fstatvfs(g_source, st) == 0 ? 0 : -errno;
}

void *slowInit(struct fuse_conn_info *, struct fuse_config *config)
{
    config->entry_timeout = 0;
    config->attr_timeout = 0;
    config->negative_timeout = 0;
    config->use_ino = 1;
    return nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: basefs-slowfs SOURCE MOUNTPOINT LATENCY_US\n");
        return 2;
    }
    g_source = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (g_source < 0) {
        std::perror(argv[1]);
        return 1;
    }
    char *end = nullptr;
    g_latencyMicros = std::strtol(argv[3], &end, 10);
    if (*end != '\0' || g_latencyMicros < 0 || g_latencyMicros > 10000000) {
        std::fprintf(stderr, "basefs-slowfs: bad latency: %s\n", argv[3]);
        return 2;
    }
    struct fuse_operations operations = {};
    operations.getattr = slowGetattr;
    operations.readlink = slowReadlink;
    operations.readdir = slowReaddir;
    operations.open = slowOpen;
    operations.read = slowRead;
    operations.release = slowRelease;
    operations.statfs = slowStatfs;
    operations.init = slowInit;
    // Foreground, many threads: a request waits without holding up the others.
    char program[] = "basefs-slowfs";
    char foreground[] = "-f";
    char options[] = "-o";
    char optionList[] = "ro,fsname=basefs-slowfs,max_threads=64,max_idle_threads=64";
    char *fuseArgs[] = {program, foreground, options, optionList, argv[2], nullptr};
    return fuse_main(5, fuseArgs, &operations, nullptr);
}
