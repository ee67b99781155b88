// Plain C loops that the benchmark runs beside the library in the same JVM:
// the floor each operation of the library is measured against. Built as its
// own small JNI library so that libbasefs exports only what it must.
#include <jni.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr size_t kPathBufferSize = 4097;
constexpr size_t kDirentBufferSize = 64 * 1024;
constexpr size_t kCopyStep = 1024 * 1024;
constexpr size_t kCompareBlock = 64 * 1024;

// Kernel's getdents64 record.
struct LinuxDirent64 {
    ino64_t d_ino;
    off64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

class Chars {
public:
    Chars(JNIEnv *env, jstring s) : env_(env), s_(s), chars_(env->GetStringUTFChars(s, nullptr)) {}
    ~Chars() { env_->ReleaseStringUTFChars(s_, chars_); }
    const char *get() const { return chars_; }

private:
    JNIEnv *env_;
    jstring s_;
    const char *chars_;
};

bool isDotOrDotDot(const char *name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

} // namespace

extern "C" {

// readdir + lstat of the joined path; returns the number of entries examined.
JNIEXPORT jint JNICALL Java_com_quenvira_bench_NativeLoops_readdirLstat(JNIEnv *env, jclass, jstring dir)
{
    Chars path(env, dir);
    DIR *stream = opendir(path.get());
    if (stream == nullptr) {
        return -1;
    }
    char full[kPathBufferSize];
    const size_t prefix = strlen(path.get());
    memcpy(full, path.get(), prefix);
    jint count = 0;
    struct stat st;
    while (struct dirent *entry = readdir(stream)) {
        if (isDotOrDotDot(entry->d_name)) {
            continue;
        }
        strcpy(full + prefix, entry->d_name);
        if (lstat(full, &st) == 0) {
            ++count;
        }
    }
    closedir(stream);
    return count;
}

// getdents64 + fstatat relative to the directory's descriptor.
JNIEXPORT jint JNICALL Java_com_quenvira_bench_NativeLoops_getdentsFstatat(JNIEnv *env, jclass, jstring dir)
{
    Chars path(env, dir);
    int fd = open(path.get(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    char *buffer = static_cast<char *>(malloc(kDirentBufferSize));
    jint count = 0;
    struct stat st;
    for (;;) {
        long read = syscall(SYS_getdents64, fd, buffer, kDirentBufferSize);
        if (read <= 0) {
            break;
        }
        for (long offset = 0; offset < read;) {
            auto *entry = reinterpret_cast<LinuxDirent64 *>(buffer + offset);
            offset += entry->d_reclen;
            if (!isDotOrDotDot(entry->d_name) && fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
                ++count;
            }
        }
    }
    free(buffer);
    close(fd);
    return count;
}

// `times` lstat calls of one path; returns how many succeeded.
JNIEXPORT jint JNICALL Java_com_quenvira_bench_NativeLoops_lstatRepeated(JNIEnv *env, jclass, jstring file, jint times)
{
    Chars path(env, file);
    struct stat st;
    jint ok = 0;
    for (jint i = 0; i < times; ++i) {
        ok += lstat(path.get(), &st) == 0 ? 1 : 0;
    }
    return ok;
}

// sendfile in 1 MiB steps; returns the bytes copied.
JNIEXPORT jlong JNICALL Java_com_quenvira_bench_NativeLoops_sendfileSteps(JNIEnv *env, jclass, jstring src, jstring dst)
{
    Chars from(env, src);
    Chars to(env, dst);
    int in = open(from.get(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        return -1;
    }
    int out = open(to.get(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        close(in);
        return -1;
    }
    struct stat st;
    fstat(in, &st);
    off_t offset = 0;
    while (offset < st.st_size) {
        ssize_t moved = sendfile(out, in, &offset, kCopyStep);
        if (moved <= 0) {
            break;
        }
    }
    close(out);
    close(in);
    return offset;
}

// fread 64 KiB blocks of both files and memcmp them; true when identical.
JNIEXPORT jboolean JNICALL Java_com_quenvira_bench_NativeLoops_freadMemcmp(JNIEnv *env, jclass, jstring a, jstring b)
{
    Chars first(env, a);
    Chars second(env, b);
    FILE *one = fopen(first.get(), "r");
    FILE *two = fopen(second.get(), "r");
    char *blocks = static_cast<char *>(malloc(2 * kCompareBlock));
    bool same = one != nullptr && two != nullptr && blocks != nullptr;
    while (same) {
        size_t n1 = fread(blocks, 1, kCompareBlock, one);
        size_t n2 = fread(blocks + kCompareBlock, 1, kCompareBlock, two);
        same = n1 == n2 && memcmp(blocks, blocks + kCompareBlock, n1) == 0;
        if (n1 < kCompareBlock) {
            break;
        }
    }
    free(blocks);
    if (two != nullptr) {
        fclose(two);
    }
    if (one != nullptr) {
        fclose(one);
    }
    return same ? JNI_TRUE : JNI_FALSE;
}

} // extern "C"
