// The byte-at-a-time encoders' inner loops, which every build has and the
// vector loops are checked against, and the percent-encoder's byte table.
#pragma once

#include "ByteTexts.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace PercentEncoding {

// What each byte becomes: itself, or '%' and two hex digits.
struct EncodingTable {
    ByteTexts bytes;
    // The allowed set as a bitmap for the vector path: bit (b >> 4) & 7 of
    // rows[b >> 7][b & 15] is set when byte b stays.
    std::array<std::array<std::uint8_t, 16>, 2> rows;
};

// Writable bytes needed after the end of the text: the vector path stores
// sixteen bytes for a group of four that may need only four.
constexpr std::size_t ENCODE_SLACK = 16;

std::size_t encodedLengthScalar(std::string_view text, const EncodingTable& table);
// Writes the encoded text (no terminator) and returns its end; needs
// ENCODE_SLACK writable bytes after it.
char* encodeIntoScalar(std::string_view text, const EncodingTable& table, char* out);

}  // namespace PercentEncoding

namespace BodyEncodings {

// How many of the n bytes are at least 10 plus how many are at least 100:
// the digits a decimal byte list needs beyond one per byte. One byte at a
// time.
std::size_t extraDecimalDigitsScalar(const unsigned char* bytes, std::size_t n);

}  // namespace BodyEncodings
