// Percent-encoding: allowed-set tables, the byte-at-a-time loops and the built-in sets.
#include "PercentEncoding.h"

#include "HostStrings.h"
#include "StringHelper.h"
#include "TarnwellDll.h"

#include <cstring>

namespace PercentEncoding {

EncodingTable makeEncodingTable(const char* allowedCharacters, int allowedCount) {
    std::array<bool, 256> allowed{};
    for (int i = 0; allowedCharacters != nullptr && i < allowedCount; ++i) {
        allowed[static_cast<unsigned char>(allowedCharacters[i])] = true;
    }
    // A count that takes in the set's terminator must not let a zero byte
    // through: the host would read the result only up to it.
    allowed[0] = false;
    static const char* const HEX = StringHelper::HEX_CHARACTERS;
    EncodingTable table{};
    for (int b = 0; b < 256; ++b) {
        table.bytes[b] = allowed[b] ? EncodedByte{{static_cast<char>(b), 0, 0, 0}, 1}
                                    : EncodedByte{{'%', HEX[b >> 4], HEX[b & 0x0F], 0}, 3};
        if (allowed[b]) table.rows[b >> 7][b & 15] |= static_cast<std::uint8_t>(1U << ((b >> 4) & 7));
    }
    return table;
}

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

std::unique_ptr<char[]> encodeForHost(std::string_view text, const EncodingTable& table,
                                      const EncoderKernels& kernels) {
    const std::size_t length = kernels.percentEncodedLength(text, table);
    auto encoded = HostStrings::newHostString(length, ENCODE_SLACK);
    kernels.percentEncodeInto(text, table, encoded.get());
    encoded[length] = '\0';
    return encoded;
}

void appendEncoded(std::string& out, std::string_view text, const EncodingTable& table, const EncoderKernels& kernels) {
    const std::size_t start = out.size();
    const std::size_t length = kernels.percentEncodedLength(text, table);
    out.resize(start + length + ENCODE_SLACK);
    kernels.percentEncodeInto(text, table, out.data() + start);
    out.resize(start + length);
}

BuiltInSet builtInSet(int style) {
    switch (static_cast<UrlStyle>(style)) {
        case UrlStyle::JS: return {StringHelper::ALLOWED_CHARACTERS_JS, StringHelper::ALLOWED_COUNT_JS};
        case UrlStyle::Lax: return {StringHelper::ALLOWED_CHARACTERS_LAX, StringHelper::ALLOWED_COUNT_LAX};
        case UrlStyle::VeryLax: return {StringHelper::ALLOWED_CHARACTERS_VERYLAX, StringHelper::ALLOWED_COUNT_VERYLAX};
        default: return {StringHelper::ALLOWED_CHARACTERS_INTER, StringHelper::ALLOWED_COUNT_INTER};
    }
}

}  // namespace PercentEncoding

std::string percentEncode(std::string_view text, const char* allowedCharacters, int allowedCount,
                          const EncoderKernels& kernels) {
    std::string out;
    PercentEncoding::appendEncoded(out, text, PercentEncoding::makeEncodingTable(allowedCharacters, allowedCount),
                                   kernels);
    return out;
}
