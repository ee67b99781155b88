// The name codec: UTF-16 units to the bytes of a file name and back (see
// NameCodec.h for the mapping).

#include "NameCodec.h"

#include <cstdint>
#include <cstring>

namespace basefs {

size_t encodeJavaChars(const char16_t *chars, size_t count, char *out)
{
    char *const start = out;
    // Paths are mostly ASCII (U+0001..U+007F, one byte each): the run of
    // them is taken four units at a time before the general loop.
    size_t i = 0;
    while (i + 4 <= count) {
        std::uint64_t units;
        std::memcpy(&units, chars + i, sizeof units);
        // A unit above U+007F, or a unit U+0000 (lanes below 0x80 borrow only from a zero lane).
        if ((units & 0xFF80FF80FF80FF80u) != 0 ||
            ((units - 0x0001000100010001u) & ~units & 0x8000800080008000u) != 0) {
            break;
        }
#pragma GCC unroll 4
        for (size_t k = 0; k < 4; ++k) {
            out[i + k] = static_cast<char>(chars[i + k]);
        }
        i += 4;
    }
    out += i;
    for (; i < count; ++i) {
        const char16_t c = chars[i];
        if (c != 0 && c < 0x80) {
            *out++ = static_cast<char>(c);
        } else if (c < 0x800) { // U+0000 included, as 0xC0 0x80
            *out++ = static_cast<char>(0xC0 | (c >> 6));
            *out++ = static_cast<char>(0x80 | (c & 0x3F));
        } else if (isHighSurrogate(c) && i + 1 < count && isLowSurrogate(chars[i + 1])) {
            const char32_t codePoint =
                0x10000 + ((static_cast<char32_t>(c - kHighSurrogateFirst) << 10) | (chars[i + 1] - kLowSurrogateFirst));
            *out++ = static_cast<char>(0xF0 | (codePoint >> 18));
            *out++ = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
            *out++ = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
            ++i;
        } else if (c >= kEscapedByteFirst && c <= kEscapedByteLast) {
            *out++ = static_cast<char>(c - kLowSurrogateFirst);
        } else {
            *out++ = static_cast<char>(0xE0 | (c >> 12));
            *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    *out = '\0';
    return static_cast<size_t>(out - start);
}

size_t decodeNameBytes(const char *bytes, size_t count, char16_t *out)
{
    const auto *in = reinterpret_cast<const unsigned char *>(bytes);
    char16_t *const start = out;
    // Names are mostly ASCII: the run of bytes below 0x80 is taken eight at a
    // time before the general loop.
    size_t i = 0;
    while (i + 8 <= count) {
        std::uint64_t eight;
        std::memcpy(&eight, in + i, sizeof eight);
        if ((eight & 0x8080808080808080u) != 0) {
            break;
        }
#pragma GCC unroll 8
        for (size_t k = 0; k < 8; ++k) {
            out[i + k] = in[i + k];
        }
        i += 8;
    }
    out += i;
    while (i < count) {
        const unsigned char lead = in[i];
        if (lead < 0x80) {
            *out++ = lead;
            ++i;
            continue;
        }
        // Length and the range of the first continuation byte, which rules
        // out overlong forms, surrogates and code points above U+10FFFF.
        size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        char32_t codePoint = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            codePoint = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            codePoint = lead & 0x0F;
            low = lead == 0xE0 ? 0xA0 : low;
            high = lead == 0xED ? 0x9F : high;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            codePoint = lead & 0x07;
            low = lead == 0xF0 ? 0x90 : low;
            high = lead == 0xF4 ? 0x8F : high;
        }
        size_t taken = 1;
        while (taken < length && i + taken < count) {
            const unsigned char next = in[i + taken];
            if (next < low || next > high) {
                break;
            }
            codePoint = (codePoint << 6) | (next & 0x3F);
            low = 0x80;
            high = 0xBF;
            ++taken;
        }
        if (taken < length || length == 0) {
            // Escape what was taken; decoding resumes at the byte that broke the sequence.
            for (size_t k = 0; k < taken; ++k) {
                *out++ = static_cast<char16_t>(kLowSurrogateFirst + in[i + k]);
            }
            i += taken;
            continue;
        }
        if (codePoint >= 0x10000) {
            codePoint -= 0x10000;
            *out++ = static_cast<char16_t>(kHighSurrogateFirst + (codePoint >> 10));
            *out++ = static_cast<char16_t>(kLowSurrogateFirst + (codePoint & 0x3FF));
        } else {
            *out++ = static_cast<char16_t>(codePoint);
        }
        i += length;
    }
    return static_cast<size_t>(out - start);
}

} // namespace basefs
