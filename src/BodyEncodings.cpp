// The response body encodings: decimal and hexadecimal byte lists, base64 and raw.
#include "BodyEncodings.h"

#include "ByteTexts.h"
#include "HostStrings.h"
#include "base64.h"

#include <cstring>
#include <utility>

using HostStrings::newHostString;

namespace {

// Every byte value as a separator followed by its digits.
constexpr ByteTexts makeDecimalTexts(char separator) {
    ByteTexts table{};
    for (int b = 0; b < 256; ++b) {
        const int digits = b >= 100 ? 3 : b >= 10 ? 2 : 1;
        table[b].text[0] = separator;
        int v = b;
        for (int i = digits; i >= 1; --i, v /= 10) table[b].text[i] = static_cast<char>('0' + v % 10);
        table[b].length = static_cast<std::uint32_t>(1 + digits);
    }
    return table;
}

constexpr ByteTexts makeHexTexts(char separator) {
    ByteTexts table{};
    for (int b = 0; b < 256; ++b) {
        table[b] = {{separator, "0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 0x0F], 0}, 3};
    }
    return table;
}

constexpr ByteTexts DECIMAL_SPACES = makeDecimalTexts(' ');
constexpr ByteTexts DECIMAL_COMMAS = makeDecimalTexts(',');
constexpr ByteTexts HEX_SPACES = makeHexTexts(' ');
constexpr ByteTexts HEX_COMMAS = makeHexTexts(',');

// One digit and one separator per byte, no separator after the last, plus
// the second and third digits.
std::size_t decimalLength(const unsigned char* bytes, std::size_t n, const EncoderKernels& kernels) {
    return 2 * n - 1 + kernels.extraDecimalDigits(bytes, n);
}

// n > 0. The first byte is written without its separator.
std::unique_ptr<char[]> encodeByteList(const unsigned char* bytes, std::size_t n, std::size_t length,
                                       const ByteTexts& table) {
    auto text = newHostString(length, 3);
    char* out = text.get();
    const EncodedByte first = table[bytes[0]];
    std::memcpy(out, first.text.data() + 1, 3);
    out += first.length - 1;
    for (std::size_t i = 1; i < n; ++i) {
        const EncodedByte entry = table[bytes[i]];
        std::memcpy(out, entry.text.data(), 4);
        out += entry.length;
    }
    text[length] = '\0';
    return text;
}

std::unique_ptr<char[]> encodeBase64(const unsigned char* bytes, std::size_t n) {
    auto text = newHostString(base64_encoded_length(n));
    base64_encode_into(bytes, n, text.get(), false);
    return text;
}

}  // namespace


namespace {

const std::pair<const char*, ResponseEncoding> NAMED_ENCODINGS[] = {
    {"raw", ResponseEncoding::Raw},
    {"base64", ResponseEncoding::Base64},
    {"decimalSpaces", ResponseEncoding::DecimalSpaces},
    {"decimalCommas", ResponseEncoding::DecimalCommas},
    {"hexSpaces", ResponseEncoding::HexSpaces},
    {"hexCommas", ResponseEncoding::HexCommas},
};

}  // namespace

std::optional<ResponseEncoding> namedResponseEncoding(std::string_view name) {
    for (const auto& [encodingName, encoding] : NAMED_ENCODINGS) {
        if (name == encodingName) return encoding;
    }
    return std::nullopt;
}

std::string responseEncodingNames() {
    std::string names;
    for (const auto& named : NAMED_ENCODINGS) names += (names.empty() ? "\"" : ", \"") + std::string(named.first) + "\"";
    return names;
}

std::optional<ResponseEncoding> numberedResponseEncoding(int number) {
    switch (number) {
        case 0: return ResponseEncoding::Raw;
        case 1: return ResponseEncoding::Base64;
        case 2: return ResponseEncoding::DecimalSpaces;
        case 3: return ResponseEncoding::DecimalCommas;
        case 4: return ResponseEncoding::HexSpaces;
        case 5: return ResponseEncoding::HexCommas;
        default: return std::nullopt;
    }
}

std::unique_ptr<char[]> encodeResponseBody(const std::string& body, ResponseEncoding encoding,
                                           const EncoderKernels& kernels) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(body.data());
    const std::size_t n = body.size();
    if (n == 0) return newHostString(0);
    switch (encoding) {
        case ResponseEncoding::Base64: return encodeBase64(bytes, n);
        case ResponseEncoding::DecimalSpaces:
            return encodeByteList(bytes, n, decimalLength(bytes, n, kernels), DECIMAL_SPACES);
        case ResponseEncoding::DecimalCommas:
            return encodeByteList(bytes, n, decimalLength(bytes, n, kernels), DECIMAL_COMMAS);
        case ResponseEncoding::HexSpaces: return encodeByteList(bytes, n, 3 * n - 1, HEX_SPACES);
        case ResponseEncoding::HexCommas: return encodeByteList(bytes, n, 3 * n - 1, HEX_COMMAS);
        case ResponseEncoding::Raw: break;
    }
    return HostStrings::copyForHost(body);
}
