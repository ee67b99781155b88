// libFuzzer target for the name conversions: bytes -> Java -> bytes must give
// back any bytes without NUL, and Java -> bytes -> Java any well-formed string.
#include "NameCodec.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

void checkBytesRoundTrip(const uint8_t *data, size_t size)
{
    std::vector<char> bytes;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != 0) { // no name or path holds NUL
            bytes.push_back(static_cast<char>(data[i]));
        }
    }
    std::vector<char16_t> chars(bytes.size());
    size_t count = basefs::decodeNameBytes(bytes.data(), bytes.size(), chars.data());
    std::vector<char> again(count * basefs::kMaxBytesPerJavaChar + 1);
    size_t length = basefs::encodeJavaChars(chars.data(), count, again.data());
    // An empty vector may hold no storage at all: memcmp is not for null pointers.
    if (length != bytes.size() || (length > 0 && std::memcmp(again.data(), bytes.data(), length) != 0)) {
        __builtin_trap();
    }
}

void checkStringRoundTrip(const uint8_t *data, size_t size)
{
    // Read the input as UTF-16 and keep it well formed: no U+0000, no lone surrogates.
    std::vector<char16_t> text;
    for (size_t i = 0; i + 1 < size; i += 2) {
        auto c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        bool pairs = basefs::isHighSurrogate(c) && i + 3 < size &&
                     basefs::isLowSurrogate(static_cast<char16_t>(data[i + 2] | (data[i + 3] << 8)));
        if (pairs) {
            text.push_back(c);
            text.push_back(static_cast<char16_t>(data[i + 2] | (data[i + 3] << 8)));
            i += 2;
        } else if (c != 0 && !basefs::isHighSurrogate(c) && !basefs::isLowSurrogate(c)) {
            text.push_back(c);
        }
    }
    std::vector<char> bytes(text.size() * basefs::kMaxBytesPerJavaChar + 1);
    size_t length = basefs::encodeJavaChars(text.data(), text.size(), bytes.data());
    std::vector<char16_t> again(length);
    size_t count = basefs::decodeNameBytes(bytes.data(), length, again.data());
    if (count != text.size() ||
        (count > 0 && std::memcmp(again.data(), text.data(), count * sizeof(char16_t)) != 0)) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    checkBytesRoundTrip(data, size);
    checkStringRoundTrip(data, size);
    return 0;
}
