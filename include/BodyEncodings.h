// The response body as the host asks for it: raw, base64, or a list of
// decimal or hexadecimal byte values.
#pragma once

#include <cstddef>

namespace BodyEncodings {

// How many of the n bytes are at least 10 plus how many are at least 100:
// the digits a decimal byte list needs beyond one per byte. One byte at a
// time.
std::size_t extraDecimalDigitsScalar(const unsigned char* bytes, std::size_t n);

}  // namespace BodyEncodings
