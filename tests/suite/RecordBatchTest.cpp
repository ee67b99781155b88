// The batch that ListingRecords turns into records in compiled Java, and how
// nInitStatic chooses between that and JNI. The suite runs twice: with the
// library's jar (records made in Java) and without its record-making class
// (through JNI).
#include "JniFaults.h"
#include "JvmHarness.h"

#include "FileRecords.h"
#include "FileSystemCommon.h"
#include "NameCodec.h"

#include <dirent.h>
#include <sys/stat.h>

#include <limits>
#include <string>
#include <tuple>

namespace {

using namespace jvmtest;

constexpr const char *kRecordMaker = "com/quenvira/internal/io/ListingRecords";

class RecordMakerTest : public JvmTest {
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
TEST_F(RecordMakerTest, ListingsMakeRecordsInJavaWhereTheLibrarysClassIsThere)
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

TEST_F(RecordMakerTest, MakerIsJniUnlessTheClassServesAndFailsOnlyOnOtherErrors)
{
    const MakerCase cases[] = {
        {"com/quenvira/test/RecordMakers$Missing", basefs::RecordMaker::kJni, nullptr},
        {"com/quenvira/test/RecordMakers$OtherLayout", basefs::RecordMaker::kJni, nullptr},
        {"com/quenvira/test/RecordMakers$NoMake", basefs::RecordMaker::kJni, nullptr},
        {"com/quenvira/test/RecordMakers$FailingInitialiser", basefs::RecordMaker::kJni, nullptr},
        {"com/quenvira/test/RecordMakers$CannotMake", basefs::RecordMaker::kJni, nullptr},
        {"com/quenvira/test/RecordMakers$NoFactories", basefs::RecordMaker::kJni, nullptr},
        {"com/quenvira/test/RecordMakers$OtherRecordClasses", basefs::RecordMaker::kJni, nullptr},
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

TEST_F(RecordMakerTest, CompiledJavaNeedsPublicRecordsOfOneHierarchy)
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

// ---- The batch --------------------------------------------------------------------

class RecordBatchTest : public RecordMakerTest {
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

// ---- One record by the maker's factories --------------------------------------------

// Runs `body` with the records room pointed at `maker`'s factories, looked up
// as nInitStatic does, and trusted; puts back what it found.
template <typename Body> void WithFactories(JNIEnv *env, jclass maker, Body body)
{
    const jclass savedMaker = basefs::g_ClassRecordMaker;
    const jmethodID savedPlain = basefs::g_MethodMakeRecord;
    const jmethodID savedExtended = basefs::g_MethodMakeExtendedRecord;
    const bool savedDistrust = basefs::g_makerDistrusted.exchange(false);
    basefs::g_ClassRecordMaker = maker;
    basefs::g_MethodMakeRecord = env->GetStaticMethodID(maker, "record", basefs::kMakeRecordSignature);
    basefs::g_MethodMakeExtendedRecord =
        env->GetStaticMethodID(maker, "extendedRecord", basefs::kMakeExtendedRecordSignature);
    EXPECT_NE(nullptr, basefs::g_MethodMakeRecord);
    EXPECT_NE(nullptr, basefs::g_MethodMakeExtendedRecord);
    body();
    basefs::g_ClassRecordMaker = savedMaker;
    basefs::g_MethodMakeRecord = savedPlain;
    basefs::g_MethodMakeExtendedRecord = savedExtended;
    basefs::g_makerDistrusted.store(savedDistrust);
}

// The record as JNI makes it: same class, same fields.
void ExpectJniRecord(JNIEnv *env, jstring name, const basefs::RecordFields &fields, bool extended, jobject made)
{
    ASSERT_NE(nullptr, made);
    jobject expected = basefs::newRecord(env, name, fields, extended);
    EXPECT_TRUE(env->IsSameObject(env->GetObjectClass(expected), env->GetObjectClass(made)));
    auto key = [](const Record &r) {
        return std::make_tuple(r.name, r.attributes, r.size, r.modified, r.extended, r.accessed, r.created, r.owner,
                               r.group);
    };
    EXPECT_EQ(key(ReadRecord(expected)), key(ReadRecord(made)));
}

TEST_F(RecordMakerTest, FactoriesMakeTheRecordsJniMakesAndNullIsNoRecord)
{
    struct stat st {};
    st.st_mode = S_IFLNK | S_ISVTX | 0640;
    st.st_size = std::numeric_limits<off_t>::max();
    st.st_mtime = -1;
    st.st_atime = 7;
    st.st_uid = 4294967295u; // read back as -1
    st.st_gid = 65534;
    jstring name = JStr(".name");
    const jint masks[] = {INFO_ACCESSED | INFO_OWNER | INFO_GROUP, 0};
    if (jclass maker = RecordMakerClass(); maker != nullptr) {
        WithFactories(env(), maker, [&] {
            for (const jint mask : masks) {
                SCOPED_TRACE(mask);
                ExpectJniRecord(env(), name, basefs::recordFields(st, true, mask), mask != 0,
                                basefs::newFileInfo(env(), st, name, true, mask));
                ExpectNoException();
            }
            EXPECT_TRUE(basefs::recordsMadeInJava());
        });
    }
    // A class of the maker's name from elsewhere whose factories return no
    // record: JNI makes it, and all that follow.
    jclass nothing = env()->FindClass("com/quenvira/test/RecordMakers$OtherRecordClasses");
    ASSERT_NE(nullptr, nothing);
    WithFactories(env(), nothing, [&] {
        for (const jint mask : masks) {
            SCOPED_TRACE(mask);
            ExpectJniRecord(env(), name, basefs::recordFields(st, true, mask), mask != 0,
                            basefs::newFileInfo(env(), st, name, true, mask));
            ExpectNoException();
            EXPECT_FALSE(basefs::recordsMadeInJava());
        }
    });
    EXPECT_EQ(1, env()->GetStaticIntField(nothing, env()->GetStaticFieldID(nothing, "calls", "I")));
}

// A record the factory cannot make fails as the constructor's failure does
// through JNI: its exception pending, no record, the maker still trusted.
TEST_F(RecordMakerTest, AFactorysExceptionIsTheCallersAndNoRecordIsMade)
{
    jclass maker = env()->FindClass("com/quenvira/test/RecordMakers$FactoryThrows");
    ASSERT_NE(nullptr, maker);
    WithFactories(env(), maker, [&] {
        for (const bool extended : {false, true}) {
            EXPECT_EQ(nullptr, basefs::makeRecord(env(), JStr("f"), basefs::RecordFields{}, extended));
            ExpectException("java.lang.IllegalStateException", extended ? "extended" : "plain");
        }
        EXPECT_TRUE(basefs::recordsMadeInJava());
    });
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

} // namespace
