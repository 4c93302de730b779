// The byte-at-a-time inner loops of the percent-encoder and the decimal byte lists.
#include "ScalarEncoders.h"

#include <cstring>

namespace PercentEncoding {

std::size_t encodedLengthScalar(std::string_view text, const EncodingTable& table) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    const auto& entries = table.bytes;
    // Eight bytes per load, split by shifts: a plain loop over bytes gets
    // vectorised into emulated gathers that run at half the speed.
    std::size_t low = 0, high = 0;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        low += entries[word & 0xFF].length + entries[(word >> 8) & 0xFF].length + entries[(word >> 16) & 0xFF].length +
               entries[(word >> 24) & 0xFF].length;
        high += entries[(word >> 32) & 0xFF].length + entries[(word >> 40) & 0xFF].length +
                entries[(word >> 48) & 0xFF].length + entries[word >> 56].length;
    }
    for (; i < n; ++i) low += entries[bytes[i]].length;
    return low + high;
}

char* encodeIntoScalar(std::string_view text, const EncodingTable& table, char* out) {
    for (const char c : text) {
        const EncodedByte encoded = table.bytes[static_cast<unsigned char>(c)];
        std::memcpy(out, encoded.text.data(), 4);
        out += encoded.length;
    }
    return out;
}

}  // namespace PercentEncoding

namespace BodyEncodings {

std::size_t extraDecimalDigitsScalar(const unsigned char* bytes, std::size_t n) {
    std::size_t extra = 0;
    for (std::size_t i = 0; i < n; ++i) extra += (bytes[i] >= 10 ? 1U : 0U) + (bytes[i] >= 100 ? 1U : 0U);
    return extra;
}

}  // namespace BodyEncodings
