// Percent-encoding: allowed-set tables, the byte-at-a-time loops and the built-in sets.
#include "PercentEncoding.h"

#include "HostStrings.h"
#include "StringHelper.h"

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
