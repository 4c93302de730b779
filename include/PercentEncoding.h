// Percent-encoding: the per-byte table built from an allowed set, the
// byte-at-a-time loops, and the four built-in sets.
#pragma once

#include "EncoderKernels.h"
#include "ScalarEncoders.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// The built-in allowed sets, by the numbers the host passes as style.
enum class UrlStyle { JS = 0, Inter = 1, Lax = 2, VeryLax = 3 };

// Every byte of text, zero bytes included, encoded with the allowed set
// (a null set or a count <= 0 is the empty set).
std::string percentEncode(std::string_view text, const char* allowedCharacters, int allowedCount,
                          const EncoderKernels& kernels = encoderKernels());

namespace PercentEncoding {

// A null set or a count <= 0 is the empty set.
EncodingTable makeEncodingTable(const char* allowedCharacters, int allowedCount);

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
