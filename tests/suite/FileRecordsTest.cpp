// Records from a status or a directory entry: the fields (the permission map
// in both directions, what the info mask asks for), the batch that
// ListingRecords turns into records in compiled Java, and how nInitStatic
// chooses between that and JNI. The suite runs twice: with the library's jar
// (records made in Java) and without its record-making class (through JNI).
#include "JniFaults.h"
#include "JvmHarness.h"
#include "RecordChecks.h"

#include "FileRecords.h"
#include "FileSystemCommon.h"
#include "NameCodec.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <string>

namespace {

using namespace jvmtest;

constexpr const char *kRecordMaker = "com/quenvira/internal/io/ListingRecords";

class FileRecordsTest : public JvmTest {
protected:
    // The library's record-making class, or null (nothing left pending) where
    // this executable's class path has none.
    jclass RecordMakerClass()
    {
        jclass maker = env()->FindClass(kRecordMaker);
        if (maker == nullptr) {
            TakeException();
        }
        return maker;
    }
};

// Where the class is there, a listing makes no name through JNI: a failing
// NewString goes unnoticed. Without it, the first name already fails.
TEST_F(FileRecordsTest, ListingsMakeRecordsInJavaWhereTheLibrarysClassIsThere)
{
    TempDir dir;
    dir.WriteFile("a", "1");
    dir.WriteFile("b", "2");
    const bool inJava = RecordMakerClass() != nullptr;
    EXPECT_EQ(inJava, RecordsMadeInJava());
    jstring path = JStr(dir.path().c_str());
    jobjectArray records = nullptr;
    {
        faults::FailJniCall fault(faults::JniFunction::kNewString, 1);
        records = natives::ListFileInfos(path, 0, nullptr, 0);
        EXPECT_EQ(!inJava, fault.fired());
    }
    if (inJava) {
        ExpectNoException();
        ASSERT_NE(nullptr, records);
        EXPECT_EQ(2, env()->GetArrayLength(records));
    } else {
        EXPECT_EQ(nullptr, records);
        ExpectException("java.lang.OutOfMemoryError", faults::kInjectedMessage);
    }
}

// ---- Choosing the way -------------------------------------------------------------

struct MakerCase {
    const char *className;
    basefs::RecordMaker expected;
    const char *pendingClass; // the exception left pending, or null
};

TEST_F(FileRecordsTest, MakerIsJniUnlessTheClassServesAndFailsOnlyOnOtherErrors)
{
    const MakerCase cases[] = {
        {"com/quenvira/test/RecordMakers$Missing", basefs::RecordMaker::kJni, nullptr},
        {"com/quenvira/test/RecordMakers$OtherLayout", basefs::RecordMaker::kJni, nullptr},
        {"com/quenvira/test/RecordMakers$NoMake", basefs::RecordMaker::kJni, nullptr},
        {"com/quenvira/test/RecordMakers$FailingInitialiser", basefs::RecordMaker::kJni, nullptr},
        {"com/quenvira/test/RecordMakers$CannotMake", basefs::RecordMaker::kJni, nullptr},
        {"com/quenvira/test/RecordMakers$CheckRunsOutOfMemory", basefs::RecordMaker::kFailed,
         "java.lang.OutOfMemoryError"},
    };
    for (const MakerCase &c : cases) {
        SCOPED_TRACE(c.className);
        EXPECT_EQ(c.expected, basefs::findRecordMaker(env(), c.className));
        auto thrown = TakeException();
        EXPECT_EQ(c.pendingClass != nullptr, thrown.has_value());
        if (c.pendingClass != nullptr && thrown.has_value()) {
            EXPECT_EQ(c.pendingClass, thrown->className);
        }
    }
    const basefs::RecordMaker own = RecordMakerClass() != nullptr ? basefs::RecordMaker::kCompiledJava
                                                                 : basefs::RecordMaker::kJni;
    EXPECT_EQ(own, basefs::findRecordMaker(env(), kRecordMaker));
    ExpectNoException();
}

TEST_F(FileRecordsTest, CompiledJavaNeedsPublicRecordsOfOneHierarchy)
{
    jclass maker = RecordMakerClass();
    if (maker == nullptr) {
        GTEST_SKIP() << "no record-making class on this class path";
    }
    jmethodID check =
        env()->GetStaticMethodID(maker, "canMakeRecords", "(Ljava/lang/Class;Ljava/lang/Class;)Z");
    ASSERT_NE(nullptr, check);
    const struct {
        const char *info;
        const char *infoEx;
        bool expected;
    } cases[] = {
        {"com/quenvira/io/FileInfo", "com/quenvira/io/FileInfoEx", true},
        {"com/quenvira/test/RecordMakers$PublicInfo", "com/quenvira/test/RecordMakers$PublicInfoEx", true},
        {"com/quenvira/test/RecordMakers$HiddenInfo", "com/quenvira/test/RecordMakers$PublicInfoEx", false},
        {"com/quenvira/test/RecordMakers$PublicInfo", "com/quenvira/test/RecordMakers$ClosedInfoEx", false},
        {"com/quenvira/test/RecordMakers$PublicInfo", "com/quenvira/test/RecordMakers$UnrelatedInfoEx", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.info) + ", " + c.infoEx);
        jclass info = env()->FindClass(c.info);
        jclass infoEx = env()->FindClass(c.infoEx);
        ASSERT_NE(nullptr, info);
        ASSERT_NE(nullptr, infoEx);
        EXPECT_EQ(c.expected, env()->CallStaticBooleanMethod(maker, check, info, infoEx) == JNI_TRUE);
        ExpectNoException();
    }
}

// ---- The fields ---------------------------------------------------------------------

TEST_F(FileRecordsTest, FallbackFieldsTypeTheEntryFromItsDirectoryEntryAlone)
{
    const struct {
        unsigned char type;
        jint attributes;
    } cases[] = {
        {DT_DIR, ATTR_DIRECTORY}, {DT_LNK, ATTR_SYMLINK}, {DT_REG, 0}, {DT_FIFO, 0}, {DT_UNKNOWN, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.type));
        const basefs::RecordFields fields = basefs::fallbackFields(c.type);
        EXPECT_EQ(c.attributes, fields.attributes);
        EXPECT_EQ(0, fields.size);
        EXPECT_EQ(0, fields.modified);
        EXPECT_EQ(0, fields.accessed);
        EXPECT_EQ(0, fields.owner);
        EXPECT_EQ(0, fields.group);
    }
}

// ---- The batch --------------------------------------------------------------------

class RecordBatchTest : public FileRecordsTest {
protected:
    // The records ListingRecords makes of the batch, or null when there is no
    // record-making class here.
    jobjectArray Make(const basefs::RecordBatch &batch, bool extended)
    {
        jclass maker = RecordMakerClass();
        if (maker == nullptr) {
            return nullptr;
        }
        jclass fileInfo = env()->FindClass("com/quenvira/io/FileInfo");
        jobjectArray records = env()->NewObjectArray(batch.entries(), fileInfo, nullptr);
        jbyteArray javaBatch = env()->NewByteArray(static_cast<jsize>(basefs::RecordBatch::kCapacityBytes));
        jmethodID make = env()->GetStaticMethodID(maker, "make", "([BI[Ljava/lang/Object;IZ)V");
        env()->SetByteArrayRegion(javaBatch, 0, static_cast<jsize>(batch.bytes()),
                                  reinterpret_cast<const jbyte *>(batch.data()));
        env()->CallStaticVoidMethod(maker, make, javaBatch, batch.entries(), records, 0,
                                    static_cast<jboolean>(extended));
        return records;
    }
};

// Names as the JNI path makes them: ASCII as Latin-1 bytes, the rest as the
// name codec's UTF-16, so that both paths give the same strings.
const std::string kBatchNames[] = {
    "plain",
    ".hidden",
    std::string(255, 'a'),
    "caf\xc3\xa9",                       // two-byte UTF-8
    "smile-\xf0\x9f\x98\x80",            // four-byte UTF-8: a surrogate pair
    "f\xff.t",                           // not UTF-8
    "\x80",                              // a lone continuation byte
    std::string(254, 'a') + "\xc3",      // cut short at the end
    [] {                                 // 255 bytes, none of them ASCII
        std::string name;
        while (name.size() + 2 <= 255) {
            name += "\xc3\xa9";
        }
        return name + "\xff";
    }(),
};

// A batch of kBatchNames, the fields of each made from its index, every fourth a fallback.
void FillBatch(basefs::RecordBatch &batch)
{
    ASSERT_TRUE(batch.allocated());
    jint index = 0;
    for (const std::string &name : kBatchNames) {
        const basefs::RecordFields fields{.attributes = ATTR_OWNER_READ | index,
                                          .size = (jlong{1} << 40) + index,
                                          .modified = -1000 * index,
                                          .accessed = 2000 + index,
                                          .owner = 100 + index,
                                          .group = 200 + index};
        ASSERT_TRUE(batch.append(fields, index % 4 == 3, name.data(), name.size()));
        ++index;
    }
}

// The extended records of FillBatch's batch, as JNI would make them.
void ExpectBatchRecords(JNIEnv *env, jobjectArray records, jint count)
{
    for (jint i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        const std::string &name = kBatchNames[static_cast<size_t>(i)];
        const Record record = ReadRecord(env->GetObjectArrayElement(records, i));
        std::u16string units(name.size(), u'\0');
        units.resize(basefs::decodeNameBytes(name.data(), name.size(), units.data()));
        EXPECT_EQ(units, StdStr16(RecordName(env->GetObjectArrayElement(records, i))));
        EXPECT_EQ(ATTR_OWNER_READ | i, record.attributes);
        EXPECT_EQ((jlong{1} << 40) + i, record.size);
        EXPECT_EQ(-1000 * i, record.modified);
        // A fallback record is a plain FileInfo whatever the listing asks for.
        const bool fallback = i % 4 == 3;
        EXPECT_EQ(!fallback, record.extended);
        if (!fallback) {
            EXPECT_EQ(2000 + i, record.accessed);
            EXPECT_EQ(0, record.created);
            EXPECT_EQ(100 + i, record.owner);
            EXPECT_EQ(200 + i, record.group);
        }
    }
}

TEST_F(RecordBatchTest, NamesAndFieldsComeBackAsJniWouldMakeThem)
{
    if (RecordMakerClass() == nullptr) {
        GTEST_SKIP() << "no record-making class on this class path";
    }
    basefs::RecordBatch batch;
    FillBatch(batch);
    jobjectArray records = Make(batch, true);
    ExpectNoException();
    ASSERT_NE(nullptr, records);
    ExpectBatchRecords(env(), records, batch.entries());
}

// A class of the maker's name from elsewhere on the class path that stores
// nothing: the records are made through JNI all the same, and from then on.
TEST_F(RecordBatchTest, AMakerThatStoresNothingIsReplacedByJni)
{
    jclass storesNothing = env()->FindClass("com/quenvira/test/RecordMakers$StoresNothing");
    ASSERT_NE(nullptr, storesNothing);
    const jmethodID make = env()->GetStaticMethodID(storesNothing, "make", basefs::kMakeRecordsSignature);
    ASSERT_NE(nullptr, make);
    basefs::g_ClassRecordMaker = storesNothing;
    basefs::g_MethodMakeRecords = make;
    EXPECT_TRUE(basefs::recordsMadeInJava());
    basefs::RecordBatch batch;
    FillBatch(batch);
    jobjectArray records = env()->NewObjectArray(batch.entries() + 1, env()->FindClass("com/quenvira/io/FileInfo"),
                                                 nullptr);
    jbyteArray javaBatch = env()->NewByteArray(static_cast<jsize>(batch.bytes()));
    const bool made = basefs::makeBatchRecords(env(), batch, javaBatch, records, 1, true);
    basefs::g_ClassRecordMaker = nullptr;
    basefs::g_MethodMakeRecords = nullptr;
    ExpectNoException();
    ASSERT_TRUE(made);
    EXPECT_EQ(nullptr, env()->GetObjectArrayElement(records, 0)) << "written before the batch's start";
    jobjectArray batchRecords = env()->NewObjectArray(batch.entries(), env()->FindClass("com/quenvira/io/FileInfo"),
                                                      nullptr);
    for (jint i = 0; i < batch.entries(); ++i) {
        env()->SetObjectArrayElement(batchRecords, i, env()->GetObjectArrayElement(records, i + 1));
    }
    ExpectBatchRecords(env(), batchRecords, batch.entries());
}

TEST_F(RecordBatchTest, PlainListingsGetPlainRecords)
{
    if (RecordMakerClass() == nullptr) {
        GTEST_SKIP() << "no record-making class on this class path";
    }
    basefs::RecordBatch batch;
    ASSERT_TRUE(batch.append(basefs::RecordFields{.attributes = ATTR_DIRECTORY,
                                                  .size = 0,
                                                  .modified = 5000,
                                                  .accessed = 0,
                                                  .owner = 0,
                                                  .group = 0},
                             false, "d", 1));
    jobjectArray records = Make(batch, false);
    ExpectNoException();
    const Record record = ReadRecord(env()->GetObjectArrayElement(records, 0));
    EXPECT_EQ("d", record.name);
    EXPECT_EQ(ATTR_DIRECTORY, record.attributes);
    EXPECT_EQ(5000, record.modified);
    EXPECT_FALSE(record.extended);
}

TEST_F(RecordBatchTest, AFullBatchTakesNothingMoreAndEveryNameFitsAnEmptyOne)
{
    basefs::RecordBatch batch;
    const std::string name(255, '\xff'); // the widest entry a 255-byte name makes
    const basefs::RecordFields fields{};
    jint appended = 0;
    while (batch.append(fields, false, name.data(), name.size())) {
        ++appended;
    }
    EXPECT_GT(appended, 10);
    EXPECT_EQ(appended, batch.entries());
    const size_t bytes = batch.bytes();
    EXPECT_LE(bytes, basefs::RecordBatch::kCapacityBytes);
    // The refused entry left nothing behind.
    EXPECT_FALSE(batch.append(fields, false, name.data(), name.size()));
    EXPECT_EQ(bytes, batch.bytes());
    EXPECT_EQ(appended, batch.entries());
    batch.clear();
    EXPECT_EQ(0, batch.entries());
    EXPECT_TRUE(batch.append(fields, false, name.data(), name.size()));

    EXPECT_TRUE(basefs::RecordBatch::fitsEmpty(NAME_MAX));
    EXPECT_FALSE(basefs::RecordBatch::fitsEmpty(basefs::RecordBatch::kCapacityBytes));
}

// ---- The fields of real files ---------------------------------------------------

constexpr jint kAllPermissions = ATTR_OWNER_READ | ATTR_OWNER_WRITE | ATTR_OWNER_EXECUTE | ATTR_GROUP_READ |
                                 ATTR_GROUP_WRITE | ATTR_GROUP_EXECUTE | ATTR_OTHERS_READ | ATTR_OTHERS_WRITE |
                                 ATTR_OTHERS_EXECUTE;
constexpr jint kOwnerReadWrite = ATTR_OWNER_READ | ATTR_OWNER_WRITE;
constexpr jint kAllPermissionBits = 0x0FFF0000;

class RecordFieldsTest : public FileRecordsTest {
protected:
    static mode_t ModeOf(const std::string &path)
    {
        struct stat st {};
        EXPECT_EQ(0, lstat(path.c_str(), &st)) << path;
        return st.st_mode & 07777;
    }

    TempDir dir_;
};

struct ModeCase {
    mode_t mode;
    jint attributes;
};

class PermissionMapTest : public RecordFieldsTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(PermissionMapTest, EachModeBitHasItsAttributeBit)
{
    std::string path = dir_.WriteFile("f", "");
    ASSERT_EQ(0, chmod(path.c_str(), GetParam().mode));
    EXPECT_EQ(GetParam().attributes, Info(path, "f", 0).attributes);
}

INSTANTIATE_TEST_SUITE_P(
    TwelveBits, PermissionMapTest,
    ::testing::Values(ModeCase{0, 0}, ModeCase{0400, ATTR_OWNER_READ}, ModeCase{0200, ATTR_OWNER_WRITE},
                      ModeCase{0100, ATTR_OWNER_EXECUTE}, ModeCase{040, ATTR_GROUP_READ},
                      ModeCase{020, ATTR_GROUP_WRITE}, ModeCase{010, ATTR_GROUP_EXECUTE},
                      ModeCase{04, ATTR_OTHERS_READ}, ModeCase{02, ATTR_OTHERS_WRITE},
                      ModeCase{01, ATTR_OTHERS_EXECUTE}, ModeCase{04000, ATTR_SET_UID},
                      ModeCase{02000, ATTR_SET_GID}, ModeCase{01000, ATTR_STICKY},
                      ModeCase{07777, kAllPermissions | ATTR_SET_UID | ATTR_SET_GID | ATTR_STICKY}));

struct MaskCase {
    jint mask;
    bool extended;
    bool accessed;
    bool owner;
    bool group;
};

class InfoMaskTest : public RecordFieldsTest, public ::testing::WithParamInterface<MaskCase> {};

TEST_P(InfoMaskTest, MaskChoosesTheRecordAndItsValues)
{
    constexpr uid_t kOwner = 0x80000001u; // reported as a negative int
    constexpr gid_t kGroup = 4321;
    std::string path = dir_.WriteFile("f", "abc");
    ASSERT_EQ(0, lchown(path.c_str(), kOwner, kGroup));
    SetTimes(path, 1500000000, 1600000000, 500000000);

    const MaskCase &c = GetParam();
    Record record = Info(path, "f", c.mask);
    EXPECT_EQ(c.extended, record.extended);
    EXPECT_EQ(1600000000000LL, record.modified);
    EXPECT_EQ(c.accessed ? 1500000000000LL : 0, record.accessed);
    EXPECT_EQ(0, record.created);
    EXPECT_EQ(c.owner ? static_cast<jint>(kOwner) : 0, record.owner);
    EXPECT_EQ(c.group ? static_cast<jint>(kGroup) : 0, record.group);
}

INSTANTIATE_TEST_SUITE_P(
    Masks, InfoMaskTest,
    ::testing::Values(MaskCase{0x00, false, false, false, false}, MaskCase{0x01, false, false, false, false},
                      MaskCase{0x02, false, false, false, false}, MaskCase{0x04, false, false, false, false},
                      MaskCase{0x80, false, false, false, false}, MaskCase{0x08, true, true, false, false},
                      MaskCase{0x10, true, false, false, false}, MaskCase{0x20, true, false, true, false},
                      MaskCase{0x40, true, false, false, true}, MaskCase{0x60, true, false, true, true},
                      MaskCase{-1, true, true, true, true}));

struct PermissionCase {
    jint attributes;
    mode_t mode;
};

class PermissionWordTest : public RecordFieldsTest, public ::testing::WithParamInterface<PermissionCase> {};

TEST_P(PermissionWordTest, MapsToTheModeAndBack)
{
    std::string path = dir_.WriteFile("f", "x");
    // Start from the opposite bits, so every bit must be both set and cleared.
    ASSERT_EQ(0, chmod(path.c_str(), ~GetParam().mode & 07777));

    natives::SetFileInfo(JStr(path.c_str()), INFO_ATTRIBUTES, 0, 0, 0, GetParam().attributes);
    ExpectNoException();
    EXPECT_EQ(GetParam().mode, ModeOf(path));

    jobject info = natives::GetFileInfo(JStr(path.c_str()), JStr("f"), 0);
    ASSERT_NE(nullptr, info);
    EXPECT_EQ(GetParam().attributes & kAllPermissionBits, ReadRecord(info).attributes);
}

INSTANTIATE_TEST_SUITE_P(
    Words, PermissionWordTest,
    ::testing::Values(
        PermissionCase{kOwnerReadWrite | ATTR_GROUP_READ | ATTR_OTHERS_READ, 0644}, PermissionCase{0, 0},
        PermissionCase{ATTR_SET_UID | ATTR_OWNER_READ | ATTR_OWNER_EXECUTE, 04500},
        PermissionCase{ATTR_SET_GID | ATTR_GROUP_READ | ATTR_GROUP_EXECUTE, 02050},
        PermissionCase{ATTR_STICKY | ATTR_OTHERS_WRITE | ATTR_OTHERS_EXECUTE, 01003},
        PermissionCase{kAllPermissionBits, 07777},
        // Type, hidden and unassigned bits set no mode bit.
        PermissionCase{static_cast<jint>(0xF000FFFF) | ATTR_OWNER_READ, 0400}));

// Every bit of the mask set: a listing's records are all extended and carry
// every value (as a single file's do: InfoMaskTest).
TEST_F(RecordFieldsTest, InfoMaskWithEveryBitSetInAListing)
{
    const std::string file = dir_.WriteFile("file", "contents");
    dir_.WriteFile("other", "");
    ASSERT_EQ(0, mkdir((dir_ / "subdir").c_str(), 0755));
    struct stat st {};
    ASSERT_EQ(0, lstat(file.c_str(), &st));
    jobjectArray listed = natives::ListFileInfos(JStr((dir_.path() + "/").c_str()), -1, nullptr, 0);
    ExpectNoException();
    ASSERT_NE(nullptr, listed);
    int seen = 0;
    for (jsize i = 0; i < env()->GetArrayLength(listed); ++i) {
        Record record = ReadRecord(env()->GetObjectArrayElement(listed, i));
        EXPECT_TRUE(record.extended) << record.name;
        if (record.name != "file") {
            continue;
        }
        ++seen;
        EXPECT_EQ(st.st_mtim.tv_sec * 1000, record.modified);
        EXPECT_EQ(st.st_atim.tv_sec * 1000, record.accessed);
        EXPECT_EQ(0, record.created);
        EXPECT_EQ(static_cast<jint>(st.st_uid), record.owner);
        EXPECT_EQ(static_cast<jint>(st.st_gid), record.group);
        EXPECT_EQ(8, record.size);
    }
    EXPECT_EQ(1, seen);
}

} // namespace
