// The conversions between Java strings and the bytes of file names.
#include <gtest/gtest.h>

#include "NameCodec.h"

#include <random>
#include <string>
#include <vector>

namespace {

using basefs::decodeNameBytes;
using basefs::encodeJavaChars;

std::string Encode(const std::u16string &text)
{
    std::vector<char> out(text.size() * basefs::kMaxBytesPerJavaChar + 1, 'x');
    size_t length = encodeJavaChars(text.data(), text.size(), out.data());
    EXPECT_EQ('\0', out[length]);
    return std::string(out.data(), length);
}

std::u16string Decode(const std::string &bytes)
{
    std::u16string out(bytes.size(), u'\0');
    size_t length = decodeNameBytes(bytes.data(), bytes.size(), out.data());
    out.resize(length);
    return out;
}

struct CodecCase {
    const char *what;
    std::u16string text;
    std::string bytes;
};

// Pairs that convert exactly into each other, in both directions.
const CodecCase kBothWays[] = {
    {"ascii", u"abc/def.txt", "abc/def.txt"},
    {"two-byte", u"caf\u00e9", "caf\xc3\xa9"},
    {"three-byte", u"\u20ac\u4e2d", "\xe2\x82\xac\xe4\xb8\xad"},
    {"supplementary", u"a\U0001F600b", "a\xf0\x9f\x98\x80" "b"},
    {"highest code point", u"\U0010FFFF", "\xf4\x8f\xbf\xbf"},
    {"not UTF-8 byte", u"f\xdcff.t", "f\xff.t"},
    {"lone continuation", u"\xdc80", "\x80"},
    {"truncated sequence", u"\xdce2\xdc82", "\xe2\x82"},
    {"broken by ASCII", u"\xdce2\xdc82" u"A", "\xe2\x82" "A"},
    {"overlong NUL", u"\xdcc0\xdc80", "\xc0\x80"},
    {"overlong three-byte", u"\xdce0\xdc80\xdcaf", "\xe0\x80\xaf"},
    {"encoded surrogate", u"\xdced\xdca0\xdc80", "\xed\xa0\x80"},
    {"above U+10FFFF", u"\xdcf4\xdc90\xdc80\xdc80", "\xf4\x90\x80\x80"},
    {"invalid lead", u"\xdcf8\xdc88", "\xf8\x88"},
    {"broken then valid", u"\xdce2\u00e9", "\xe2\xc3\xa9"},
};

TEST(NameCodecTest, ConvertsBothWays)
{
    for (const CodecCase &c : kBothWays) {
        EXPECT_EQ(c.bytes, Encode(c.text)) << c.what;
        EXPECT_EQ(c.text, Decode(c.bytes)) << c.what;
    }
}

// Java strings that no name decodes to still encode as modified UTF-8 does.
TEST(NameCodecTest, EncodesWhatDecodingNeverMakesAsModifiedUtf8)
{
    const CodecCase cases[] = {
        {"U+0000 never cuts the path", std::u16string(u"a\0b", 3), std::string("a\xc0\x80" "b")},
        {"lone high surrogate", u"\xd83d", "\xed\xa0\xbd"},
        {"lone low surrogate below the escapes", u"\xdc7f", "\xed\xb1\xbf"},
        {"lone low surrogate above the escapes", u"\xde00", "\xed\xb8\x80"},
        {"reversed pair", u"\xde00\xd83d", "\xed\xb8\x80\xed\xa0\xbd"},
    };
    for (const CodecCase &c : cases) {
        EXPECT_EQ(c.bytes, Encode(c.text)) << c.what;
    }
}

TEST(NameCodecTest, RandomBytesRoundTrip)
{
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> byte(1, 255);
    std::uniform_int_distribution<int> length(0, 40);
    for (int round = 0; round < 20000; ++round) {
        std::string bytes(static_cast<size_t>(length(random)), '\0');
        for (char &b : bytes) {
            b = static_cast<char>(byte(random));
        }
        ASSERT_EQ(bytes, Encode(Decode(bytes)));
    }
}

TEST(NameCodecTest, RandomWellFormedStringsRoundTrip)
{
    std::mt19937 random(8122026);
    std::uniform_int_distribution<char32_t> codePoint(1, 0x10FFFF);
    for (int round = 0; round < 20000; ++round) {
        std::u16string text;
        for (int i = 0; i < 12; ++i) {
            char32_t c = codePoint(random);
            if (c >= 0xD800 && c <= 0xDFFF) {
                continue;
            }
            if (c >= 0x10000) {
                text += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
                text += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
            } else {
                text += static_cast<char16_t>(c);
            }
        }
        ASSERT_EQ(text, Decode(Encode(text)));
    }
}

} // namespace
