// Strings that fill the library's conversion buffers to the last byte: the
// widest encoding of a path (three bytes per UTF-16 unit) and the widest
// decoding of a name (one unit per byte), each just inside and just past the
// buffer in the call's frame. In the sanitizer build a byte written past a
// buffer ends the run; here every string must also come back unchanged.
#include "JniBridge.h"
#include "JvmHarness.h"

#include <unistd.h>

#include <string>

namespace {

using namespace jvmtest;

// Paths of up to this many UTF-16 units convert in the frame; longer ones on the heap.
constexpr size_t kInlinePathUnits = basefs::JavaPath::kInlineUnits;
// Names (link targets) of up to this many bytes decode in the frame.
constexpr size_t kInlineNameBytes = basefs::kInlineNameBytes;
constexpr size_t kReadBufferSize = 8192;

// U+4E2D, a character of three bytes in UTF-8.
constexpr char16_t kWideChar = u'\u4e2d';
const std::string kWideCharBytes = "\xe4\xb8\xad";
// U+DCFF stands for the raw byte 0xFF, which is not UTF-8.
constexpr char16_t kEscapedByte = u'\xdcff';

std::string Repeat(const std::string &bytes, size_t count)
{
    std::string result;
    for (size_t i = 0; i < count; ++i) {
        result += bytes;
    }
    return result;
}

struct BoundsCase {
    const char *name;
    std::u16string target;      // the link target as Java passes it
    std::string expectedBytes;  // what the file system stores
};

class BufferBoundsTest : public JvmTest, public ::testing::WithParamInterface<BoundsCase> {
protected:
    TempDir dir_;
};

TEST_P(BufferBoundsTest, LinkTargetRoundTrips)
{
    const BoundsCase &c = GetParam();
    const std::string link = dir_ / "link";

    natives::CreateSymbolicLink(JStr(link.c_str()), JStr16(c.target));
    auto thrown = TakeException();
    ASSERT_FALSE(thrown.has_value()) << thrown->className << ": " << thrown->message;

    std::string stored(kReadBufferSize, '\0');
    const ssize_t length = readlink(link.c_str(), stored.data(), stored.size());
    ASSERT_GE(length, 0);
    stored.resize(static_cast<size_t>(length));
    EXPECT_EQ(c.expectedBytes, stored);

    jstring target = natives::ReadSymbolicLink(JStr(link.c_str()));
    thrown = TakeException();
    ASSERT_FALSE(thrown.has_value()) << thrown->className << ": " << thrown->message;
    ASSERT_NE(nullptr, target);
    EXPECT_EQ(c.target, StdStr16(target));
}

INSTANTIATE_TEST_SUITE_P(
    Widest, BufferBoundsTest,
    ::testing::Values(
        BoundsCase{"PathFillsTheFrameBuffer", std::u16string(kInlinePathUnits, kWideChar),
                   Repeat(kWideCharBytes, kInlinePathUnits)},
        BoundsCase{"PathOneUnitPastTheFrameBuffer", std::u16string(kInlinePathUnits + 1, kWideChar),
                   Repeat(kWideCharBytes, kInlinePathUnits + 1)},
        BoundsCase{"NameFillsTheFrameBuffer", std::u16string(kInlineNameBytes, kEscapedByte),
                   std::string(kInlineNameBytes, '\xff')},
        BoundsCase{"NameOneBytePastTheFrameBuffer", std::u16string(kInlineNameBytes + 1, kEscapedByte),
                   std::string(kInlineNameBytes + 1, '\xff')}),
    [](const ::testing::TestParamInfo<BoundsCase> &info) { return info.param.name; });

} // namespace
