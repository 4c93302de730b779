// The encoders' inner loops as one table of functions, chosen once for the
// processor, and the byte-at-a-time table that every build has.
#pragma once

#include <cstddef>
#include <string_view>

namespace PercentEncoding {
struct EncodingTable;
}

struct EncoderKernels {
    const char* name;
    // How many bytes are at least 10 plus how many are at least 100.
    std::size_t (*extraDecimalDigits)(const unsigned char* bytes, std::size_t n);
    std::size_t (*percentEncodedLength)(std::string_view text, const PercentEncoding::EncodingTable& table);
    // Writes the encoded text and returns its end; needs
    // PercentEncoding::ENCODE_SLACK writable bytes after it.
    char* (*percentEncodeInto)(std::string_view text, const PercentEncoding::EncodingTable& table, char* out);
};

enum class KernelChoice { Fastest, Scalar };

// Fastest: the loops the exports use, the vector ones where this processor
// runs them, chosen at the first call (safely, whichever thread makes it).
// Scalar: the byte-at-a-time loops alone, which tests and fuzzers run
// beside them.
const EncoderKernels& encoderKernels(KernelChoice choice = KernelChoice::Fastest);
