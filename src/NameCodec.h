// File names between UTF-16 (a Java string's units) and bytes.
//
// Linux names are bytes, in practice UTF-8, while JNI's own conversions speak
// modified UTF-8, which encodes characters outside the Basic Multilingual
// Plane as two 3-byte surrogates and cannot carry bytes that are not UTF-8.
// These two conversions keep every name intact both ways:
// - UTF-16 to bytes: as modified UTF-8 (U+0000 stays 0xC0 0x80, so a path is
//   never cut short), except that a surrogate pair becomes its 4-byte UTF-8
//   sequence and a lone U+DC80..U+DCFF becomes the single byte 0x80..0xFF.
// - Bytes to UTF-16: UTF-8 (shortest form, no surrogates, at most U+10FFFF);
//   each byte of an invalid sequence, up to the first byte that cannot
//   continue it, becomes U+DC00 + byte. Bytes below 0x80 are never escaped.
// Encoding a decoded name gives back exactly its bytes.
//
// Pure functions of memory, without JNI: the library and the fuzzer build the
// same object.
#ifndef BASEFS_NAME_CODEC_H
#define BASEFS_NAME_CODEC_H

#include <cstddef>

namespace basefs {

// Worst case of the encoding: three bytes for one UTF-16 unit.
inline constexpr size_t kMaxBytesPerJavaChar = 3;

inline constexpr char16_t kHighSurrogateFirst = 0xD800;
inline constexpr char16_t kLowSurrogateFirst = 0xDC00;
inline constexpr char16_t kLowSurrogateLast = 0xDFFF;
// Lone low surrogates U+DC80..U+DCFF stand for the raw bytes 0x80..0xFF.
inline constexpr char16_t kEscapedByteFirst = 0xDC80;
inline constexpr char16_t kEscapedByteLast = 0xDCFF;

inline constexpr bool isHighSurrogate(char16_t c) { return c >= kHighSurrogateFirst && c < kLowSurrogateFirst; }
inline constexpr bool isLowSurrogate(char16_t c) { return c >= kLowSurrogateFirst && c <= kLowSurrogateLast; }

// Encodes count UTF-16 units into out, which has room for
// count * kMaxBytesPerJavaChar + 1 bytes; NUL-terminates and returns the
// number of bytes before the NUL.
size_t encodeJavaChars(const char16_t *chars, size_t count, char *out);

// Decodes count bytes into out, which has room for count UTF-16 units (no
// byte yields more than one); returns the number of units written.
size_t decodeNameBytes(const char *bytes, size_t count, char16_t *out);

} // namespace basefs

#endif // BASEFS_NAME_CODEC_H
