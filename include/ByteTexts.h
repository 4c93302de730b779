// The per-byte text tables that the body encoders and the percent-encoder
// write from.
#pragma once

#include <array>
#include <cstdint>

// What one byte becomes in an encoded text. Writers copy all four bytes
// of an entry and move on by its length (a fixed-size copy is much faster
// than a variable one), so they need a few writable bytes of slack after
// the end of the text. They copy the entry into a local first: the
// compiler cannot tell that the store does not change the table, and
// would read the length again after it.
struct EncodedByte {
    std::array<char, 4> text;
    std::uint32_t length;
};
using ByteTexts = std::array<EncodedByte, 256>;
