// Plain C loops that the benchmark runs beside the library in the same JVM:
// the floor each operation of the library is measured against. Built as its
// own small JNI library so that libbasefs exports only what it must.
#include "CopyTransfer.h"
#include "FileRecords.h"
#include "FileSystemCompare.h"

#include <jni.h>

#include <cerrno>
#include <climits>
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
// The library's own step and block, so that each loop does what the library does.
constexpr size_t kCopyStep = basefs::kCopyStepSize;
constexpr size_t kCompareBlock = basefs::kCompareBlockSize;

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

// A FileInfo of `st` built as the library builds one: NewObjectA with the
// permission bits in the attribute word. Null with the JVM's error pending.
jobject newRecord(JNIEnv *env, jclass infoClass, jmethodID construct, jstring name, const struct stat &st)
{
    jvalue args[4];
    args[0].l = name;
    args[1].i = static_cast<jint>(st.st_mode & 07777) << 16;
    args[2].j = st.st_size;
    args[3].j = static_cast<jlong>(st.st_mtime) * 1000;
    return env->NewObjectA(infoClass, construct, args);
}

// The same FileInfo made by a static factory in compiled Java (NativeLoops.record):
// one upcall, in which Java allocates and runs the constructor inlined, and the
// exception check that an upcall calls for (-Xcheck:jni), as NewObjectA does not.
jobject newRecordByFactory(JNIEnv *env, jclass factoryClass, jmethodID factory, jstring name, const struct stat &st)
{
    jvalue args[4];
    args[0].l = name;
    args[1].i = static_cast<jint>(st.st_mode & 07777) << 16;
    args[2].j = st.st_size;
    args[3].j = static_cast<jlong>(st.st_mtime) * 1000;
    jobject record = env->CallStaticObjectMethodA(factoryClass, factory, args);
    return env->ExceptionCheck() ? nullptr : record;
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

// The library's listing built up one step at a time, to tell what each step
// costs: 0 readdir + fstatat on the directory's descriptor (what the library
// does without Java); 1 and each record written into a batch, as the library
// writes it (the batch emptied when full); 2 and each full batch, and the
// last, made into records by one upcall to the library's ListingRecords,
// stored into an array of `capacity` elements made beforehand, so that
// nothing grows or is copied. Returns the number of entries listed, or -1.
JNIEXPORT jint JNICALL Java_com_quenvira_bench_NativeLoops_listSteps(JNIEnv *env, jclass, jstring dir, jint steps,
                                                                      jint capacity)
{
    jclass maker = steps >= 2 ? env->FindClass("com/quenvira/internal/io/ListingRecords") : nullptr;
    jmethodID make = maker != nullptr ? env->GetStaticMethodID(maker, "make", "([BI[Ljava/lang/Object;IZ)V") : nullptr;
    jclass infoClass = env->FindClass("com/quenvira/io/FileInfo");
    jobjectArray records = steps >= 2 ? env->NewObjectArray(capacity, infoClass, nullptr) : nullptr;
    jbyteArray javaBatch =
        steps >= 2 ? env->NewByteArray(static_cast<jsize>(basefs::RecordBatch::kCapacityBytes)) : nullptr;
    if (steps >= 2 && (make == nullptr || records == nullptr || javaBatch == nullptr)) {
        return -1;
    }
    Chars path(env, dir);
    DIR *stream = opendir(path.get());
    if (stream == nullptr) {
        return -1;
    }
    const int fd = dirfd(stream);
    basefs::RecordBatch batch;
    jint count = 0;
    jint made = 0;
    // Hands the batch over when records are made, else just empties it.
    auto flush = [&] {
        if (steps >= 2 && batch.entries() > 0 && made + batch.entries() <= capacity) {
            env->SetByteArrayRegion(javaBatch, 0, static_cast<jsize>(batch.bytes()),
                                    reinterpret_cast<const jbyte *>(batch.data()));
            env->CallStaticVoidMethod(maker, make, javaBatch, batch.entries(), records, made, JNI_FALSE);
            made += batch.entries();
        }
        batch.clear();
        return !env->ExceptionCheck();
    };
    struct stat st;
    while (struct dirent *entry = readdir(stream)) {
        if (isDotOrDotDot(entry->d_name)) {
            continue;
        }
        if (fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        if (steps >= 1) {
            const size_t length = strlen(entry->d_name);
            const basefs::RecordFields fields = basefs::recordFields(st, entry->d_name[0] == '.', 0);
            if (!batch.append(fields, false, entry->d_name, length) &&
                !(flush() && batch.append(fields, false, entry->d_name, length))) {
                break;
            }
        }
        ++count;
    }
    closedir(stream);
    if (!flush()) {
        return -1;
    }
    return count;
}

// nGetFileInfo built up one step at a time, called once per file from Java:
// 0 nothing but the native call; 1 and converting the path (GetStringLength,
// GetStringRegion into the frame, ASCII bytes out); 2 and lstat; 3 and the
// name's first character (GetStringLength, GetStringRegion of one unit); 4 and
// the record (NewObjectA of a FileInfo, dropped here); 5 step 3 and the same
// record by one upcall to a static factory in compiled Java instead.
// Returns the file's size (3, the benchmark file's size, at step 0), or -1.
JNIEXPORT jlong JNICALL Java_com_quenvira_bench_NativeLoops_statSteps(JNIEnv *env, jclass, jstring file,
                                                                       jstring name, jint steps)
{
    static jclass infoClass = nullptr;
    static jmethodID construct = nullptr;
    static jclass factoryClass = nullptr;
    static jmethodID factory = nullptr;
    if (steps == 0) {
        return 3;
    }
    constexpr jsize kUnits = 512;
    const jsize length = env->GetStringLength(file);
    if (length >= kUnits) {
        return -1;
    }
    jchar units[kUnits];
    char bytes[kUnits];
    env->GetStringRegion(file, 0, length, units);
    for (jsize i = 0; i < length; ++i) {
        bytes[i] = static_cast<char>(units[i]);
    }
    bytes[length] = '\0';
    if (steps == 1) {
        return 3;
    }
    struct stat st;
    if (syscall(SYS_newfstatat, static_cast<long>(AT_FDCWD), bytes, &st, static_cast<long>(AT_SYMLINK_NOFOLLOW)) != 0) {
        return -1;
    }
    if (steps == 2) {
        return st.st_size;
    }
    jchar first = 0;
    if (env->GetStringLength(name) > 0) {
        env->GetStringRegion(name, 0, 1, &first);
    }
    if (steps == 3) {
        return first == '.' ? -1 : st.st_size;
    }
    if (steps == 5) {
        if (factoryClass == nullptr) {
            jclass local = env->FindClass("com/quenvira/bench/NativeLoops");
            if (local == nullptr) {
                return -1;
            }
            factory = env->GetStaticMethodID(local, "record", "(Ljava/lang/String;IJJ)Lcom/quenvira/io/FileInfo;");
            factoryClass = static_cast<jclass>(env->NewGlobalRef(local));
            env->DeleteLocalRef(local);
            if (factory == nullptr || factoryClass == nullptr) {
                return -1;
            }
        }
        jobject record = newRecordByFactory(env, factoryClass, factory, name, st);
        if (record == nullptr) {
            return -1;
        }
        env->DeleteLocalRef(record);
        return st.st_size;
    }
    if (infoClass == nullptr) {
        jclass local = env->FindClass("com/quenvira/io/FileInfo");
        if (local == nullptr) {
            return -1;
        }
        construct = env->GetMethodID(local, "<init>", "(Ljava/lang/String;IJJ)V");
        infoClass = static_cast<jclass>(env->NewGlobalRef(local));
        env->DeleteLocalRef(local);
        if (construct == nullptr || infoClass == nullptr) {
            return -1;
        }
    }
    jobject record = newRecord(env, infoClass, construct, name, st);
    if (record == nullptr) {
        return -1;
    }
    env->DeleteLocalRef(record);
    return st.st_size;
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
