// The x86 vector versions of the encoders' inner loops. TW_X86_VECTORS is
// defined where they exist; everywhere else only the scalar loops are built.
#pragma once

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TW_X86_VECTORS 1
#endif

#ifdef TW_X86_VECTORS

#include "ScalarEncoders.h"

#include <cstddef>
#include <string_view>

namespace VectorEncoders {

// Same results as BodyEncodings::extraDecimalDigitsScalar.
std::size_t extraDecimalDigitsSse2(const unsigned char* bytes, std::size_t n);

// Whether the processor has what the two functions below need.
bool hasByteShuffles();
// Same results as their PercentEncoding::...Scalar twins.
std::size_t encodedLengthSsse3(std::string_view text, const PercentEncoding::EncodingTable& table);
char* encodeIntoSsse3(std::string_view text, const PercentEncoding::EncodingTable& table, char* out);

}  // namespace VectorEncoders

#endif
