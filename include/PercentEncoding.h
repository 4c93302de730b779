// Percent-encoding: the per-byte table built from an allowed set, the
// byte-at-a-time loops, and the four built-in sets.
#pragma once

#include "ByteTexts.h"
#include "EncoderKernels.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
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

// A null set or a count <= 0 is the empty set.
EncodingTable makeEncodingTable(const char* allowedCharacters, int allowedCount);

std::size_t encodedLengthScalar(std::string_view text, const EncodingTable& table);
// Writes the encoded text (no terminator) and returns its end; needs
// ENCODE_SLACK writable bytes after it.
char* encodeIntoScalar(std::string_view text, const EncodingTable& table, char* out);

// The encoded text as a string for the host.
std::unique_ptr<char[]> encodeForHost(std::string_view text, const EncodingTable& table, const EncoderKernels& kernels);

// Appends the encoded text to `out`.
void appendEncoded(std::string& out, std::string_view text, const EncodingTable& table, const EncoderKernels& kernels);

struct BuiltInSet {
    const char* characters;
    int count;
};

// The allowed set of a UrlStyle; any other value gives Inter's.
BuiltInSet builtInSet(int style);

}  // namespace PercentEncoding
