// Copying a file: the choice of method, pseudo-files, devices and FIFOs; the
// destination opened or created exclusively (also racing another process's
// creation), the creation mode, the copy flags, and the failures before a copy.
#include "FileSystemCopyFixture.h"

namespace {

// ---- Choosing the method ------------------------------------------------------

TEST_F(FileSystemCopyTest, MethodRefusedAtTheFirstTransferGivesWayToTheNext)
{
    struct Case {
        const char *name;
        int copyFileRangeRefusal; // 0: not refused
        int sendfileRefusal;
        TransferMethod used;
    } cases[] = {
        {"copy_file_range", 0, 0, TransferMethod::kCopyFileRange},
        {"EXDEV", EXDEV, 0, TransferMethod::kSendfile},
        {"EINVAL", EINVAL, 0, TransferMethod::kSendfile},
        {"EOPNOTSUPP", EOPNOTSUPP, 0, TransferMethod::kSendfile},
        {"ENOSYS", ENOSYS, 0, TransferMethod::kSendfile},
        {"EPERM (seccomp)", EPERM, 0, TransferMethod::kSendfile},
        {"sendfile EINVAL", EXDEV, EINVAL, TransferMethod::kReadWrite},
        {"sendfile ENOSYS", ENOSYS, ENOSYS, TransferMethod::kReadWrite},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        UseTransferMethod fresh(TransferMethod::kCopyFileRange);
        g_copyFileRange.refuseWith = c.copyFileRangeRefusal;
        g_sendfile.refuseWith = c.sendfileRefusal;
        unlink(destination_.c_str());
        EXPECT_EQ(kTwoAndAHalfMiB, Copy(source_, destination_, NewScriptedMonitor()));
        ExpectNoException();
        EXPECT_EQ(4, ScriptOf(c.used).calls);
        EXPECT_EQ(4, TransferCalls());
        EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_);
    }
}

TEST_F(FileSystemCopyTest, CopyFileRangeMovingNothingAtFirstGivesWayToSendfile)
{
    // Kernels 5.3 to 5.18 answered 0 for pseudo-files whatever they held.
    g_copyFileRange.emptyAtCall = 1;
    EXPECT_EQ(kTwoAndAHalfMiB, Copy(source_, destination_, nullptr));
    ExpectNoException();
    EXPECT_EQ(1, g_copyFileRange.calls);
    EXPECT_EQ(2, g_sendfile.calls);
    EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_);
}

TEST_F(FileSystemCopyTest, WriteFailingAfterPartOfAReadReportsTheBytesWritten)
{
    UseTransferMethod method(TransferMethod::kReadWrite);
    g_write.maxPerCall = kMiB / 2;
    faults::FailCCall fault(faults::CFunction::kWrite, 2, ENOSPC);
    jobject monitor = NewScriptedMonitor();
    const int descriptors = OpenDescriptorCount();

    EXPECT_EQ(kMiB / 2, CopyDirect(source_, destination_, monitor));
    ExpectException("java.io.IOException", "No space is left on the file system [28]");
    EXPECT_EQ(0, MonitorCalls(monitor));
    EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_.substr(0, kMiB / 2));
    EXPECT_EQ(descriptors, SettledDescriptorCount(descriptors));
}

TEST_F(FileSystemCopyTest, ReadWriteBufferThatCannotBeMadeThrowsOutOfMemory)
{
    UseTransferMethod method(TransferMethod::kReadWrite);
    faults::FailAllocation fault(kMiB);
    EXPECT_EQ(0, CopyDirect(source_, destination_, nullptr));
    ExpectException("java.lang.OutOfMemoryError", "Cannot allocate buffer for copy");
    EXPECT_TRUE(fault.fired());
}

// ---- Sources and destinations without a size ---------------------------------

TEST_F(FileSystemCopyTest, PseudoFilesAreCopiedToTheirEnd)
{
    // fstat reports 0 bytes for each; /proc/self/status cannot be sent with
    // sendfile, so it goes through read/write.
    struct Case {
        const char *path;
        const char *startsWith;
    } cases[] = {{"/proc/cpuinfo", ""}, {"/proc/self/mounts", ""}, {"/proc/self/status", "Name:"}};
    for (const Case &c : cases) {
        for (bool withMonitor : {true, false}) {
            SCOPED_TRACE(std::string(c.path) + (withMonitor ? " with monitor" : " without monitor"));
            jobject monitor = withMonitor ? NewScriptedMonitor() : nullptr;
            const jlong copied = Copy(c.path, destination_, monitor);
            ExpectNoException();
            const std::string contents = ReadFileContents(destination_);
            EXPECT_LT(0u, contents.size());
            EXPECT_EQ(static_cast<jlong>(contents.size()), copied);
            EXPECT_EQ(0u, contents.rfind(c.startsWith, 0));
            EXPECT_EQ('\n', contents.back());
            if (monitor != nullptr) {
                EXPECT_EQ(1, MonitorCalls(monitor));
            }
        }
    }
    // Unchanging contents are copied exactly.
    const std::string mounts = ReadFileContents("/proc/self/mounts");
    EXPECT_EQ(static_cast<jlong>(mounts.size()), Copy("/proc/self/mounts", destination_, nullptr));
    EXPECT_EQ(mounts, ReadFileContents(destination_));
}

TEST_F(FileSystemCopyTest, FifoIsCopiedUntilItsWriterCloses)
{
    const std::string fifo = dir_ / "fifo";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    const std::string data = sourceContents_.substr(0, kMiB + 123);
    for (bool withMonitor : {true, false}) {
        SCOPED_TRACE(withMonitor ? "with monitor" : "without monitor");
        std::thread writer([&] {
            const int fd = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
            size_t written = 0;
            while (fd >= 0 && written < data.size()) {
                const ssize_t n = ::write(fd, data.data() + written, std::min<size_t>(data.size() - written, 4096));
                if (n <= 0) {
                    break;
                }
                written += static_cast<size_t>(n);
            }
            close(fd);
        });
        jobject monitor = withMonitor ? NewScriptedMonitor() : nullptr;
        EXPECT_EQ(static_cast<jlong>(data.size()), Copy(fifo, destination_, monitor));
        writer.join();
        ExpectNoException();
        EXPECT_TRUE(ReadFileContents(destination_) == data);
        if (monitor != nullptr) {
            EXPECT_EQ(2, MonitorCalls(monitor));
        }
    }
}

TEST_F(FileSystemCopyTest, SourceWithoutAnEndCopiesUntilTheMonitorStops)
{
    EXPECT_EQ(3 * kMiB, Copy("/dev/zero", destination_, NewScriptedMonitor(3, 0)));
    ExpectNoException();
    EXPECT_TRUE(ReadFileContents(destination_) == std::string(3 * kMiB, '\0'));
}

TEST_F(FileSystemCopyTest, PseudoFileFailingAtFirstLeavesAnExistingDestinationUntouched)
{
    dir_.WriteFile("destination", "keep");
    UseTransferMethod method(TransferMethod::kSendfile);
    faults::FailCCall fault(faults::CFunction::kSendfile64, 1, EIO);
    EXPECT_EQ(0, Copy("/proc/cpuinfo", destination_, nullptr));
    ExpectException("java.io.IOException", "An I/O error occurred [5]");
    EXPECT_EQ("keep", ReadFileContents(destination_));
}

TEST_F(FileSystemCopyTest, CopyToAFullDeviceReportsNoSpace)
{
    // sendfile refuses /dev/full; the write that follows finds it full.
    for (bool withMonitor : {true, false}) {
        SCOPED_TRACE(withMonitor ? "with monitor" : "without monitor");
        EXPECT_EQ(0, CopyDirect(source_, "/dev/full", withMonitor ? NewScriptedMonitor() : nullptr));
        ExpectException("java.io.IOException", "No space is left on the file system [28]");
    }
}

// ---- Before the copy ------------------------------------------------------------

TEST_F(FileSystemCopyTest, DirectorySourceIsRefusedBeforeAnyTransfer)
{
    std::string directory = dir_ / "directory";
    ASSERT_EQ(0, mkdir(directory.c_str(), 0755));
    dir_.WriteFile("directory/entry", "x");
    const int descriptors = OpenDescriptorCount();

    EXPECT_EQ(0, Copy(directory, destination_, NewScriptedMonitor()));
    ExpectException("java.io.IOException", "Invalid argument [22]");
    EXPECT_EQ(0, TransferCalls());
    EXPECT_NE(0, access(destination_.c_str(), F_OK));
    EXPECT_EQ(descriptors, OpenDescriptorCount());
}

TEST_F(FileSystemCopyTest, ExclusiveCopyRefusesAnExistingDestination)
{
    dir_.WriteFile("destination", "keep");
    EXPECT_EQ(0, Copy(source_, destination_, nullptr, COPY_EXCLUSIVE));
    ExpectException("java.io.IOException", "Path already exists [17]");
    EXPECT_EQ("keep", ReadFileContents(destination_));
    EXPECT_EQ(0, TransferCalls());

    std::string fresh = dir_ / "fresh";
    EXPECT_EQ(kTwoAndAHalfMiB, Copy(source_, fresh, nullptr, COPY_EXCLUSIVE));
    ExpectNoException();
}

TEST_F(FileSystemCopyTest, NewDestinationTakesTheSourceModeLessTheUmask)
{
    // Permission bits only, as cp gives them: a set-ID program copied by root
    // (this suite runs as root) must not run as root for its user.
    const struct {
        mode_t source;
        mode_t expected;
    } cases[] = {{0777, 0755}, {06755, 0755}, {07777, 0755}, {01644, 0644}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.source);
        ASSERT_EQ(0, chmod(source_.c_str(), c.source));
        ASSERT_EQ(c.source, ModeOf(source_));
        unlink(destination_.c_str());
        const mode_t previousMask = umask(022);
        Copy(source_, destination_, nullptr);
        umask(previousMask);
        ExpectNoException();
        EXPECT_EQ(c.expected, ModeOf(destination_));
    }

    // An existing destination keeps its own mode.
    std::string existing = dir_.WriteFile("existing", "");
    ASSERT_EQ(0, chmod(existing.c_str(), 0600));
    Copy(source_, existing, nullptr);
    ExpectNoException();
    EXPECT_EQ(0600u, ModeOf(existing));
}

TEST_F(FileSystemCopyTest, DestinationIsOpenedIfItExistsElseCreatedExclusively)
{
    // Nothing is ever created where a symbolic link points: a link planted
    // as the destination could aim root's copy at /etc/cron.d.
    const std::string other = dir_ / "other";
    ASSERT_EQ(0, mkdir(other.c_str(), 0755));
    const std::string target = other + "/target";
    enum class Kind { kNew, kExisting, kLinkToExisting, kDanglingLink, kLinkToDanglingLink };
    struct Case {
        const char *name;
        Kind kind;
        jint flags;
        bool refused; // "Path already exists [17]"
    } cases[] = {
        {"new", Kind::kNew, 0, false},
        {"existing", Kind::kExisting, 0, false},
        {"link to an existing file", Kind::kLinkToExisting, 0, false},
        {"dangling link", Kind::kDanglingLink, 0, true},
        {"link to a dangling link", Kind::kLinkToDanglingLink, 0, true},
        {"dangling link, exclusive", Kind::kDanglingLink, COPY_EXCLUSIVE, true},
        {"new, exclusive", Kind::kNew, COPY_EXCLUSIVE, false},
    };
    ASSERT_EQ(0, chmod(source_.c_str(), 0754));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        unlink(destination_.c_str());
        unlink(target.c_str());
        unlink((other + "/link").c_str());
        struct stat before {};
        switch (c.kind) {
        case Kind::kNew:
            break;
        case Kind::kExisting:
            dir_.WriteFile("destination", "old");
            ASSERT_EQ(0, chmod(destination_.c_str(), 0600));
            ASSERT_EQ(0, stat(destination_.c_str(), &before));
            break;
        case Kind::kLinkToExisting:
            dir_.WriteFile("other/target", "old");
            ASSERT_EQ(0, chmod(target.c_str(), 0600));
            ASSERT_EQ(0, stat(target.c_str(), &before));
            ASSERT_EQ(0, symlink(target.c_str(), destination_.c_str()));
            break;
        case Kind::kDanglingLink:
            ASSERT_EQ(0, symlink(target.c_str(), destination_.c_str()));
            break;
        case Kind::kLinkToDanglingLink:
            ASSERT_EQ(0, symlink(target.c_str(), (other + "/link").c_str()));
            ASSERT_EQ(0, symlink((other + "/link").c_str(), destination_.c_str()));
            break;
        }
        const mode_t previousMask = umask(022);
        const jlong copied = CopyDirect(source_, destination_, nullptr, c.flags);
        umask(previousMask);
        if (c.refused) {
            EXPECT_EQ(0, copied);
            ExpectException("java.io.IOException", "Path already exists [17]");
            EXPECT_NE(0, access(target.c_str(), F_OK));
            continue;
        }
        EXPECT_EQ(kTwoAndAHalfMiB, copied);
        ExpectNoException();
        EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_);
        struct stat after {};
        ASSERT_EQ(0, stat(destination_.c_str(), &after));
        if (c.kind == Kind::kNew) {
            EXPECT_EQ(0754u, after.st_mode & 07777);
        } else {
            // The same file, written in place, keeping its own mode.
            EXPECT_EQ(before.st_ino, after.st_ino);
            EXPECT_EQ(0600u, after.st_mode & 07777);
        }
        struct stat link {};
        ASSERT_EQ(0, lstat(destination_.c_str(), &link));
        EXPECT_EQ(c.kind == Kind::kLinkToExisting, S_ISLNK(link.st_mode));
    }
}

TEST_F(FileSystemCopyTest, DestinationOpenRacingACreation)
{
    const int descriptors = OpenDescriptorCount();
    // The destination is opened as it is and else created exclusively, each
    // pair tried twice; what another process does between the opens is
    // scripted as their answers. No open ever truncates.
    constexpr int kShown = O_ACCMODE | O_CREAT | O_EXCL | O_TRUNC;
    constexpr int kSource = O_RDONLY;
    constexpr int kExisting = O_WRONLY;
    constexpr int kCreate = O_WRONLY | O_CREAT | O_EXCL;
    struct Case {
        const char *name;
        bool exists;
        jint flags;
        std::vector<int> failWith; // the answers of the opens, in order (0: the real one)
        std::vector<int> opens;
        const char *message; // null: copied
    } cases[] = {
        {"created and removed again between the opens, twice", false, 0, {0, ENOENT, EEXIST, ENOENT, EEXIST},
         {kSource, kExisting, kCreate, kExisting, kCreate}, "Path already exists [17]"},
        {"created and removed again once", false, 0, {0, 0, EEXIST},
         {kSource, kExisting, kCreate, kExisting, kCreate}, nullptr},
        {"created after the first open looked", true, 0, {0, ENOENT},
         {kSource, kExisting, kCreate, kExisting}, nullptr},
        {"new", false, 0, {}, {kSource, kExisting, kCreate}, nullptr},
        {"existing", true, 0, {}, {kSource, kExisting}, nullptr},
        {"exclusive, new", false, COPY_EXCLUSIVE, {}, {kSource, kCreate}, nullptr},
        {"exclusive, existing", true, COPY_EXCLUSIVE, {}, {kSource, kCreate}, "Path already exists [17]"},
    };
    const std::string copy = dir_ / "copy";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        unlink(copy.c_str());
        if (c.exists) {
            dir_.WriteFile("copy", "old");
        }
        g_open = OpenScript{c.failWith, {}};
        const jlong copied = CopyDirect(source_, copy, nullptr, c.flags);
        std::vector<int> opens;
        for (int flags : g_open.flags) {
            opens.push_back(flags & kShown);
        }
        g_open = OpenScript{};
        EXPECT_EQ(c.opens, opens);
        if (c.message != nullptr) {
            EXPECT_EQ(0, copied);
            ExpectException("java.io.IOException", c.message);
            EXPECT_EQ(c.exists, Exists(copy));
            if (c.exists) {
                EXPECT_EQ("old", ReadFileContents(copy));
            }
        } else {
            EXPECT_EQ(kTwoAndAHalfMiB, copied);
            EXPECT_FALSE(TakeException().has_value());
            EXPECT_TRUE(ReadFileContents(copy) == sourceContents_);
        }
        EXPECT_EQ(descriptors, OpenDescriptorCount()) << "descriptors left open";
    }
}

// A directory has no contents to copy: the copy refuses it before a
// destination exists, also where the system reports a directory size of 0
// (/proc), which would otherwise "copy" it as an empty file; the open refuses
// a directory as the destination.
TEST_F(FileSystemCopyTest, DirectoryAsEitherFile)
{
    const std::string directory = dir_ / "directory";
    ASSERT_EQ(0, mkdir(directory.c_str(), 0755));
    dir_.WriteFile("directory/entry", "e");
    struct stat proc {};
    ASSERT_EQ(0, lstat("/proc/sys", &proc));
    ASSERT_EQ(0, proc.st_size);
    const struct {
        const char *name;
        std::string src;
        std::string dst;
        const char *message;
    } cases[] = {
        {"from a directory", directory, destination_, "Invalid argument [22]"},
        {"from a directory of size 0", "/proc/sys", destination_, "Invalid argument [22]"},
        {"onto a directory", source_, directory, "Unknown [21]"}, // EISDIR has no description of its own
        {"a directory onto itself", directory, directory, "Invalid argument [22]"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(0, CopyDirect(c.src, c.dst, nullptr));
        ExpectException("java.io.IOException", c.message);
        EXPECT_FALSE(Exists(destination_));
    }
    EXPECT_EQ("e", ReadFileContents(directory + "/entry"));
}

// Of the copy flags only COPY_EXCLUSIVE has a meaning.
TEST_F(FileSystemCopyTest, FlagsWithEveryBitSet)
{
    const std::string existing = dir_.WriteFile("existing", "old");
    EXPECT_EQ(0, CopyDirect(source_, existing, nullptr, -1));
    ExpectException("java.io.IOException", "Path already exists [17]");
    EXPECT_EQ(kTwoAndAHalfMiB, CopyDirect(source_, destination_, nullptr, -1));
    ExpectNoException();
    EXPECT_EQ(kTwoAndAHalfMiB, CopyDirect(source_, existing, nullptr, ~COPY_EXCLUSIVE));
    ExpectNoException();
    EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_);
    EXPECT_TRUE(ReadFileContents(existing) == sourceContents_);
}

TEST_F(FileSystemCopyTest, MissingSourceCreatesNothing)
{
    const int descriptors = OpenDescriptorCount();
    EXPECT_EQ(0, Copy(dir_ / "missing", destination_, NewScriptedMonitor()));
    ExpectException("java.io.IOException", "Path does not exist [2]");
    EXPECT_NE(0, access(destination_.c_str(), F_OK));

    EXPECT_EQ(0, Copy(source_, dir_ / "missing-directory/destination", nullptr));
    ExpectException("java.io.IOException", "Path does not exist [2]");
    EXPECT_EQ(descriptors, OpenDescriptorCount());
}

TEST_F(FileSystemCopyTest, NullPaths)
{
    EXPECT_EQ(0, natives::CopyFileCallback(nullptr, JStr(destination_.c_str()), 0, nullptr));
    ExpectException("java.lang.NullPointerException", "src path");
    EXPECT_EQ(0, natives::CopyFileCallback(JStr(source_.c_str()), nullptr, 0, nullptr));
    ExpectException("java.lang.NullPointerException", "dst path");
}

} // namespace
