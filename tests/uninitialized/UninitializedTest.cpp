// Before nInitStatic every entry point only throws "Not initialized", without
// looking at its arguments (they are all null or zero here), and returns its
// neutral result. Every row of the table of entry points but nInitStatic, the
// initialisation itself.
#include "EntryPoints.h"
#include "JvmHarness.h"

#include "FileSystemCommon.h"

#include <cstring>
#include <vector>

namespace {

using namespace jvmtest;

std::vector<EntryPoint> AllButInitialisation()
{
    std::vector<EntryPoint> rows;
    for (const EntryPoint &entryPoint : kEntryPoints) {
        if (std::strcmp(entryPoint.name, "nInitStatic") != 0) {
            rows.push_back(entryPoint);
        }
    }
    return rows;
}

class UninitializedTest : public JvmTest, public ::testing::WithParamInterface<EntryPoint> {};

TEST_P(UninitializedTest, ThrowsNotInitialized)
{
    EXPECT_TRUE(GetParam().call(env(), nullptr, nullptr, nullptr)) << "no neutral result";
    auto thrown = TakeException();
    ASSERT_TRUE(thrown.has_value());
    EXPECT_EQ("java.lang.IllegalStateException", thrown->className);
    EXPECT_EQ("Not initialized", thrown->message);
    EXPECT_EQ(INIT_NOT_RUN, g_InitRes);
}

INSTANTIATE_TEST_SUITE_P(EntryPoints, UninitializedTest, ::testing::ValuesIn(AllButInitialisation()),
                         EntryPointName);

} // namespace
